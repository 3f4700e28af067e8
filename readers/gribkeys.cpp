#include "readers/gribkeys.h"

#include "logging/fatal.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace gribkeys {

void need(int err, const char* what, const char* key, const QString& fileName)
{
    if (err != 0)
        throw FatalError(255,
                         QString("ecCodes: %1 \"%2\" failed: %3")
                             .arg(what, key, QString::fromLatin1(grib_get_error_message(err))),
                         KV_HERE, "file: " + fileName);
}

int getText(grib_handle* h, const char* key, std::string& out)
{
    std::vector<char> buffer(128);
    for (int attempt = 0; attempt < 4; ++attempt) {
        size_t length = buffer.size();
        const int err = grib_get_string(h, key, buffer.data(), &length);
        if (err == GRIB_BUFFER_TOO_SMALL || err == GRIB_ARRAY_TOO_SMALL) {
            size_t needed = 0;
            if (grib_get_length(h, key, &needed) != 0 || needed < buffer.size())
                needed = buffer.size();
            buffer.resize(needed * 2 + 1);
            continue;
        }
        if (err != 0) {
            out.clear();
            return err;
        }
        out.assign(buffer.data(), strnlen(buffer.data(), std::min(length, buffer.size())));
        return 0;
    }
    out.clear();
    return GRIB_BUFFER_TOO_SMALL;
}

std::string needText(grib_handle* h, const char* key, const QString& fileName)
{
    std::string value;
    need(getText(h, key, value), "reading", key, fileName);
    return value;
}

long needLong(grib_handle* h, const char* key, const QString& fileName)
{
    long value = 0;
    need(grib_get_long(h, key, &value), "reading", key, fileName);
    return value;
}

std::string optionalText(grib_handle* h, const char* key)
{
    std::string value;
    getText(h, key, value);
    return value;
}

long gridDimension(grib_handle* h, const char* key)
{
    int err = 0;
    long value = 0;
    if (grib_is_missing(h, key, &err) != 0 || err != 0 || grib_get_long(h, key, &value) != 0)
        return -1;
    return value;
}

GridFault gridFault(grib_handle* h, long maxPoints, long& points, long& rows, long& columns)
{
    if (hasEmptyReducedRow(h))
        return GridFault::EmptyReducedRow;
    if (grib_get_long(h, "numberOfPoints", &points) != 0)
        return GridFault::NoPointCount;
    if (points < 1 || points > maxPoints)
        return GridFault::PointCount;
    rows = gridDimension(h, "Nj");
    columns = gridDimension(h, "Ni");
    if (rows == 0 || columns == 0 || rows > points || columns > points)
        return GridFault::Dimensions;
    return GridFault::None;
}

void trimTrailingBlanks(std::string& text)
{
    const size_t last = text.find_last_not_of(' ');
    text.erase(last == std::string::npos ? 0 : last + 1);
}

bool hasEmptyReducedRow(grib_handle* h)
{
    // Rows of no points are common on reduced latitude/longitude grids
    // (wave models), and ecCodes steps over them there.
    if (optionalText(h, "gridType").find("_gg") == std::string::npos)
        return false;
    size_t rows = 0;
    if (grib_get_size(h, "pl", &rows) != 0 || rows == 0)
        return false;
    std::vector<long> pl(rows);
    if (grib_get_long_array(h, "pl", pl.data(), &rows) != 0)
        return false;
    return std::any_of(pl.begin(), pl.begin() + static_cast<std::ptrdiff_t>(std::min(rows, pl.size())),
                       [](long n) { return n <= 0; });
}

}  // namespace gribkeys
