// The field record, the per-member field store and the variable key that
// every reader, the derivations and the writer share.
#pragma once

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One two-dimensional field of one variable at one level, forecast time and
// ensemble member.
struct p_data {
    std::string factorShortName;
    std::string factorLongName;
    int64_t forecastTime = -1;
    int32_t xnum = 0;
    int32_t ynum = 0;
    int32_t dims = 0;
    int32_t level = 0;
    // The exact values of the first fixed surface and, for a layer, of the
    // second, in the units of `level` (model/levels.h); NaN where the reader
    // gives none (the first is then `level`, and the field is no layer).
    double levelValue = NAN;
    double levelBottom = NAN;
    int32_t gribEdition = 0;
    std::string dataname;
    std::string prop_units;
    int32_t typeOfFirstFixedSurface = 0;
    std::string nameOfFirstFixedSurface;
    int32_t prop_level_indicator = 0;
    int32_t prop_forecastTime = 0;
    int32_t prop_parameterNumber = 0;
    int32_t parameterCategory = 0;
    int32_t prop_parameter_table_version = 0;
    float prop_fillValue = 9999.0f;
    std::string prop_forcast_time_units;
    std::string prop_initial_time;
    // The forecast step as the input names it ("6", "114-120"); empty when it
    // names none, the forecast time then telling steps apart.
    std::string stepRange;
    // The quantity's CF standard name ("air_temperature"); empty when it has none.
    std::string prop_standardName;
    // The kind of the input's grid (ecCodes' gridType) where its values were
    // put on the area's cells from their nearest points; empty where the
    // input's grid is the area's kind (regular latitude/longitude).
    std::string sourceGridType;
    int dataType = 0;  // netCDF type code (nc_type); 0 is NC_NAT
    int32_t datablocknum = 0;
    int32_t dimDx = 0;  // grid spacing in units of 0.125 degree
    int64_t perturbationNumber = 0;
    // The input message or record the field came from, numbered through the
    // run from 1; 0 for fields of no input (derived, read back).
    uint64_t origin = 0;
    bool isFi = false;     // computed by the derivations
    bool readout = false;  // read back from netCDF: no pre-derivation scaling
    std::string typedoflevels;
    std::vector<double> lon;   // one per column, west to east
    std::vector<double> lat;   // one per row
    std::vector<double> data;  // row-major: row * lon.size() + column
};

// Variable key -> every record of that variable, in order of arrival.
using CachedData = std::map<std::string, std::vector<p_data>>;

// The store has one CachedData per ensemble member.
constexpr int kMemberSlots = 100;

// Highest member slot in use; consumers walk slots 0..g_collect_number.
extern int32_t g_collect_number;
// Forecast time of the run (-1 until a reader sets it).
extern int64_t g_forcastTime;

// shortName + "_" + surface name + "_" + level-type text, as they stand.
std::string variableKey(const std::string& shortName, const std::string& surface,
                        const std::string& levelType);
std::string variableKey(const p_data& record);

// A longitude step in eighths of a degree, as the grid keys use it; 0 for a
// step that gives no such number (not finite, or past the int range).
int32_t spacingCodeOf(double step);

// Files a record in store[perturbationNumber] under its variable key,
// appending to an existing entry. A member number outside 0..99 is not filed:
// an error-level log line names the variable and the number, and the result
// is false.
bool insertRecord(p_data record, CachedData* store);

// One distinct message kind found while probing a GRIB file.
struct prob_data {
    std::string factorShortName;
    std::string factorLongName;
    int32_t prop_forecastTime = 0;
    std::string nameOfFirstFixedSurface;
    std::string units;
    std::string indicatorOfTypeOfLevel;
    // ecCodes' "typeOfLevel" ("isobaricInhPa"), which tells apart rows of
    // one short name; read for the first message of each row only.
    std::string typeOfLevel;
    int32_t leves = 0;
    // As p_data's levelValue and levelBottom.
    double levelValue = NAN;
    double levelBottom = NAN;
};

using probeData = std::map<std::string, std::vector<prob_data>>;
