// Stability indices at fixed levels and the per-column profile derivations.
#include "logging/qlogger.h"
#include "process/dataprocess.h"
#include "process/derivation.h"
#include "process/physicalquantity.h"
#include "table/csvfileparser.h"

#include <QtDebug>

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace derivation;

namespace {

constexpr float kT0 = 273.15f;
constexpr float kMissing = static_cast<float>(kLibraryMissing);

// Records of exactly the given levels, one per (output name, level) need, in
// that order; false, after saying which are absent, when any is.
bool fixedLevels(CachedData& store, const char* quantity, const std::vector<std::pair<const char*, int>>& needs,
                 std::vector<const p_data*>& found)
{
    found.clear();
    std::vector<std::vector<const char*>> names;
    std::vector<int> levels;
    for (const auto& [name, level] : needs) {
        found.push_back(exactLevel(input(store, {name}), level));
        if (!found.back()) {
            names.push_back({name});
            levels.push_back(level);
        }
    }
    if (names.empty())
        return true;
    sayLacking(quantity, names, levels);
    return false;
}

float celsius(double v)
{
    return static_cast<float>(v) - kT0;
}

// One value of an index per point, from fixed-level records of one grid,
// under the fill rule with the template's fill value: `value(i)` gives the
// value at point i where none of `records` is missing.
template <typename Value>
p_data indexRecord(const p_data& templ, const char* name, const char* longName, const char* units,
                   const std::vector<const p_data*>& records, size_t points, Value value)
{
    p_data out = derived(templ, name, longName, units);
    out.level = 0;
    out.data.resize(points);
    const double fill = templ.prop_fillValue;
    for (size_t i = 0; i < points; ++i) {
        bool missing = false;
        for (const p_data* r : records)
            missing = missing || missingAt(*r, i, fill);
        out.data[i] = missing ? fill : fromLibrary(static_cast<double>(value(i)), fill);
    }
    return out;
}

// Files the one record of an index made from `records` (see indexRecord),
// labelled from the last record of the template's input.
template <typename Value>
bool fileIndex(CachedData& store, const char* templateInput, const char* name, const char* longName,
               const char* units, const std::vector<const p_data*>& records, Value value)
{
    const p_data& templ = input(store, {templateInput})->back();
    std::vector<p_data> out = {indexRecord(templ, name, longName, units, records, records.front()->data.size(), value)};
    file(out, store);
    return true;
}

// Per-column profiles of the levels a row lists. Entry 0 is the lowest
// level (largest pressure), whatever the order of the list; levels without
// a record and missing values hold 9999, the library's missing value.
struct Profiles {
    int n = 0;
    size_t points = 0;
    std::vector<float> p;                 // Pa, decreasing
    std::vector<std::vector<float>> vars;  // per input: points x n, column-major by point

    float* column(size_t var, size_t point) { return vars[var].data() + point * static_cast<size_t>(n); }
};

// Builds the profiles of the inputs at the levels of the first input's row:
// a level takes the first input's record of exactly that level and each
// partner's of the same level. Temperatures and dew points above 160 are
// kelvin and become degrees Celsius. False when the list names no level.
bool buildProfiles(const std::string& levelText, const std::vector<const std::vector<p_data>*>& inputs,
                   const std::vector<bool>& temperature, Profiles& out)
{
    const std::vector<double> levels = columnLevels(levelText);
    if (levels.empty()) {
        qDebug("no data");
        return false;
    }
    out.n = static_cast<int>(levels.size());
    for (double level : levels)
        out.p.push_back(static_cast<float>(level) * 100.0f);
    out.points = inputs.front()->front().data.size();
    out.vars.assign(inputs.size(), std::vector<float>(out.points * static_cast<size_t>(out.n), kMissing));

    for (size_t slot = 0; slot < levels.size(); ++slot) {
        if (!exactLevel(inputs.front(), levels[slot]))
            continue;
        for (size_t v = 0; v < inputs.size(); ++v) {
            const p_data* s = exactLevel(inputs[v], levels[slot]);
            if (!s || s->data.size() != out.points)
                continue;
            for (size_t i = 0; i < out.points; ++i) {
                const double value = s->data[i];
                float stored = static_cast<float>(value);
                if (missingAt(*s, i, kLibraryMissing))
                    stored = kMissing;
                else if (temperature[v] && value > 160.0)
                    stored = celsius(value);
                out.column(v, i)[slot] = stored;
            }
        }
    }
    return true;
}

}  // namespace

bool dataProcess::touch_AI(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL AI ");
    if (!m_phy->cal_A) {
        qDebug("no cal_A");
        return false;
    }
    if (!wanted("ai__") || present(store, "AI"))
        return false;
    std::vector<const p_data*> r;
    if (!fixedLevels(store, "ai", {{"TMP", 500}, {"TMP", 850}, {"TD", 850}, {"TMP", 700}, {"TD", 700}, {"TD", 500}},
                     r)) {
        qDebug("data error");
        qDebug("%d %d %d %d %d %d", r[1] ? 1 : 0, r[3] ? 1 : 0, r[0] ? 1 : 0, r[2] ? 1 : 0, r[4] ? 1 : 0,
               r[5] ? 1 : 0);
        return false;
    }
    return fileIndex(store, "TD", "ai", "AI Index", "K", r, [&](size_t i) {
        float a = kMissing;
        m_phy->cal_A(&a, celsius(r[1]->data[i]), celsius(r[2]->data[i]), celsius(r[3]->data[i]),
                     celsius(r[0]->data[i]), celsius(r[4]->data[i]), celsius(r[5]->data[i]), kMissing);
        return a;
    });
}

bool dataProcess::touch_KI(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL KI ");
    if (!wanted("ki__") || present(store, "KI"))
        return false;
    // RH at 500 hPa is required although the formula does not use it.
    std::vector<const p_data*> r;
    if (!fixedLevels(store, "ki", {{"TMP", 500}, {"TMP", 700}, {"TMP", 850}, {"RH", 700}, {"RH", 850}, {"RH", 500}},
                     r)) {
        KV_LOG_ERROR("[PROCESS] DATA ERROR ");
        return false;
    }
    r.pop_back();
    return fileIndex(store, "RH", "ki", "KI Index", "K", r, [&](size_t i) {
        return physicalQuantity::cal_KI(static_cast<float>(r[0]->data[i]), static_cast<float>(r[1]->data[i]),
                                        static_cast<float>(r[2]->data[i]), static_cast<float>(r[3]->data[i]),
                                        static_cast<float>(r[4]->data[i]));
    });
}

bool dataProcess::touch_TT(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL TT ");
    if (!wanted("tt__") || present(store, "TT"))
        return false;
    // The 700 hPa fields and RH at 500 hPa are required although the formula
    // does not use them.
    std::vector<const p_data*> r;
    if (!fixedLevels(store, "tt", {{"TMP", 500}, {"TMP", 850}, {"RH", 850}, {"TMP", 700}, {"RH", 700}, {"RH", 500}},
                     r)) {
        qDebug("data error");
        return false;
    }
    r.resize(3);
    return fileIndex(store, "RH", "tt", "tt Index", "K", r, [&](size_t i) {
        return physicalQuantity::cal_TT(static_cast<float>(r[0]->data[i]), static_cast<float>(r[1]->data[i]),
                                        static_cast<float>(r[2]->data[i]));
    });
}

bool dataProcess::touch_LI(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL LI ");
    if (!m_phy->cal_li) {
        qDebug("no cal_li");
        return false;
    }
    if (!wanted("li__") || present(store, "LI"))
        return false;
    std::vector<const p_data*> r;
    if (!fixedLevels(store, "li", {{"TMP", 500}, {"TMP", 1000}}, r)) {
        qDebug("data error");
        return false;
    }
    return fileIndex(store, "TMP", "li", "L Index", "K", r, [&](size_t i) {
        return physicalQuantity::cal_LI(static_cast<float>(r[0]->data[i]), static_cast<float>(r[1]->data[i]));
    });
}

bool dataProcess::touch_SI(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL SI ");
    if (!m_phy->cal_si) {
        qDebug("no cal_s");
        return false;
    }
    if (!wanted("si__") || present(store, "SI"))
        return false;
    // The 700 hPa fields and the 700 and 500 hPa dew points are required
    // although the index does not use them.
    std::vector<const p_data*> r;
    if (!fixedLevels(store, "si", {{"TMP", 500}, {"TMP", 850}, {"TD", 850}, {"TMP", 700}, {"TD", 700}, {"TD", 500}},
                     r)) {
        qDebug("data error");
        return false;
    }
    r.resize(3);
    return fileIndex(store, "TD", "si", "S Index", "K", r, [&](size_t i) {
        float si = kMissing;
        m_phy->cal_si(&si, celsius(r[0]->data[i]), celsius(r[1]->data[i]), celsius(r[2]->data[i]), kMissing);
        return si;
    });
}

bool dataProcess::touch_SWEAT(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL SWEAT ");
    if (!m_phy->cal_sweat) {
        qDebug("no cal_SWEAT");
        return false;
    }
    if (!wanted("sweat__") || present(store, "SWEAT"))
        return false;
    if (inputs(store, "sweat", {{"EDA"}, {"VV"}, {"TMP"}, {"TD"}}).empty()) {
        qDebug("no data");
        return false;
    }
    std::vector<const p_data*> r;
    if (!fixedLevels(store, "sweat",
                     {{"TMP", 500}, {"EDA", 850}, {"VV", 850}, {"EDA", 500}, {"VV", 500}, {"TMP", 850}, {"TD", 850}},
                     r)) {
        qDebug("data error");
        return false;
    }
    return fileIndex(store, "TD", "sweat", "sweat", "", r, [&](size_t i) {
        float s = kMissing;
        m_phy->cal_sweat(&s, static_cast<float>(r[1]->data[i]), static_cast<float>(r[2]->data[i]),
                         static_cast<float>(r[3]->data[i]), static_cast<float>(r[4]->data[i]), celsius(r[5]->data[i]),
                         celsius(r[6]->data[i]), celsius(r[0]->data[i]), kMissing);
        return s;
    });
}

bool dataProcess::touch_EQT(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL EQT ");
    if (!m_phy->cal_thetse || !wanted("eqt__"))
        return false;
    const std::vector<std::vector<p_data>*> in = inputs(store, "eqt", {{"TMP"}, {"TD"}});
    if (in.empty())
        return false;
    return pairedByPosition(store, *in[0], *in[1], "eqt", "Potential pseudo-equivalent temperature", "K",
                            [&](const p_data& t, const p_data& d, size_t i) {
                                float theta = kMissing;
                                m_phy->cal_thetse(&theta, celsius(t.data[i]), celsius(d.data[i]),
                                                  static_cast<float>(t.level) * 100.0f, kMissing);
                                return fromLibrary(theta, t.prop_fillValue);
                            });
}

bool dataProcess::profileDerivation(CachedData& store, const ProfileStep& step)
{
    KV_LOG_DEBUG(step.startMessage);
    if (!step.bound) {
        if (step.unboundMessage)
            qDebug("%s", step.unboundMessage);
        return false;
    }
    if (!wanted(step.trigger) || (step.presentName && present(store, step.presentName)))
        return false;
    std::vector<std::vector<const char*>> names;
    for (const char* name : step.inputs)
        names.push_back({name});
    const std::vector<std::vector<p_data>*> found = inputs(store, step.name, names);
    if (found.empty())
        return false;
    const std::vector<p_data>& first = *found.front();
    const CSV_FILE* row = CsvFileParser::getInstance()->find(variableKey(first.front()));
    if (!row || columnLevels(row->levels).empty())
        sayNoLevels(step.name, step.inputs.front());
    Profiles profiles;
    if (!row || !buildProfiles(row->levels, {found.begin(), found.end()}, step.temperature, profiles))
        return false;

    p_data out = derived(first.front(), step.name, step.longName, step.units);
    const double fill = out.prop_fillValue;
    out.data.assign(profiles.points, fill);
    // Columns are independent and the library keeps no state between calls:
    // any number of threads gives the same values.
    const long points = static_cast<long>(profiles.points);
#pragma omp parallel for schedule(dynamic, 64)
    for (long c = 0; c < points; ++c) {
        const size_t i = static_cast<size_t>(c);
        float* columns[4] = {nullptr, nullptr, nullptr, nullptr};
        for (size_t v = 0; v < profiles.vars.size() && v < 4; ++v)
            columns[v] = profiles.column(v, i);
        out.data[i] = fromLibrary(step.compute(*m_phy, columns, profiles.p.data(), profiles.n), fill);
    }
    std::vector<p_data> records = {std::move(out)};
    file(records, store);
    return true;
}

namespace {

double heightOf(const physicalQuantity& phy, float temperature, float** c, float* p, int n)
{
    float h = kMissing;
    phy.cal_HT(&h, temperature, c[0], c[1], p, n, kMissing);
    return h == kMissing ? kMissing : static_cast<double>(h) * 0.001;
}

}  // namespace

bool dataProcess::touch_H20C(CachedData& store)
{
    return profileDerivation(store, {"[PROCESS] CAL H20C ", m_phy->cal_HT != nullptr, "no cal_rh", "H-20C__", nullptr,
                                     {"TMP", "HGT"}, {true, false}, "H-20C", "Height of -20 degrees celsius", "km",
                                     [](const physicalQuantity& phy, float** c, float* p, int n) {
                                         return heightOf(phy, -20.0f, c, p, n);
                                     }});
}

bool dataProcess::touch_H0C(CachedData& store)
{
    return profileDerivation(store, {"[PROCESS] CAL H0C ", m_phy->cal_HT != nullptr, "no cal_rh", "H0C__", nullptr,
                                     {"TMP", "HGT"}, {true, false}, "H0C", "Height of 0 degrees celsius", "km",
                                     [](const physicalQuantity& phy, float** c, float* p, int n) {
                                         return heightOf(phy, 0.0f, c, p, n);
                                     }});
}

bool dataProcess::touch_PW(CachedData& store)
{
    return profileDerivation(store, {"[PROCESS] CAL PW ", true, nullptr, "PW__", "PW", {"TD"}, {true}, "PW",
                                     "Precipitable water", "cm",
                                     [](const physicalQuantity&, float** c, float* p, int n) {
                                         float pw = 0;
                                         physicalQuantity::cal_pw(&pw, c[0], p, n, kMissing);
                                         return static_cast<double>(pw * 0.1f);
                                     }});
}

bool dataProcess::touch_CAPE(CachedData& store)
{
    return profileDerivation(store, {"[PROCESS] CAL CAPE ", m_phy->cal_cape != nullptr, nullptr, "CAPE__", "CAPE",
                                     {"TMP", "HGT", "TD"}, {true, false, true}, "CAPE",
                                     "Convective available potential energy", "",
                                     [](const physicalQuantity& phy, float** c, float* p, int n) {
                                         float cape = kMissing, gcape = kMissing;
                                         phy.cal_cape(&cape, &gcape, c[0], c[2], c[1], p, n, kMissing);
                                         return static_cast<double>(cape);
                                     }});
}

bool dataProcess::touch_DCAPE(CachedData& store)
{
    return profileDerivation(store, {"[PROCESS] CAL DCAPE ", m_phy->cal_dcape != nullptr, nullptr, "DCAPE__", "DCAPE",
                                     {"TMP", "HGT", "TD"}, {true, false, true}, "DCAPE",
                                     "Down convective available potential energy", "",
                                     [](const physicalQuantity& phy, float** c, float* p, int n) {
                                         float dcape = kMissing;
                                         phy.cal_dcape(&dcape, c[0], c[2], c[1], p, n, kMissing);
                                         return static_cast<double>(dcape);
                                     }});
}

bool dataProcess::touch_TCL(CachedData& store)
{
    return profileDerivation(store, {"[PROCESS] CAL TCL ", m_phy->cal_tcl != nullptr, nullptr, "TCL__", "TCL",
                                     {"TMP", "TD"}, {true, true}, "TCL", "Lifting condensation level", "",
                                     [](const physicalQuantity& phy, float** c, float* p, int n) {
                                         float pressure = kMissing, temperature = kMissing, height = kMissing;
                                         phy.cal_tcl(&pressure, &temperature, &height, c[0], c[1], p, n, kMissing);
                                         return static_cast<double>(height);
                                     }});
}
