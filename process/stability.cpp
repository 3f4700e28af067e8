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
constexpr float kMissing = 9999.0f;

// The last record of exactly that level, or null.
const p_data* fixedLevel(const std::vector<p_data>* records, int level)
{
    const p_data* found = nullptr;
    if (records)
        for (const p_data& r : *records)
            if (r.level == level)
                found = &r;
    return found;
}

// Temperature and a second quantity at 850, 700 and 500 hPa, in that order
// (t850, t700, t500, x850, x700, x500); false when any of them is missing.
struct ThreeLevels {
    std::vector<p_data>* second = nullptr;
    const p_data *t850 = nullptr, *t700 = nullptr, *t500 = nullptr;
    const p_data *x850 = nullptr, *x700 = nullptr, *x500 = nullptr;
};

bool threeLevels(CachedData& store, const char* secondName, ThreeLevels& l)
{
    std::vector<p_data>* tmp = input(store, {"TMP"});
    l.second = input(store, {secondName});
    l.t850 = fixedLevel(tmp, 850);
    l.t700 = fixedLevel(tmp, 700);
    l.t500 = fixedLevel(tmp, 500);
    l.x850 = fixedLevel(l.second, 850);
    l.x700 = fixedLevel(l.second, 700);
    l.x500 = fixedLevel(l.second, 500);
    return l.t850 && l.t700 && l.t500 && l.x850 && l.x700 && l.x500;
}

float celsius(double v)
{
    return static_cast<float>(v) - kT0;
}

// One value of an index per point, from fixed-level records of one grid;
// `compute(i)` gives the value at point i.
template <typename Compute>
p_data indexRecord(const p_data& templ, const char* name, const char* longName, const char* units, size_t points,
                   Compute compute)
{
    p_data out = derived(templ, name, longName, units);
    out.level = 0;
    out.data.resize(points);
    for (size_t i = 0; i < points; ++i)
        out.data[i] = compute(i);
    return out;
}

bool anyFill(size_t i, std::initializer_list<const p_data*> records)
{
    for (const p_data* r : records)
        if (i >= r->data.size() || r->data[i] == static_cast<double>(r->prop_fillValue))
            return true;
    return false;
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

// Builds the profiles of the first input (`records`, its row's level text)
// and of partners taken at the same level. Temperatures and dew points
// above 160 are kelvin and become degrees Celsius. False when the level text
// is empty or no record fits.
bool buildProfiles(const std::string& levelText, const std::vector<p_data>& records,
                   const std::vector<const std::vector<p_data>*>& partners, const std::vector<bool>& temperature,
                   Profiles& out)
{
    std::vector<float> list;
    float count = 0;
    if (dataProcess::containLevel(levelText, list, count) != 0 || list.empty() || records.empty()) {
        qDebug("no data");
        return false;
    }
    out.n = static_cast<int>(list.size());
    out.p = list;
    std::sort(out.p.begin(), out.p.end(), std::greater<float>());
    out.points = records.front().data.size();
    out.vars.assign(partners.size() + 1, std::vector<float>(out.points * static_cast<size_t>(out.n), kMissing));

    for (const p_data& r : records) {
        if (dataProcess::geTLevelIndex(static_cast<float>(r.level), list) < 0)
            continue;
        const float pa = static_cast<float>(r.level) * 100.0f;
        const size_t slot = static_cast<size_t>(std::find(out.p.begin(), out.p.end(), pa) - out.p.begin());
        std::vector<const p_data*> sources = {&r};
        for (const std::vector<p_data>* partner : partners)
            sources.push_back(&atLevel(*partner, r.level));
        for (size_t v = 0; v < sources.size(); ++v) {
            const p_data& s = *sources[v];
            if (s.data.size() != out.points)
                continue;
            for (size_t i = 0; i < out.points; ++i) {
                double value = s.data[i];
                const bool missing = value == kMissing || value == static_cast<double>(s.prop_fillValue);
                float stored = missing ? kMissing : static_cast<float>(value);
                if (!missing && temperature[v] && value > 160.0)
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
    ThreeLevels l;
    if (!threeLevels(store, "TD", l)) {
        qDebug("data error");
        qDebug("%d %d %d %d %d %d", l.t850 ? 1 : 0, l.t700 ? 1 : 0, l.t500 ? 1 : 0, l.x850 ? 1 : 0, l.x700 ? 1 : 0,
               l.x500 ? 1 : 0);
        return false;
    }
    const p_data *t850 = l.t850, *t700 = l.t700, *t500 = l.t500, *d850 = l.x850, *d700 = l.x700, *d500 = l.x500;
    std::vector<p_data>* td = l.second;
    std::vector<p_data> out = {indexRecord(td->back(), "ai", "AI Index", "K", t500->data.size(), [&](size_t i) {
        for (const p_data* r : {t850, d850, t700, t500, d700, d500})
            if (i >= r->data.size() || r->data[i] == kMissing)
                return static_cast<double>(kMissing);
        float a = kMissing;
        m_phy->cal_A(&a, celsius(t850->data[i]), celsius(d850->data[i]), celsius(t700->data[i]),
                     celsius(t500->data[i]), celsius(d700->data[i]), celsius(d500->data[i]), kMissing);
        return static_cast<double>(a);
    })};
    file(out, store);
    return true;
}

bool dataProcess::touch_KI(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL KI ");
    if (!wanted("ki__") || present(store, "KI"))
        return false;
    ThreeLevels l;
    if (!threeLevels(store, "RH", l)) {
        KV_LOG_ERROR("[PROCESS] DATA ERROR ");
        return false;
    }
    const p_data *t850 = l.t850, *t700 = l.t700, *t500 = l.t500, *r850 = l.x850, *r700 = l.x700;
    std::vector<p_data>* rh = l.second;
    std::vector<p_data> out = {indexRecord(rh->back(), "ki", "KI Index", "K", t500->data.size(), [&](size_t i) {
        if (anyFill(i, {t500, t700, t850, r700, r850}))
            return static_cast<double>(kMissing);
        return static_cast<double>(physicalQuantity::cal_KI(
            static_cast<float>(t500->data[i]), static_cast<float>(t700->data[i]), static_cast<float>(t850->data[i]),
            static_cast<float>(r700->data[i]), static_cast<float>(r850->data[i])));
    })};
    file(out, store);
    return true;
}

bool dataProcess::touch_TT(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL TT ");
    if (!wanted("tt__") || present(store, "TT"))
        return false;
    ThreeLevels l;
    if (!threeLevels(store, "RH", l)) {
        qDebug("data error");
        return false;
    }
    // The 700 hPa fields are required although the formula does not use them.
    const p_data *t850 = l.t850, *t500 = l.t500, *r850 = l.x850;
    std::vector<p_data>* rh = l.second;
    std::vector<p_data> out = {indexRecord(rh->back(), "tt", "tt Index", "K", t500->data.size(), [&](size_t i) {
        if (anyFill(i, {t500, t850, r850}))
            return static_cast<double>(kMissing);
        return static_cast<double>(physicalQuantity::cal_TT(static_cast<float>(t500->data[i]),
                                                            static_cast<float>(t850->data[i]),
                                                            static_cast<float>(r850->data[i])));
    })};
    file(out, store);
    return true;
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
    std::vector<p_data>* tmp = input(store, {"TMP"});
    const p_data *t500 = fixedLevel(tmp, 500), *t1000 = fixedLevel(tmp, 1000);
    if (!t500 || !t1000) {
        qDebug("data error");
        return false;
    }
    std::vector<p_data> out = {indexRecord(tmp->back(), "li", "L Index", "K", t500->data.size(), [&](size_t i) {
        if (anyFill(i, {t500, t1000}))
            return static_cast<double>(kMissing);
        return static_cast<double>(
            physicalQuantity::cal_LI(static_cast<float>(t500->data[i]), static_cast<float>(t1000->data[i])));
    })};
    file(out, store);
    return true;
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
    ThreeLevels l;
    if (!threeLevels(store, "TD", l)) {
        qDebug("data error");
        return false;
    }
    const p_data *t850 = l.t850, *t500 = l.t500, *d850 = l.x850;
    std::vector<p_data>* td = l.second;
    std::vector<p_data> out = {indexRecord(td->back(), "si", "S Index", "K", t500->data.size(), [&](size_t i) {
        if (i >= t850->data.size() || i >= d850->data.size())
            return static_cast<double>(kMissing);
        float si = kMissing;
        m_phy->cal_si(&si, celsius(t500->data[i]), celsius(t850->data[i]), celsius(d850->data[i]), kMissing);
        return static_cast<double>(si);
    })};
    file(out, store);
    return true;
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
    std::vector<p_data>* u = input(store, {"EDA"});
    std::vector<p_data>* v = input(store, {"VV"});
    std::vector<p_data>* tmp = input(store, {"TMP"});
    std::vector<p_data>* td = input(store, {"TD"});
    if (!u || !v || !tmp || !td) {
        qDebug("no data");
        return false;
    }
    const p_data *u850 = fixedLevel(u, 850), *v850 = fixedLevel(v, 850), *u500 = fixedLevel(u, 500),
                 *v500 = fixedLevel(v, 500), *t850 = fixedLevel(tmp, 850), *t500 = fixedLevel(tmp, 500),
                 *d850 = fixedLevel(td, 850);
    if (!u850 || !v850 || !u500 || !v500 || !t850 || !t500 || !d850) {
        qDebug("data error");
        return false;
    }
    std::vector<p_data> out = {indexRecord(td->back(), "sweat", "sweat", "", t500->data.size(), [&](size_t i) {
        for (const p_data* r : {u850, v850, u500, v500, t850, d850})
            if (i >= r->data.size())
                return static_cast<double>(kMissing);
        float s = kMissing;
        m_phy->cal_sweat(&s, static_cast<float>(u850->data[i]), static_cast<float>(v850->data[i]),
                         static_cast<float>(u500->data[i]), static_cast<float>(v500->data[i]), celsius(t850->data[i]),
                         celsius(d850->data[i]), celsius(t500->data[i]), kMissing);
        return static_cast<double>(s);
    })};
    file(out, store);
    return true;
}

bool dataProcess::touch_EQT(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL EQT ");
    if (!m_phy->cal_thetse || !wanted("eqt__"))
        return false;
    std::vector<p_data>* tmp = input(store, {"TMP"});
    std::vector<p_data>* td = input(store, {"TD"});
    if (!tmp || !td)
        return false;
    std::vector<p_data> out;
    bool complete = true;
    for (size_t k = 0; k < tmp->size(); ++k) {
        const p_data& t = (*tmp)[k];
        const p_data* d = atPosition(*td, k, t.level);
        if (!d) {
            complete = false;
            break;
        }
        if (!sameSize(t, {d}))
            continue;
        p_data e = derived(t, "eqt", "Potential pseudo-equivalent temperature", "K");
        const float pa = static_cast<float>(t.level) * 100.0f;
        for (size_t i = 0; i < t.data.size(); ++i) {
            float theta = kMissing;
            m_phy->cal_thetse(&theta, celsius(t.data[i]), celsius(d->data[i]), pa, kMissing);
            e.data[i] = theta;
        }
        out.push_back(std::move(e));
    }
    file(out, store);
    return complete;
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
    std::vector<const std::vector<p_data>*> inputs;
    for (const char* name : step.inputs) {
        std::vector<p_data>* found = input(store, {name});
        if (!found || found->empty())
            return false;
        inputs.push_back(found);
    }
    const std::vector<p_data>& first = *inputs.front();
    const CSV_FILE* row = CsvFileParser::getInstance()->find(variableKey(first.front()));
    Profiles profiles;
    const std::vector<const std::vector<p_data>*> partners(inputs.begin() + 1, inputs.end());
    if (!row || !buildProfiles(row->levels, first, partners, step.temperature, profiles))
        return false;

    p_data out = derived(first.front(), step.name, step.longName, step.units);
    out.data.assign(profiles.points, kMissing);
    for (size_t i = 0; i < profiles.points; ++i) {
        float* columns[4] = {nullptr, nullptr, nullptr, nullptr};
        for (size_t v = 0; v < profiles.vars.size() && v < 4; ++v)
            columns[v] = profiles.column(v, i);
        out.data[i] = step.compute(*m_phy, columns, profiles.p.data(), profiles.n);
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
