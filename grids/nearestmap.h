// Placing the points of a grid that is not a regular latitude/longitude one
// on the area's cells: each cell takes the value of the point nearest to its
// centre on the sphere. Which point that is depends on the grid alone, so it
// is worked out once per grid (a spatial index over the points' coordinates)
// and kept as a table of point numbers; a field is then placed by gathering
// its values through that table.
#pragma once

#include "grids/areacut.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Typical distances between the points of a grid, in degrees of arc,
// estimated from the points themselves: the median distance of a point to
// its nearest neighbour, and to its fourth nearest (on a grid of rows and
// columns, the farther of its two spacings).
struct PointSpacing {
    double nearest = 0;
    double fourth = 0;
};

class NearestMap;

// The points of a grid, in their order (longitudes and latitudes in
// degrees), indexed for nearest-point searches on the sphere. Points without
// finite coordinates are left out of every search.
class SourcePoints {
public:
    SourcePoints(const std::vector<double>& lons, const std::vector<double>& lats);
    ~SourcePoints();
    SourcePoints(const SourcePoints&) = delete;
    SourcePoints& operator=(const SourcePoints&) = delete;

    size_t size() const;
    // Estimated from up to a few thousand points spread over the grid; zeros
    // when the grid has fewer than five distinct points.
    PointSpacing spacing() const;
    // The number of the point nearest to (lon, lat), or -1 when none lies
    // within `reach` degrees of arc.
    int64_t nearest(double lon, double lat, double reach) const;
    // The map of `area`: each cell its nearest point within `reach` degrees.
    // The cells are searched on the converter's threads.
    NearestMap mapOnto(const AreaGrid& area, double reach) const;

private:
    struct Index;
    std::unique_ptr<Index> m_index;
};

// Each cell of an area grid and the number of the source point nearest to its
// centre (-1 for a cell outside the source grid's reach).
class NearestMap {
public:
    const AreaGrid& area() const { return m_area; }
    // Cells that have a source point.
    size_t inside() const { return m_inside; }
    // The value of each cell's point, `fill` for cells outside. `out` is
    // made the size of the area.
    void gather(const std::vector<double>& values, double fill, std::vector<double>& out) const;
    // The point number of cell `cell` (row-major, rows from the start
    // latitude), -1 outside.
    int64_t pointOf(size_t cell) const { return m_point[cell]; }

private:
    friend class SourcePoints;
    AreaGrid m_area;
    std::vector<int32_t> m_point;
    size_t m_inside = 0;
};

// What placing one grid on the area takes: its map and what is said of it.
struct GridPlacementByPoints {
    NearestMap map;
    float step = 0;            // the area's spacing, degrees
    std::string gridType;      // the source grid's kind, as ecCodes names it
    std::string extent;        // where the grid lies, for a grid off the area
};

// Placements of the grids met in a run, each made once: by the first thread
// that needs it, while any other thread that needs the same one waits.
class NearestMaps {
public:
    using Make = std::function<std::shared_ptr<const GridPlacementByPoints>()>;
    // The placement known by `key`, made by `make` when none is known yet. A
    // null result from `make` is not kept: the next message of the grid
    // tries again.
    std::shared_ptr<const GridPlacementByPoints> obtain(const std::string& key, const Make& make);

private:
    struct Slot {
        std::mutex making;
        std::shared_ptr<const GridPlacementByPoints> placement;
    };
    std::map<std::string, std::shared_ptr<Slot>> m_slots;
    std::mutex m_mutex;
};
