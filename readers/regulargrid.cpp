#include "readers/regulargrid.h"

#include "readers/gribkeys.h"
#include "readers/simplepacking.h"

#include <grib_api.h>

#include <cmath>
#include <cstring>
#include <cstdio>

namespace {

// The keys a regular grid's coordinates follow from, as one text; empty when
// the message is not a regular latitude/longitude grid scanned row by row.
std::string definitionOf(grib_handle* h)
{
    std::string type;
    if (gribkeys::getText(h, "gridType", type) != 0 || type != "regular_ll")
        return std::string();
    long consecutive = 1, alternating = 1, rotated = 1;
    if (grib_get_long(h, "jPointsAreConsecutive", &consecutive) != 0 || consecutive != 0 ||
        grib_get_long(h, "alternativeRowScanning", &alternating) != 0 || alternating != 0)
        return std::string();
    if (grib_get_long(h, "isRotatedGrid", &rotated) == 0 && rotated != 0)
        return std::string();
    std::string text = type;
    char number[64];
    for (const char* key : {"editionNumber", "Ni", "Nj", "iScansNegatively", "jScansPositively"}) {
        long v = 0;
        if (grib_get_long(h, key, &v) != 0)
            return std::string();
        std::snprintf(number, sizeof number, " %ld", v);
        text += number;
    }
    for (const char* key : {"longitudeOfFirstGridPointInDegrees", "longitudeOfLastGridPointInDegrees",
                            "latitudeOfFirstGridPointInDegrees", "latitudeOfLastGridPointInDegrees",
                            "iDirectionIncrementInDegrees", "jDirectionIncrementInDegrees"}) {
        double v = 0;
        if (grib_get_double(h, key, &v) != 0)
            v = NAN;  // a missing increment is part of the definition too
        std::snprintf(number, sizeof number, " %.17g", v);
        text += number;
    }
    return text;
}

double number(grib_handle* h, const char* key)
{
    double v = NAN;
    grib_get_double(h, key, &v);
    return v;
}

long whole(grib_handle* h, const char* key)
{
    long v = 0;
    grib_get_long(h, key, &v);
    return v;
}

// The `n` values of an axis from `first` by `step`, each of the ways a
// producer may have worked them out: added up one step after the other,
// the same ending at `last` as given, and multiplied out.
std::vector<std::vector<double>> axisCandidates(double first, double last, double step, long n)
{
    std::vector<double> added(static_cast<size_t>(n)), multiplied(static_cast<size_t>(n));
    double value = first;
    for (long k = 0; k < n; ++k) {
        added[static_cast<size_t>(k)] = value;
        value += step;
        multiplied[static_cast<size_t>(k)] = first + static_cast<double>(k) * step;
    }
    std::vector<double> endingAtLast = added;
    if (n > 0)
        endingAtLast.back() = last;
    return {std::move(added), std::move(endingAtLast), std::move(multiplied)};
}

// Candidate longitudes of the columns: the step from the first and last
// longitude (round the globe when they are equal or the last is smaller),
// then added up from the first (with or without the last column at the
// last longitude as given) or multiplied.
std::vector<std::vector<double>> columnCandidates(grib_handle* h, long ni)
{
    double lon1 = number(h, "longitudeOfFirstGridPointInDegrees");
    const double lon2 = number(h, "longitudeOfLastGridPointInDegrees");
    double step = number(h, "iDirectionIncrementInDegrees");
    const bool westward = whole(h, "iScansNegatively") != 0;
    if (ni > 1) {
        const double span = westward ? (lon1 > lon2 ? lon1 - lon2 : lon1 + 360.0 - lon2)
                                     : (lon2 > lon1 ? lon2 - lon1 : lon2 + 360.0 - lon1);
        step = span / static_cast<double>(ni - 1);
    }
    if (westward)
        step = -step;
    else if (lon1 + static_cast<double>(ni - 2) * step > 360.0)
        lon1 -= 360.0;
    return axisCandidates(lon1, lon2, step, ni);
}

// Candidate latitudes of the rows, likewise.
std::vector<std::vector<double>> rowCandidates(grib_handle* h, long nj)
{
    const double lat1 = number(h, "latitudeOfFirstGridPointInDegrees");
    const double lat2 = number(h, "latitudeOfLastGridPointInDegrees");
    double step = number(h, "jDirectionIncrementInDegrees");
    if (!std::isfinite(step) && nj > 1)
        step = std::fabs(lat1 - lat2) / static_cast<double>(nj - 1);
    const double fromSpan = nj > 1 ? (lat2 - lat1) / static_cast<double>(nj - 1) : 0.0;
    if (whole(h, "jScansPositively") == 0)
        step = -step;
    std::vector<std::vector<double>> out = axisCandidates(lat1, lat2, step, nj);
    for (std::vector<double>& axis : axisCandidates(lat1, lat2, fromSpan, nj))
        out.push_back(std::move(axis));
    return out;
}

// Whether every point's coordinate equals its column's (byColumn) or its
// row's entry of `axis`.
bool axisMatches(const std::vector<double>& axis, const std::vector<double>& coordinate, long ni, long nj,
                 bool byColumn)
{
    for (long j = 0; j < nj; ++j)
        for (long i = 0; i < ni; ++i)
            if (coordinate[static_cast<size_t>(j * ni + i)] != axis[static_cast<size_t>(byColumn ? i : j)])
                return false;
    return true;
}

}  // namespace

RegularGrid* RegularGrids::trusted(grib_handle* h)
{
    const std::string definition = definitionOf(h);
    if (definition.empty())
        return nullptr;
    const std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_known.find(definition);
    return it != m_known.end() && it->second.trusted ? &it->second.grid : nullptr;
}

RegularGrid* RegularGrids::learn(grib_handle* h, const std::vector<double>& lon, const std::vector<double>& lat)
{
    const std::string definition = definitionOf(h);
    const long ni = whole(h, "Ni"), nj = whole(h, "Nj");
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (definition.empty())
        return nullptr;
    const auto it = m_known.find(definition);
    if (it != m_known.end())
        return it->second.trusted ? &it->second.grid : nullptr;
    Known& known = m_known[definition];
    if (ni < 1 || nj < 1 || lon.size() != static_cast<size_t>(ni) * static_cast<size_t>(nj) ||
        lat.size() != lon.size())
        return nullptr;
    for (const std::vector<double>& lons : columnCandidates(h, ni)) {
        if (!axisMatches(lons, lon, ni, nj, true))
            continue;
        for (const std::vector<double>& lats : rowCandidates(h, nj)) {
            if (!axisMatches(lats, lat, ni, nj, false))
                continue;
            known.grid.ni = ni;
            known.grid.nj = nj;
            known.grid.lons = lons;
            known.grid.lats = lats;
            known.trusted = true;
            return &known.grid;
        }
    }
    return nullptr;
}

namespace {

// The points of the grid that land on the area and their cells, in scanning
// order, so that a later point replaces an earlier one as in placeOnArea;
// each column and row takes its cells by the same rule as a point there.
std::shared_ptr<const GridPlacement> workOutPlacement(const RegularGrid& grid, const AreaGrid& area)
{
    // The area's columns of each of the grid's columns, one after the other.
    std::vector<long long> columns;
    std::vector<size_t> firstOf(static_cast<size_t>(grid.ni) + 1);
    for (long i = 0; i < grid.ni; ++i) {
        long long found[kMaxColumnsOfAPoint];
        const int n = area.columnsOf(grid.lons[static_cast<size_t>(i)], found);
        firstOf[static_cast<size_t>(i)] = columns.size();
        columns.insert(columns.end(), found, found + n);
    }
    firstOf[static_cast<size_t>(grid.ni)] = columns.size();
    std::vector<long long> row(static_cast<size_t>(grid.nj));
    for (long j = 0; j < grid.nj; ++j)
        row[static_cast<size_t>(j)] = area.row(grid.lats[static_cast<size_t>(j)]);

    auto placement = std::make_shared<GridPlacement>();
    placement->area = area;
    for (long j = 0; j < grid.nj; ++j) {
        const long long r = row[static_cast<size_t>(j)];
        if (r < 0)
            continue;
        for (long i = 0; i < grid.ni; ++i)
            for (size_t c = firstOf[static_cast<size_t>(i)]; c < firstOf[static_cast<size_t>(i) + 1]; ++c) {
                placement->points.push_back(static_cast<int>(j * grid.ni + i));
                placement->cells.push_back(static_cast<size_t>(r * area.columns() + columns[c]));
            }
    }
    return placement;
}

// Whether the own unpacking gives ecCodes' values at every point of the
// area.
bool unpacksAsEccodes(grib_handle* h, const RegularGrid& grid, const GridPlacement& placement,
                      const QString& fileName, const std::vector<double>& own)
{
    std::vector<double> all(static_cast<size_t>(grid.ni) * static_cast<size_t>(grid.nj));
    size_t n = all.size();
    gribkeys::need(grib_get_double_array(h, "values", all.data(), &n), "decoding", "values", fileName);
    bool same = n == all.size();
    for (size_t k = 0; same && k < placement.points.size(); ++k)
        same = std::memcmp(&all[static_cast<size_t>(placement.points[k])], &own[k], sizeof(double)) == 0;
    return same;
}

}  // namespace

size_t RegularGrids::place(grib_handle* h, RegularGrid& grid, const AreaGrid& area, const QString& fileName,
                         std::vector<double>& values, std::vector<double>& out)
{
    // Worked out once for the messages of a grid on one area.
    std::shared_ptr<const GridPlacement> placement;
    RegularGrid::Unpacking unpacking;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!grid.placement || !(grid.placement->area == area))
            grid.placement = workOutPlacement(grid, area);
        placement = grid.placement;
        unpacking = grid.ownUnpacking;
    }
    const std::vector<int>& points = placement->points;
    const std::vector<size_t>& cells = placement->cells;
    if (points.empty())
        return 0;

    // Simple packing without a bitmap is read point by point, once the
    // first message of the grid packed so has given ecCodes' values.
    SimplePacking packing;
    if (unpacking != RegularGrid::Unpacking::Refused &&
        simplePackingOf(h, static_cast<size_t>(grid.ni) * static_cast<size_t>(grid.nj), packing)) {
        unpackAt(packing, points, values);
        if (unpacking == RegularGrid::Unpacking::Unchecked) {
            unpacking = unpacksAsEccodes(h, grid, *placement, fileName, values) ? RegularGrid::Unpacking::Trusted
                                                                                  : RegularGrid::Unpacking::Refused;
            const std::lock_guard<std::mutex> lock(m_mutex);
            grid.ownUnpacking = unpacking;
        }
        if (unpacking == RegularGrid::Unpacking::Trusted) {
            for (size_t k = 0; k < points.size(); ++k)
                out[cells[k]] = values[k];
            return points.size();
        }
    }
    values.resize(static_cast<size_t>(grid.ni) * static_cast<size_t>(grid.nj));
    size_t n = values.size();
    gribkeys::need(grib_get_double_array(h, "values", values.data(), &n), "decoding", "values", fileName);
    for (size_t k = 0; k < points.size(); ++k)
        out[cells[k]] = values[static_cast<size_t>(points[k])];
    return points.size();
}
