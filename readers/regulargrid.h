// Regular latitude/longitude grids read from their definition, so that a
// message's values can be placed on the table's area without asking ecCodes
// for the coordinates of every point, and decoded only where the area needs
// them. A definition is trusted only once ecCodes' own coordinates of a
// message on it have been found equal, point for point, to the ones worked
// out here; every other grid goes through ecCodes' coordinates.
#pragma once

#include "grids/areacut.h"

#include <QString>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct grib_handle;

// The points of a grid that land on an area and their cells.
struct GridPlacement {
    AreaGrid area;
    std::vector<int> points;
    std::vector<size_t> cells;
};

// A grid whose rows are scanned one after the other, each from its first
// column: point j * ni + i lies at (lons[i], lats[j]).
struct RegularGrid {
    long ni = 0;
    long nj = 0;
    std::vector<double> lons;
    std::vector<double> lats;
    // Its placement on the area last placed on.
    std::shared_ptr<const GridPlacement> placement;
    // Whether values packed the simplest way are read point by point here:
    // decided on the first such message, by ecCodes' values of it.
    enum class Unpacking { Unchecked, Trusted, Refused };
    Unpacking ownUnpacking = Unpacking::Unchecked;
};

// Safe to use from several threads at once, each on messages of its own.
class RegularGrids {
public:
    // The message's grid when it is a regular latitude/longitude one whose
    // definition this has already found equal to ecCodes' coordinates, else
    // null.
    RegularGrid* trusted(grib_handle* h);
    // After ecCodes gave the coordinates of every point of the message
    // (lon[k], lat[k]): trusts its definition from now on if one of the ways
    // of working it out gives exactly those. The grid when its definition is
    // trusted (now or before), else null.
    RegularGrid* learn(grib_handle* h, const std::vector<double>& lon, const std::vector<double>& lat);

    // Decodes the values of a message on a trusted grid at the points that
    // fall on the area (all values where the packing gives no cheaper way)
    // and places them as placeOnArea would. `values` is working space.
    // Returns how many points landed on the area; with none, nothing is
    // decoded.
    size_t place(grib_handle* h, RegularGrid& grid, const AreaGrid& area, const QString& fileName,
               std::vector<double>& values, std::vector<double>& out);

private:
    struct Known {
        bool trusted = false;
        RegularGrid grid;
    };
    std::map<std::string, Known> m_known;
    // Guards m_known and the placements and unpacking verdicts of its grids.
    std::mutex m_mutex;
};
