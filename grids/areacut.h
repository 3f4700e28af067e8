// Placing the points of a field on the regular grid that spans the table's
// area, for every reader whose input comes as points with coordinates.
#pragma once

#include <cstddef>
#include <vector>

// Largest area grid accepted, in cells.
constexpr long long kMaxAreaCells = 1LL << 28;

// Most columns a longitude can have: as given and one turn east and west.
constexpr int kMaxColumnsOfAPoint = 3;

// The regular grid spanning `area` (start longitude, start latitude, end
// longitude, end latitude) with spacings dx and dy: columns
// (end - start) / dx + 1 and rows likewise, counted in single precision.
// An end longitude smaller than the start crosses the antimeridian: the
// columns run on east from the start (170 to -170 gives 170 to 190).
class AreaGrid {
public:
    // False when the area gives no cells or more than maxCells().
    bool define(const float* area, float dx, float dy);

    // The most cells define() accepts: kMaxAreaCells unless set lower (0
    // sets it back). A harness that runs under an allocation limit lowers
    // it.
    static void setMaxCells(long long cells);
    static long long maxCells();

    bool operator==(const AreaGrid& o) const
    {
        return m_lon0 == o.m_lon0 && m_lat0 == o.m_lat0 && m_dx == o.m_dx && m_dy == o.m_dy && m_nx == o.m_nx &&
               m_ny == o.m_ny;
    }
    long long columns() const { return m_nx; }
    float step() const { return m_dx; }
    // Longitude of column i and latitude of row j, as start() gives them.
    double lonOf(long long i) const { return static_cast<double>(m_lon0 + static_cast<float>(i) * m_dx); }
    double latOf(long long j) const { return static_cast<double>(m_lat0 + static_cast<float>(j) * m_dy); }
    long long rows() const { return m_ny; }
    // The nearest columns of a longitude (halves upward), tried as given and
    // then 360 degrees east and west: the first that lands on the area, or,
    // where the columns reach round the globe and a meridian has a column
    // at each end (-180 and 180), every one that does. Returns how many
    // were put in `out`; 0 when the longitude misses the area.
    int columnsOf(double lon, long long out[kMaxColumnsOfAPoint]) const;
    // The nearest row of a latitude; -1 when it misses the area.
    long long row(double lat) const;
    // Appends the grid's longitudes and latitudes.
    void axes(std::vector<double>& outLon, std::vector<double>& outLat) const;
    // Appends the grid's longitudes and latitudes, and fills `values`
    // (row-major, rows from the start latitude) with `fill`.
    void start(std::vector<double>& outLon, std::vector<double>& outLat, std::vector<double>& values,
               double fill) const;
    // Puts each point (lon[k], lat[k], values[k]) in its cells of `out` (as
    // made by start), a later point replacing an earlier one. Returns how
    // many points landed on the area.
    size_t place(const std::vector<double>& lon, const std::vector<double>& lat, const std::vector<double>& values,
               std::vector<double>& out) const;

private:
    float m_lon0 = 0, m_lat0 = 0, m_dx = 0, m_dy = 0;
    long long m_nx = 0, m_ny = 0;
    // The cells of the first and last columns overlap round the globe.
    bool m_wraps = false;
};

// Places the points (lon[k], lat[k], values[k]) on the area grid: each point
// goes to its nearest cells, a later point replacing an earlier one. Cells no
// point reaches hold `fill`. False, with nothing changed, when the area
// gives no cells or more than AreaGrid::maxCells().
bool placeOnArea(const std::vector<double>& lon, const std::vector<double>& lat, const std::vector<double>& values,
                 std::vector<double>& outLon, std::vector<double>& outLat, std::vector<double>& outValues,
                 const float* area, float dx, float dy, double fill);
