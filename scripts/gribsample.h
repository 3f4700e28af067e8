// GRIB messages made from ecCodes' bundled samples: regular latitude/
// longitude fields for tests and for the demo.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct GribField {
    int edition = 2;
    std::string shortName = "t";          // empty: keep the sample's parameter
    long parameterNumber = -1;            // set instead of the short name when >= 0
    std::string typeOfLevel = "isobaricInhPa";
    long level = 850;
    long member = -1;                     // ensemble member; -1 for none
    long forecastTime = 0;
    long dataDate = 20261208;
    long dataTime = 1200;
    // Regular latitude/longitude grid: first point, steps, sizes. Rows run
    // north to south unless southToNorth.
    double firstLon = 0, firstLat = 0, step = 1;
    long ni = 2, nj = 2;
    bool southToNorth = false;
    bool westward = false;  // columns run from east to west
    long bitsPerValue = 24;      // simple packing
    long decimalScaleFactor = 0; // when not 0: values kept to this many decimals (bitsPerValue unused)
    std::vector<double> values;  // ni * nj, in scanning order; 9999 marks a missing point
    // Further keys set in this order after the grid, before the values (the
    // surfaces of a layer, a product or grid template of another kind).
    std::vector<std::pair<std::string, long>> keys;
};

// The encoded message, or empty text with the reason in `error`.
std::string makeGribMessage(const GribField& f, std::string* error);
