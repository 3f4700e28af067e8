#include "grids/areacut.h"

#include "logging/lowerablelimit.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace {

// Nearest cell index along one axis, or -1 outside [0, n).
long long cell(double offset, float step, long long n)
{
    const double d = offset / static_cast<double>(step);
    if (!(std::fabs(d) < 2e9))
        return -1;
    const long long k = qRound(d);
    return k >= 0 && k < n ? k : -1;
}

LowerableLimit<long long> s_maxCells(kMaxAreaCells);

}  // namespace

void AreaGrid::setMaxCells(long long cells)
{
    s_maxCells.lower(cells);
}

long long AreaGrid::maxCells()
{
    return s_maxCells.get();
}

bool AreaGrid::define(const float* area, float dx, float dy)
{
    // Grid size in single precision; a non-finite or absurd size is refused
    // before anything is allocated.
    float span = area[2] - area[0];
    if (span < 0.0f)
        span += 360.0f;  // across the antimeridian
    const float columns = span / dx + 1.0f;
    const float rows = (area[3] - area[1]) / dy + 1.0f;
    if (!(columns >= 1.0f && rows >= 1.0f && columns < 1e9f && rows < 1e9f))
        return false;
    // A count that single precision leaves a hair below a whole number (15
    // degrees by 0.15 gives 100.99999) is that number: the area's last
    // column or row is the grid's own last one.
    const auto count = [](float n) {
        const long long whole = static_cast<long long>(n);
        return static_cast<double>(n) - static_cast<double>(whole) > 1.0 - 1e-4 ? whole + 1 : whole;
    };
    const long long nx = count(columns);
    const long long ny = count(rows);
    if (nx * ny > maxCells())
        return false;
    m_lon0 = area[0];
    m_lat0 = area[1];
    m_dx = dx;
    m_dy = dy;
    m_nx = nx;
    m_ny = ny;
    // The cells reach more than a thousandth of a degree past a full turn:
    // far more than single precision leaves over from a step that divides
    // the turn (0..359.9 by 0.1 does not wrap), far less than any grid's
    // step (-180..180 does).
    m_wraps = static_cast<double>(nx) * static_cast<double>(dx) > 360.0 + 1e-3;
    return true;
}

int AreaGrid::columnsOf(double lon, long long out[kMaxColumnsOfAPoint]) const
{
    int n = 0;
    for (const double turn : {0.0, 360.0, -360.0}) {
        const long long i = cell(lon + turn - m_lon0, m_dx, m_nx);
        if (i < 0 || std::find(out, out + n, i) != out + n)
            continue;
        out[n++] = i;
        if (!m_wraps)
            break;
    }
    return n;
}

long long AreaGrid::row(double lat) const
{
    return cell(lat - m_lat0, m_dy, m_ny);
}

void AreaGrid::start(std::vector<double>& outLon, std::vector<double>& outLat, std::vector<double>& values,
                     double fill) const
{
    values.assign(static_cast<size_t>(m_nx * m_ny), fill);
    axes(outLon, outLat);
}

void AreaGrid::axes(std::vector<double>& outLon, std::vector<double>& outLat) const
{
    outLon.reserve(outLon.size() + static_cast<size_t>(m_nx));
    for (long long i = 0; i < m_nx; ++i)
        outLon.push_back(lonOf(i));
    outLat.reserve(outLat.size() + static_cast<size_t>(m_ny));
    for (long long j = 0; j < m_ny; ++j)
        outLat.push_back(latOf(j));
}

size_t AreaGrid::place(const std::vector<double>& lon, const std::vector<double>& lat, const std::vector<double>& values,
                       std::vector<double>& out) const
{
    const size_t points = std::min(values.size(), std::min(lon.size(), lat.size()));
    size_t landed = 0;
    for (size_t k = 0; k < points; ++k) {
        const long long j = row(lat[k]);
        if (j < 0)
            continue;
        long long columns[kMaxColumnsOfAPoint];
        const int n = columnsOf(lon[k], columns);
        for (int c = 0; c < n; ++c)
            out[static_cast<size_t>(j * m_nx + columns[c])] = values[k];
        landed += n > 0 ? 1 : 0;
    }
    return landed;
}

bool placeOnArea(const std::vector<double>& lon, const std::vector<double>& lat, const std::vector<double>& values,
                 std::vector<double>& outLon, std::vector<double>& outLat, std::vector<double>& outValues,
                 const float* area, float dx, float dy, double fill)
{
    AreaGrid grid;
    if (!grid.define(area, dx, dy))
        return false;
    grid.start(outLon, outLat, outValues, fill);
    grid.place(lon, lat, values, outValues);
    return true;
}
