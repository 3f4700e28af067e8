// Turns the field store into one netCDF-4 file: variables renamed and
// rescaled by the conversion table, levels stacked per variable, one pair of
// coordinate axes per distinct grid.
#pragma once

#include "model/pdata.h"
#include "writer/ncstruct.h"

#include <string>
#include <utility>
#include <vector>

struct CSV_FILE;

class nclWriter {
public:
    nclWriter() = default;

    // Writes members 0..g_collect_number of `in_data` (an array of the
    // member stores) to `outPath`. The file is made under the lock name
    // (outPath + ".tmp") and renamed onto outPath once complete, which also
    // releases the caller's lock (the caller then hands it over). When no
    // member has a variable to write, no file is made and the lock stays
    // the caller's. `iniPath` is not used.
    void write(const CachedData* in_data, std::string outPath, std::string iniPath);
    // The file's "history" attribute: the lines of the output it merges, if
    // any, and this run's (see appendHistory). None when empty.
    void setHistory(std::string history) { m_history = std::move(history); }

    // Variables the last write put in its file (0: no file was made).
    size_t variablesWritten() const { return m_written; }

    // Assembles the variables of one member store, rescaled by the table's
    // write scaling on their way into the float buffers. The store is left
    // as it was: neither its values nor the order of its fields change.
    void convertGrb2Nc(const CachedData& in_data, NC_DATA& nc_data, std::string iniPath);

    // Level axis id for a row's level list, created on first use; -1 for an empty list.
    int containLevel(std::string levelstr);
    // Position of `level` on axis `levelId` (0 for no axis, -1 when absent).
    int findLevelIndex(int levelId, long level);

    static void convert(const std::vector<double>& in_data, std::vector<float>& out_data);
    static bool cmpdata(const p_data& a, const p_data& b) { return a.level < b.level; }

    // Single-member layout.
    void write2File(NC_DATA& nc_data, const char* filename, int count);
    // Ensemble layout: nc_data[0..g_collect_number].
    void write2File(NC_DATA* nc_data, const char* filename, int count);

    // Grid key: spacing code and first longitude and latitude to two decimals.
    static std::string gridKey(int dimDx, float firstLon, float firstLat);

    NC_LV m_levels;
    NC_LP m_latlons;

private:
    struct LevelPlan;
    struct OutFile;

    size_t m_written = 0;
    std::string m_history;

    // Assembling: one variable from the fields of one key, one field into its slice.
    bool assembleVariable(const CSV_FILE& row, const std::vector<p_data>& fields, NC_DATA& nc_data);
    void placeField(NC_STRUCT& rec, const p_data& f, const LevelPlan& plan, const CSV_FILE& row);

    // Writing, step by step.
    void writeFile(NC_DATA* members, int memberCount, bool ensemble, const char* filename);
    NC_LATLON* gridOf(const NC_STRUCT& v);
    void defineGridDimensions(const OutFile& out);
    void defineLevelDimensions(const OutFile& out);
    void defineGridVariables(const OutFile& out);
    void defineLevelVariables(const OutFile& out);
    void defineDataVariables(const OutFile& out);
    void writeAxisValues(const OutFile& out, bool levelAxes);
    void writeDataValues(const OutFile& out);
};

// Grid numbers of the output names; they count on over the files a process writes.
extern int indexlons;
extern int indexlats;
