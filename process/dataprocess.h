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

    // How many derivations of the run list filed records, in any member.
    size_t derivationsRun() const;

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

    bool touch_AI(CachedData& store);
    bool touch_KI(CachedData& store);
    bool touch_TT(CachedData& store);
    bool touch_LI(CachedData& store);
    bool touch_SI(CachedData& store);
    bool touch_SWEAT(CachedData& store);
    bool touch_EQT(CachedData& store);
    bool touch_H20C(CachedData& store);
    bool touch_H0C(CachedData& store);
    bool touch_PW(CachedData& store);
    bool touch_CAPE(CachedData& store);
    bool touch_DCAPE(CachedData& store);
    bool touch_TCL(CachedData& store);

    bool touch_VOR_NEW(CachedData& store);
    bool touch_SHR(CachedData& store);
    bool touch_EDI(CachedData& store);
    bool touch_EDIQ(CachedData& store);
    bool touch_UQS(CachedData& store);
    bool touch_TMPA(CachedData& store);
    bool touch_VORA(CachedData& store);
    bool touch_PV(CachedData& store);
    bool touch_UYVX(CachedData& store);

    physicalQuantity* m_phy = nullptr;

private:
    // Per step of the run list: whether it filed records.
    std::vector<bool> m_filed;

    // A derivation over per-column profiles of the levels its first input's
    // row lists: one record, from the first record of the first input.
    struct ProfileStep {
        const char* startMessage;
        bool bound;                   // the library entry point it needs
        const char* unboundMessage;   // said when it is not; may be null
        const char* trigger;
        const char* presentName;      // may be null
        std::vector<const char*> inputs;
        std::vector<bool> temperature;  // per input: kelvin above 160 become degrees Celsius
        const char* name;
        const char* longName;
        const char* units;
        double (*compute)(const physicalQuantity& phy, float** columns, float* p, int n);
    };
    bool profileDerivation(CachedData& store, const ProfileStep& step);
    // Divergence of (scale x u, scale x v) through the library, per level.
    bool divergence(CachedData& store, const char* trigger, const char* presentName, const char* name,
                    const char* longName, const char* units, bool moistureFlux);
    // Advection of `field` (temperature or height) by the wind, per level.
    bool advection(CachedData& store, bool vorticity);

    bool windComponents(CachedData& store, const char* direction, const char* speed, const char* uName,
                        const char* vName);
};
