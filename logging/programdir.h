#pragma once

#include <QString>

// The directory of the running executable: config/, log/ and libcumulex.so
// are found here, never through the working directory.
QString programDirectory();

// What a path that exists is when it is not a regular file (after symbolic
// links): "a directory", "a FIFO", "a character device", "a block device",
// "a socket"; empty for a regular file or a path that cannot be examined.
QString notARegularFile(const QString& path);
