#pragma once

#include <QString>

// The directory of the running executable: config/, log/ and libcumulex.so
// are found here, never through the working directory.
QString programDirectory();
