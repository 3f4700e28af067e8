// Turns the field store into one netCDF-4 file: variables renamed and
// rescaled by the conversion table, levels stacked per variable, one pair of
// coordinate axes per distinct grid.
#pragma once

#include "model/pdata.h"
#include "writer/ncstruct.h"

#include <string>
#include <vector>

class nclWriter {
public:
    nclWriter() = default;

    // Writes members 0..g_collect_number of `in_data` (an array of the
    // member stores) to `outPath`. The file is made under the lock name
    // (outPath + ".tmp") and renamed onto outPath once complete, which also
    // releases the caller's lock (the caller then hands it over). When no
    // member has a variable to write, no file is made and the lock stays
    // the caller's. `iniPath` is not used.
    void write(CachedData* in_data, std::string outPath, std::string iniPath);
    // Variables the last write put in its file (0: no file was made).
    size_t variablesWritten() const { return m_written; }

    // Assembles the variables of one member store; rescales its values in place.
    void convertGrb2Nc(CachedData& in_data, NC_DATA& nc_data, std::string iniPath);

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
    size_t m_written = 0;

    void writeFile(NC_DATA* members, int memberCount, bool ensemble, const char* filename);
};

// Grid numbers of the output names; they count on over the files a process writes.
extern int indexlons;
extern int indexlats;
