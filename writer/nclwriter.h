// Turns the field store into one netCDF-4 file: variables renamed and
// rescaled by the conversion table, levels stacked per variable, one pair of
// coordinate axes per distinct grid.
#pragma once

#include "model/basereader.h"
#include "model/levels.h"
#include "model/pdata.h"
#include "writer/ncstruct.h"

#include <QString>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct CSV_FILE;

class nclWriter {
public:
    nclWriter() = default;

    // Plans and writes members 0..g_collect_number of `in_data` (an array
    // of the member stores) to `outPath`: plan, then writePlanned. `iniPath`
    // is not used.
    void write(const CachedData* in_data, std::string outPath, std::string iniPath);

    // Decides what the output holds before any file is touched: assembles
    // every variable of members 0..g_collect_number, places each field in
    // the slot its level names, and leaves out what cannot be written, each
    // with its reason on standard error: a field whose level its row does
    // not list, on another grid or of another forecast time than its
    // variable, or that another field of the run replaces in its slot; a
    // variable none of whose fields can be placed. Says the levels a row
    // lists that no field holds, and the members of an ensemble that no
    // input gives. Returns the number of variables to write. The plan
    // refers to the fields of `in_data`, whose values are converted only
    // when the file is written: the store must stay as it is until
    // writePlanned is done.
    size_t plan(const CachedData* in_data);
    // Writes the planned variables to `outPath`: the file is made under
    // workingPathOf(outPath) and renamed onto outPath once complete, so the
    // output is never seen half written. The working file belongs to the
    // holder of the output's lock, who removes what a failure leaves of it.
    // Nothing is made when no variable is planned.
    void writePlanned(const std::string& outPath);
    static std::string workingPathOf(const std::string& outPath) { return outPath + ".part"; }

    // The file's "history" attribute: the lines of the output it merges, if
    // any, and this run's (see appendHistory). None when empty.
    void setHistory(std::string history) { m_history = std::move(history); }
    // How messages name the input a field came from ("message 12 of
    // gfs.grib2"), by its origin; without, by the origin's number.
    void setOriginNamer(std::function<QString(uint64_t)> namer) { m_originNamer = std::move(namer); }

    // Variables planned, and those the last write put in its file (0: no
    // file was made).
    size_t variablesPlanned() const { return m_planned; }
    size_t variablesWritten() const { return m_written; }
    // The input fields (by origin) that reach the output, and those filed
    // under a table row that do not, each with the first reason met.
    const std::set<uint64_t>& placedOrigins() const { return m_placed; }
    const std::map<uint64_t, std::string>& droppedOrigins() const { return m_dropped; }

    // Plans the variables of one member store: each names the store field of
    // each of its slots and the table's write scaling, whose values
    // assembledValues (slotvalues.h) gives. The store is left as it was:
    // neither its values nor the order of its fields change; it must outlive
    // `nc_data`.
    void convertGrb2Nc(const CachedData& in_data, NC_DATA& nc_data, std::string iniPath);

    // Level axis id for a row's level list (and, for layers, their bounds),
    // created on first use; -1 for an empty list.
    int containLevel(std::string levelstr, const std::vector<float>& bounds = {});
    // Position of `level` on axis `levelId` (0 for no axis, -1 when absent).
    int findLevelIndex(int levelId, long level);

    static void convert(const std::vector<double>& in_data, std::vector<float>& out_data);
    static bool cmpdata(const p_data& a, const p_data& b) { return a.level < b.level; }

    // Single-member layout.
    void write2File(NC_DATA& nc_data, const char* filename, int count);
    // Ensemble layout: nc_data[0..g_collect_number].
    void write2File(NC_DATA* nc_data, const char* filename, int count);

    // Grid key: spacing code, first longitude and latitude to two decimals,
    // and the numbers of longitudes and latitudes (grids of other sizes are
    // other grids).
    static std::string gridKey(int dimDx, float firstLon, float firstLat, size_t lons, size_t lats);

    NC_LV m_levels;
    NC_LP m_latlons;

private:
    struct OutFile;
    // What planning learns of one output variable over every member.
    struct VariablePlan {
        std::string levels;          // the row's level list as written
        std::vector<float> listed;   // its values; empty: one slot
        bool byMiddle = false;       // layers named by their middles
        std::vector<ExactLevel> slotLevels;  // the level placed in each slot; NaN for none
        bool placed = false;
        ReasonCounts dropReasons;  // why fields were left out, counted
    };

    size_t m_planned = 0;
    size_t m_written = 0;
    std::string m_history;
    std::function<QString(uint64_t)> m_originNamer;
    std::vector<NC_DATA> m_members;  // the planned variables of each member
    std::set<uint64_t> m_placed;
    std::map<uint64_t, std::string> m_dropped;
    // The variables being planned, by output name, and the order in which
    // they were first met (members in order, keys in key order), which
    // numbers the level axes.
    std::map<std::string, VariablePlan> m_vars;
    std::vector<std::string> m_firstUse;

    // Planning, step by step.
    void startPlanning();
    void startVariables(const CachedData* members, int last);
    void assembleMember(const CachedData& in_data, NC_DATA& nc_data);
    // `slots` holds the field placed in each slot of the variable in this
    // member so far.
    bool assembleVariable(const CSV_FILE& row, VariablePlan& plan, const std::vector<p_data>& fields,
                          NC_DATA& nc_data, std::vector<const p_data*>& slots);
    int slotOf(const VariablePlan& plan, const p_data& f, bool anyLevel) const;
    bool fitsVariable(const NC_STRUCT& rec, const p_data& f, std::string& why) const;
    void startVariable(NC_STRUCT& rec, const CSV_FILE& row, const VariablePlan& plan, const p_data& f);
    void copyIntoSlot(NC_STRUCT& rec, const p_data& f, size_t slot, const CSV_FILE& row);
    void drop(VariablePlan& plan, const p_data& f, const std::string& why);
    QString nameOf(const p_data& f) const;
    void finishPlanning(int last);
    void assignLevelAxes(int last);
    // The variables of every member by name, each described by the lowest
    // member that holds it (its values left out).
    NC_DATA describeVariables(NC_DATA* members, int memberCount) const;

    // Writing, step by step.
    void writeFile(NC_DATA* members, int memberCount, bool ensemble, const char* filename);
    NC_LATLON* gridOf(const NC_STRUCT& v);
    void defineGridDimensions(const OutFile& out);
    void defineLevelDimensions(const OutFile& out);
    void defineGridVariables(const OutFile& out);
    void defineLevelVariables(const OutFile& out);
    void defineDataVariables(OutFile& out);
    void writeAxisValues(const OutFile& out, bool levelAxes);
    void writeDataValues(OutFile& out);
};

// Grid numbers of the output names; they count on over the files a process writes.
extern int indexlons;
extern int indexlats;
