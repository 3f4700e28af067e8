// Which reader a table's file type selects, and its creation.
#pragma once

#include <QString>

class baseReader;

enum class ReaderKind { Grib, Cpefs, GrapsCm, CpasBin, CctvEc, Latlon, TjwrfNc };

// The file type is compared exactly; empty text, "grib" and any type not
// listed select the GRIB reader.
ReaderKind readerKindFor(const QString& fileType);

// Class name of the reader, for messages.
const char* readerClassName(ReaderKind kind);

// A new reader of that kind.
baseReader* createReader(ReaderKind kind);
