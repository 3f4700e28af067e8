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

// Whether a reduced Gaussian grid lists a row of no points: ecCodes divides
// the circle by each row's count when it counts the points, and aborts on
// zero.
bool hasEmptyReducedRow(grib_handle* h);

// What keeps ecCodes from being asked for a grid's points, checked in this
// order: it aborts on a reduced grid with a row of no points; a message
// without a number of points has no grid it can give; it is asked for no
// points or more than `maxPoints`; and it sizes its coordinate arrays by the
// grid's rows and columns before it compares them with the number of
// points, stepping through a grid of no rows or columns past its arrays.
// The counts read are left in `points`, `rows` and `columns`.
enum class GridFault { None, EmptyReducedRow, NoPointCount, PointCount, Dimensions };
GridFault gridFault(grib_handle* h, long maxPoints, long& points, long& rows, long& columns);

}  // namespace gribkeys
