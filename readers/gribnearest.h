// GRIB messages on grids that are not regular latitude/longitude ones
// (projections, rotated and Gaussian grids, reduced grids), and regular ones
// put on an area of another spacing: every cell of the area takes the value
// of the message's point nearest to its centre, from ecCodes' coordinates of
// the points.
#pragma once

#include "grids/nearestmap.h"

#include <QString>

#include <grib_api.h>

#include <functional>
#include <memory>
#include <string>

// Whether a message of grid kind `gridType` (ecCodes' gridType) goes by the
// nearest point: every kind but regular latitude/longitude.
bool placedByNearestPoint(const std::string& gridType);

// The spacing a grid gives itself, in degrees of arc: 90 / N for a Gaussian
// grid of N latitudes between a pole and the equator, the larger increment
// of a latitude/longitude grid, the larger grid length in metres over 111.2
// km for a projected grid. 0 when its keys give none.
double definedSpacing(grib_handle* h, const std::string& gridType);

// The spacing the area takes, in degrees, on a grid placed by the nearest
// point when the table gives none: the grid's own (definedSpacing), else the
// typical distance between its points.
float areaSpacing(double defined, const PointSpacing& typical);
// The same, of a message; 0 when ecCodes gives no coordinates of its points.
float areaSpacing(grib_handle* h, const std::string& gridType);

// The coordinates and values of a message's points.
struct GribPoints {
    std::vector<double> lats;
    std::vector<double> lons;
    std::vector<double> values;
};

// The placements of the grids met in a run. Safe to use from several threads
// at once, each on messages of its own.
class GribNearestGrids {
public:
    struct Placed {
        // The grid's placement, whose map has no cells when the area
        // cannot be made with its spacing; null when ecCodes gives no
        // coordinates of the grid's points.
        std::shared_ptr<const GridPlacementByPoints> placement;
        bool noCoordinates = false;
    };
    // The placement of the message's grid, of kind `gridType`, on `area`
    // (start longitude, start latitude, end longitude, end latitude) with the
    // spacing `step` (0: the grid's own). `decode` fills `points` with the message's coordinates
    // and values, false when ecCodes gives none; it is called only when the
    // grid is met for the first time, so `points` holds them only then.
    Placed placementOf(grib_handle* h, const std::string& gridType, const float* area, float step,
                       const std::function<bool()>& decode, GribPoints& points);

private:
    NearestMaps m_maps;
};

// The message's values alone, in the order of its points, into `values`:
// ecCodes' error when it cannot give `points` of them, else 0.
int decodeValuesOnly(grib_handle* h, long points, std::vector<double>& values);

// "longitudes a to b, latitudes c to d": where a grid's points lie.
std::string extentOf(const std::vector<double>& lons, const std::vector<double>& lats);
