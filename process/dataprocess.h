// The derivation step: the table's scaling before derivations, then a fixed
// list of derived quantities, each filed in the store it was computed from.
#pragma once

#include "model/pdata.h"

#include <string>
#include <vector>

class physicalQuantity;

class dataProcess {
public:
    // Creates the toolbox, which binds the library from the program directory.
    dataProcess();
    // With a toolbox of the caller's (for tests); the processor takes it over.
    explicit dataProcess(physicalQuantity* phy);
    ~dataProcess();
    dataProcess(const dataProcess&) = delete;
    dataProcess& operator=(const dataProcess&) = delete;

    // Scaling, then the run list, on one member store.
    void process(CachedData& store);
    // Members 0..g_collect_number of the array of member stores.
    void process(CachedData* stores);

    static void insert(const p_data& record, CachedData& store);

    // A level list of the table ("500;850") in Pa, appended to `levels`.
    // -1 for empty text, 0 otherwise.
    static int containLevel(std::string levelText, std::vector<float>& levels, float& count);
    static int containLevel2(std::string levelText, std::vector<double>& levels, double& count);
    // Position of level (hPa) in a list in Pa, or -1.
    static int geTLevelIndex(float level, std::vector<float> levels);
    static int geTLevelIndex2(float level, std::vector<double> levels);
    // The first record of that level.
    static bool choosePdataByLevel(std::vector<p_data> records, int level, p_data& out);

    // Keeps one of several precipitation fields for the run's forecast time.
    bool chooseTP(CachedData& store);
    // Wind components from speed and direction (the direction is the angle
    // of the wind vector: u = speed cos, v = speed sin).
    static int calUv(double speed, double direction, double* u, double* v, double missing);
    bool wswd2uv(CachedData& store);
    bool wswd2uv10m(CachedData& store);
    bool wswd2uv100m(CachedData& store);

    bool touch_TD_DEPR(CachedData& store);
    bool touch_2D(CachedData& store);
    bool touch_Q(CachedData& store);
    bool touch_2Q_DEPR(CachedData& store);
    bool touch_ERH2M(CachedData& store);
    bool touch_DEPR2M(CachedData& store);
    bool touch_EGH(CachedData& store);
    bool touch_QGS(CachedData& store);
    bool touch_NEW_W(CachedData& store);
    bool touch_PT(CachedData& store);

    physicalQuantity* m_phy = nullptr;

private:
    bool windComponents(CachedData& store, const char* direction, const char* speed, const char* uName,
                        const char* vName);
};
