#include "readers/gribnearest.h"

#include "readers/gribkeys.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// A length on the earth's surface, in metres, per degree of arc.
constexpr double kMetresPerDegree = 111200.0;

bool endsWith(const std::string& text, const char* end)
{
    const std::string e(end);
    return text.size() >= e.size() && text.compare(text.size() - e.size(), e.size(), e) == 0;
}

// The larger of the keys' values that are usable spacings below `most`.
double largestOf(grib_handle* h, std::initializer_list<const char*> keys, double most)
{
    double largest = 0;
    for (const char* key : keys) {
        int err = 0;
        double v = 0;
        if (grib_is_missing(h, key, &err) == 0 && err == 0 && grib_get_double(h, key, &v) == 0 &&
            std::isfinite(v) && v > 0 && v < most)
            largest = std::max(largest, v);
    }
    return largest;
}

// What tells one grid from another: the grid's own section, as ecCodes
// digests it; empty when it gives none.
std::string gridIdentity(grib_handle* h)
{
    std::string digest;
    if (gribkeys::getText(h, "md5GridSection", digest) != 0 || digest.empty())
        return std::string();
    long edition = 0, points = 0;
    grib_get_long(h, "editionNumber", &edition);
    grib_get_long(h, "numberOfPoints", &points);
    return std::to_string(edition) + " " + std::to_string(points) + " " + digest;
}

// Numbers as they are, for keys: every bit of a float in its text.
std::string exactText(std::initializer_list<float> numbers)
{
    std::string text;
    char one[32];
    for (const float n : numbers) {
        std::snprintf(one, sizeof one, " %a", static_cast<double>(n));
        text += one;
    }
    return text;
}

}  // namespace

bool placedByNearestPoint(const std::string& gridType)
{
    return gridType != "regular_ll";
}

double definedSpacing(grib_handle* h, const std::string& gridType)
{
    if (gridType.find("_gg") != std::string::npos) {
        long n = 0;
        if (grib_get_long(h, "N", &n) == 0 && n > 0 && n < 100000)
            return 90.0 / static_cast<double>(n);
        return 0;
    }
    if (endsWith(gridType, "_ll"))
        return largestOf(h, {"iDirectionIncrementInDegrees", "jDirectionIncrementInDegrees"}, 360.0);
    const double metres = largestOf(h, {"DxInMetres", "DyInMetres", "DiInMetres", "DjInMetres"}, 1e7);
    return metres / kMetresPerDegree;
}

float areaSpacing(double defined, const PointSpacing& typical)
{
    return static_cast<float>(defined > 0 ? defined : typical.nearest);
}

float areaSpacing(grib_handle* h, const std::string& gridType)
{
    const double defined = definedSpacing(h, gridType);
    if (defined > 0)
        return areaSpacing(defined, PointSpacing());
    long points = 0;
    if (grib_get_long(h, "numberOfPoints", &points) != 0 || points < 1)
        return 0;
    GribPoints p;
    p.lats.resize(static_cast<size_t>(points));
    p.lons.resize(static_cast<size_t>(points));
    p.values.resize(static_cast<size_t>(points));
    if (grib_get_data(h, p.lats.data(), p.lons.data(), p.values.data()) != 0)
        return 0;
    return areaSpacing(0, SourcePoints(p.lons, p.lats).spacing());
}

GribNearestGrids::Placed GribNearestGrids::placementOf(grib_handle* h, const std::string& gridType, const float* area,
                                                     float step, const std::function<bool()>& decode,
                                                     GribPoints& points)
{
    bool noCoordinates = false;
    const auto make = [&]() -> std::shared_ptr<const GridPlacementByPoints> {
        if (!decode()) {
            noCoordinates = true;
            return nullptr;
        }
        auto placement = std::make_shared<GridPlacementByPoints>();
        placement->gridType = gridType;
        placement->extent = extentOf(points.lons, points.lats);
        const SourcePoints source(points.lons, points.lats);
        // A cell farther from every point than the grid's spacing lies
        // outside it. A point's fourth nearest neighbour is as far as the
        // farther of a grid's two spacings, where its keys give none or give
        // too little.
        const double defined = definedSpacing(h, gridType);
        const PointSpacing typical = source.spacing();
        placement->step = step > 0.0f ? step : areaSpacing(defined, typical);
        AreaGrid grid;
        if (!(placement->step > 0.0f) || !grid.define(area, placement->step, placement->step))
            return placement;  // no map: the area cannot be made
        placement->map = source.mapOnto(grid, std::max(defined, typical.fourth));
        return placement;
    };
    Placed placed;
    // A grid ecCodes does not identify is placed on its own.
    const std::string identity = gridIdentity(h);
    placed.placement = identity.empty()
                           ? make()
                           : m_maps.obtain(identity + exactText({step, area[0], area[1], area[2], area[3]}), make);
    placed.noCoordinates = noCoordinates;
    return placed;
}

int decodeValuesOnly(grib_handle* h, long points, std::vector<double>& values)
{
    size_t n = 0;
    int err = grib_get_size(h, "values", &n);
    if (err == 0 && n != static_cast<size_t>(points))
        err = GRIB_WRONG_ARRAY_SIZE;
    if (err != 0)
        return err;
    values.resize(n);
    err = grib_get_double_array(h, "values", values.data(), &n);
    return err == 0 && n != static_cast<size_t>(points) ? GRIB_WRONG_ARRAY_SIZE : err;
}

std::string extentOf(const std::vector<double>& lons, const std::vector<double>& lats)
{
    if (lons.empty() || lats.empty())
        return std::string();
    const auto [lon0, lon1] = std::minmax_element(lons.begin(), lons.end());
    const auto [lat0, lat1] = std::minmax_element(lats.begin(), lats.end());
    return QString("longitudes %1 to %2, latitudes %3 to %4")
        .arg(*lon0)
        .arg(*lon1)
        .arg(*lat0)
        .arg(*lat1)
        .toStdString();
}
