// Reading the keys of a GRIB message through ecCodes' GRIB API: reads that
// must succeed, texts of any length, and the grid facts the reader checks
// before it lets ecCodes decode a field.
#pragma once

#include <QString>

#include <grib_api.h>

#include <string>

namespace gribkeys {

// A call that must succeed: a failure ends the run (status 255) with
// ecCodes' message naming what was done ("reading", "setting", ...) to the
// key, and the file on a line of its own.
void need(int err, const char* what, const char* key, const QString& fileName);

// A text key of any length; ecCodes' error code (0 on success), with `out`
// empty on failure.
int getText(grib_handle* h, const char* key, std::string& out);

// Text and number keys that must be readable (see need).
std::string needText(grib_handle* h, const char* key, const QString& fileName);
long needLong(grib_handle* h, const char* key, const QString& fileName);

// A text key whose failure is ignored: empty then.
std::string optionalText(grib_handle* h, const char* key);

// A grid's number of rows or columns; -1 when the message has none (a
// reduced grid's missing Ni, spectral data).
long gridDimension(grib_handle* h, const char* key);

// Removes trailing blanks from a key's text.
void trimTrailingBlanks(std::string& text);

// Whether a reduced grid lists a row of no points: ecCodes divides the
// circle by each row's count when it counts the points, and aborts on zero.
bool hasEmptyReducedRow(grib_handle* h);

}  // namespace gribkeys
