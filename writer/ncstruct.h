// The records the netCDF writer assembles from the field store: output
// variables, level axes and horizontal grids.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

struct p_data;

// One level slot of an output variable: the store field that fills it (none:
// the fill value) and the write scaling of the row that placed it there.
struct NC_SLOT {
    const p_data* field = nullptr;
    double amplification = 1;
    double offset = 0;
};

// One output variable.
struct NC_STRUCT {
    std::string var;       // output name
    std::string longname;  // "long_name"
    std::string units;
    float fillValue;
    std::string prop_initial_time;
    int prop_level_indicator;
    std::string nameOfFirstFixedSurface;
    std::string indicatorOfTypeOfLevel;
    int gribEdition;
    int levelCount;  // entries of the row's level list, at least 1
    int varid;
    std::vector<float> lons;
    std::vector<float> lats;
    // The fields of the store in the levelCount slices of lats x lons
    // values; the store outlives the write, which converts them slice by
    // slice (see slotvalues.h).
    std::vector<NC_SLOT> levelSlots;
    size_t valueCount = 0;    // levelCount x the values of the first field placed
    int levelIndex;           // level axis id, -1 without a level list
    int dimDx;
    int forecastTime;
    int lonIndex;
    int latIndex;
    int needCompress;  // deflate level; 0 or less: none
    bool isFi;
    std::string standardName;  // the CF standard name, empty when none fits
    // The kind of grid the values were taken from by nearest point; empty
    // for values of a regular latitude/longitude input.
    std::string sourceGridType;
};

// One level axis: the level list text of a table row and its values, and,
// for an axis of layers, the two surfaces of each (CF bounds; NaN for a
// level no field gave).
struct NC_LEVELS {
    std::string longstr;
    std::vector<float> levels;
    int levelId = -1;
    int dimId = -1;
    std::vector<float> bounds;  // 2 per level; empty when the axis holds no layer
    int boundsId = -1;
};

// One horizontal grid of the output.
struct NC_LATLON {
    int dimxId = -1;
    int dimyId = -1;
    int dimxDataId = -1;
    int dimyDataId = -1;
    float dx = 0, dy = 0;
    float la1 = 0, lo1 = 0, la2 = 0, lo2 = 0;
    bool isWrite = false;
    int lonIndex = -1;
    int latIndex = -1;
};

using NC_DATA = std::map<std::string, NC_STRUCT>;
using NC_LV = std::map<int, NC_LEVELS>;
using NC_LP = std::map<std::string, NC_LATLON>;
