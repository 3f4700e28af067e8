// Placing the points of a field on the regular grid that spans the table's
// area, for every reader whose input comes as points with coordinates.
#pragma once

#include <vector>

// Largest area grid accepted, in cells.
constexpr long long kMaxAreaCells = 1LL << 28;

// Places the points (lon[k], lat[k], values[k]) on the regular grid spanning
// `area` (start longitude, start latitude, end longitude, end latitude) with
// spacings dx and dy: columns (end - start) / dx + 1 and rows likewise,
// counted in single precision. Each point goes to its nearest cell (halves
// upward), a later point replacing an earlier one; a point whose longitude
// misses the area is tried 360 degrees east and then west. Cells no point
// reaches hold `fill`. The grid's longitudes and latitudes are appended to
// outLon and outLat, its values (row-major, rows from the start latitude)
// replace outValues. False, with nothing changed, when the area gives no
// cells or more than kMaxAreaCells.
bool placeOnArea(const std::vector<double>& lon, const std::vector<double>& lat, const std::vector<double>& values,
                 std::vector<double>& outLon, std::vector<double>& outLat, std::vector<double>& outValues,
                 const float* area, float dx, float dy, double fill);
