// The longitudes and latitudes a GRIB message's grid spans: the area of a
// table generated from the file (-p).
#pragma once

#include <grib_api.h>

struct GridBounds {
    // Start and end longitude, eastward, in the grid's own longitude
    // convention: an end below the start runs on across the antimeridian
    // (170 to -170) or the meridian 0 (350 to 19).
    double lon0 = 0;
    double lon1 = 0;
    // Lowest and highest latitude.
    double lat0 = 0;
    double lat1 = 0;
};

// A regular latitude/longitude grid's bounds from its definition; any other
// grid's from ecCodes' coordinates of its points. False when ecCodes gives no
// coordinates (spectral fields, a grid it cannot step through) or the grid
// has more than `maxPoints` points.
bool readGridBounds(grib_handle* h, long maxPoints, GridBounds& out);
