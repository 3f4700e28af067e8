#include "readers/areacut.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

bool placeOnArea(const std::vector<double>& lon, const std::vector<double>& lat, const std::vector<double>& values,
                 std::vector<double>& outLon, std::vector<double>& outLat, std::vector<double>& outValues,
                 const float* area, float dx, float dy, double fill)
{
    const float lon0 = area[0];
    const float lat0 = area[1];
    const float lon1 = area[2];
    const float lat1 = area[3];

    // Grid size in single precision; a non-finite or absurd size is refused
    // before anything is allocated.
    const float columns = (lon1 - lon0) / dx + 1.0f;
    const float rows = (lat1 - lat0) / dy + 1.0f;
    if (!(columns >= 1.0f && rows >= 1.0f && columns < 1e9f && rows < 1e9f))
        return false;
    const long long nx = static_cast<long long>(columns);
    const long long ny = static_cast<long long>(rows);
    if (nx * ny > kMaxAreaCells)
        return false;

    outValues.assign(static_cast<size_t>(nx * ny), fill);
    outLon.reserve(outLon.size() + static_cast<size_t>(nx));
    for (long long i = 0; i < nx; ++i)
        outLon.push_back(static_cast<double>(lon0 + static_cast<float>(i) * dx));
    outLat.reserve(outLat.size() + static_cast<size_t>(ny));
    for (long long j = 0; j < ny; ++j)
        outLat.push_back(static_cast<double>(lat0 + static_cast<float>(j) * dy));

    // Nearest cell index along one axis, or -1 outside [0, n).
    auto cell = [](double offset, float step, long long n) -> long long {
        const double d = offset / static_cast<double>(step);
        if (!(std::fabs(d) < 2e9))
            return -1;
        const long long k = qRound(d);
        return k >= 0 && k < n ? k : -1;
    };

    const size_t points = std::min(values.size(), std::min(lon.size(), lat.size()));
    for (size_t k = 0; k < points; ++k) {
        const long long j = cell(lat[k] - lat0, dy, ny);
        if (j < 0)
            continue;
        long long i = cell(lon[k] - lon0, dx, nx);
        if (i < 0)
            i = cell(lon[k] + 360.0 - lon0, dx, nx);
        if (i < 0)
            i = cell(lon[k] - 360.0 - lon0, dx, nx);
        if (i < 0)
            continue;
        outValues[static_cast<size_t>(j * nx + i)] = values[k];
    }
    return true;
}
