#include "process/dataprocess.h"

#include "logging/qlogger.h"
#include "process/derivation.h"
#include "process/physicalquantity.h"
#include "process/scaling.h"
#include "table/csvfileparser.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace derivation;

namespace {

constexpr double kT0 = 273.15;

template <typename Number>
int parseLevels(const std::string& text, std::vector<Number>& levels, Number& count)
{
    if (text.empty())
        return -1;
    for (double level : listedLevels(text))
        levels.push_back(static_cast<Number>(level) * static_cast<Number>(100));
    count = static_cast<Number>(levels.size());
    return 0;
}

template <typename Number>
int levelIndex(float level, const std::vector<Number>& levels)
{
    const Number pa = static_cast<Number>(level) * static_cast<Number>(100);
    for (size_t i = 0; i < levels.size(); ++i)
        if (levels[i] == pa)
            return static_cast<int>(i);
    return -1;
}

}  // namespace

dataProcess::dataProcess() : m_phy(new physicalQuantity())
{
    forgetSaid();
}

dataProcess::dataProcess(physicalQuantity* phy) : m_phy(phy)
{
    forgetSaid();
}

dataProcess::~dataProcess()
{
    delete m_phy;
}

void dataProcess::process(CachedData* stores)
{
    const int last = std::clamp<int>(g_collect_number, 0, kMemberSlots - 1);
    for (int i = 0; i <= last; ++i) {
        std::printf("%d\n", g_collect_number);
        process(stores[i]);
    }
    std::fflush(stdout);
}

namespace {

size_t recordCount(const CachedData& store)
{
    size_t n = 0;
    for (const auto& [key, records] : store)
        n += records.size();
    return n;
}

}  // namespace

void dataProcess::process(CachedData& store)
{
    scaleBeforeDerivations(store);
    // The run order matters: later steps use what earlier ones filed.
    chooseTP(store);
    wswd2uv(store);
    wswd2uv10m(store);
    wswd2uv100m(store);
    // Each derivation in turn, noting whether it filed records.
    size_t k = 0;
    auto step = [&](auto derivation) {
        if (m_filed.size() <= k)
            m_filed.resize(k + 1, false);
        const size_t before = recordCount(store);
        derivation();
        if (recordCount(store) != before)
            m_filed[k] = true;
        ++k;
    };
    step([&] { touch_TD_DEPR(store); });
    step([&] { touch_AI(store); });
    step([&] { touch_KI(store); });
    step([&] { touch_TT(store); });
    step([&] { touch_LI(store); });
    step([&] { touch_SI(store); });
    step([&] { touch_SWEAT(store); });
    step([&] { touch_VOR_NEW(store); });
    step([&] { touch_ERH2M(store); });
    step([&] { touch_EGH(store); });
    step([&] { touch_EQT(store); });
    step([&] { touch_H20C(store); });
    step([&] { touch_H0C(store); });
    step([&] { touch_SHR(store); });
    step([&] { touch_Q(store); });
    step([&] { touch_2D(store); });
    step([&] { touch_2Q_DEPR(store); });
    step([&] { touch_NEW_W(store); });
    step([&] { touch_DEPR2M(store); });
    step([&] { touch_QGS(store); });
    step([&] { touch_EDI(store); });
    step([&] { touch_EDIQ(store); });
    step([&] { touch_UQS(store); });
    step([&] { touch_PW(store); });
    step([&] { touch_CAPE(store); });
    step([&] { touch_DCAPE(store); });
    step([&] { touch_TCL(store); });
    step([&] { touch_TMPA(store); });
    step([&] { touch_VORA(store); });
    step([&] { touch_PT(store); });
    step([&] { touch_PV(store); });
    step([&] { touch_UYVX(store); });
    std::fflush(stdout);
}

size_t dataProcess::derivationsRun() const
{
    return static_cast<size_t>(std::count(m_filed.begin(), m_filed.end(), true));
}

void dataProcess::insert(const p_data& record, CachedData& store)
{
    store[variableKey(record)].push_back(record);
}

int dataProcess::containLevel(std::string levelText, std::vector<float>& levels, float& count)
{
    return parseLevels(levelText, levels, count);
}

int dataProcess::containLevel2(std::string levelText, std::vector<double>& levels, double& count)
{
    return parseLevels(levelText, levels, count);
}

int dataProcess::geTLevelIndex(float level, std::vector<float> levels)
{
    return levelIndex(level, levels);
}

int dataProcess::geTLevelIndex2(float level, std::vector<double> levels)
{
    return levelIndex(level, levels);
}

bool dataProcess::choosePdataByLevel(std::vector<p_data> records, int level, p_data& out)
{
    for (p_data& r : records) {
        if (r.level == level) {
            out = std::move(r);
            return true;
        }
    }
    return false;
}

bool dataProcess::chooseTP(CachedData& store)
{
    std::vector<p_data>* tp = input(store, {"TP"});
    if (!tp)
        return false;
    if (tp->size() <= 1) {
        std::printf("e2:%zu\n", tp->size());
        return false;
    }
    std::vector<int32_t> maxima;
    for (const p_data& r : *tp) {
        int32_t m = 0;
        for (double v : r.data)
            if (v > m)
                m = static_cast<int32_t>(v);
        maxima.push_back(m);
    }
    const int32_t best = *std::max_element(maxima.begin(), maxima.end());
    if (best <= 0) {
        std::printf("e1\n");
        return false;
    }
    const size_t chosen = static_cast<size_t>(std::find(maxima.begin(), maxima.end(), best) - maxima.begin());
    for (size_t k = 0; k < tp->size(); ++k) {
        p_data& r = (*tp)[k];
        if (k == chosen) {
            r.forecastTime = g_forcastTime;
        } else {
            r.factorShortName = "drpTp";
            r.forecastTime = -1;
        }
    }
    // The fields share one level, and the writer keeps the last one of a
    // level: the chosen field goes last, so that it is the one written.
    std::rotate(tp->begin() + static_cast<std::ptrdiff_t>(chosen), tp->begin() + static_cast<std::ptrdiff_t>(chosen) + 1,
                tp->end());
    return true;
}

int dataProcess::calUv(double speed, double direction, double* u, double* v, double missing)
{
    if (speed == missing || direction == missing) {
        *u = missing;
        *v = missing;
        return 1;
    }
    const double a = direction * 3.141592653589 / 180.0;
    *u = direction == 90.0 || direction == 270.0 ? 0.0 : speed * std::cos(a);
    *v = direction == 180.0 ? 0.0 : speed * std::sin(a);
    return 1;
}

bool dataProcess::windComponents(CachedData& store, const char* direction, const char* speed, const char* uName,
                                 const char* vName)
{
    std::vector<p_data>* wd = input(store, {direction});
    std::vector<p_data>* ws = input(store, {speed});
    if (!wd || !ws)
        return false;
    std::vector<p_data> out;
    bool complete = true;
    for (size_t k = 0; k < wd->size(); ++k) {
        if (k >= ws->size()) {
            std::perror("data error");
            complete = false;
            break;
        }
        const p_data& d = (*wd)[k];
        const p_data& s = (*ws)[k];
        if (!sameSize(d, {&s}))
            continue;
        p_data u = derived(d, uName, "U component of wind", "m s**-1");
        p_data v = derived(d, vName, "U component of wind", "m s**-1");
        const double missing = d.prop_fillValue;
        for (size_t i = 0; i < d.data.size(); ++i) {
            // The speed may carry a fill value of its own.
            const double speed = missingAt(s, i, missing) ? missing : s.data[i];
            calUv(speed, d.data[i], &u.data[i], &v.data[i], missing);
        }
        out.push_back(std::move(u));
        out.push_back(std::move(v));
    }
    file(out, store);
    return complete;
}

bool dataProcess::wswd2uv(CachedData& store)
{
    return windComponents(store, "WD", "WS", "u", "v");
}

bool dataProcess::wswd2uv10m(CachedData& store)
{
    return windComponents(store, "10WD", "10WS", "10u", "10v");
}

bool dataProcess::wswd2uv100m(CachedData& store)
{
    return windComponents(store, "100WD", "100WS", "100u", "100v");
}

bool dataProcess::touch_TD_DEPR(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL TD ");
    KV_LOG_DEBUG("[PROCESS] CAL DEPR ");
    if (!wanted("td__"))
        return false;
    const bool tdPresent = present(store, "TD");
    const bool deprPresent = present(store, "DEPR");
    if (tdPresent && deprPresent)
        return false;
    const std::vector<std::vector<p_data>*> in = inputs(store, "td", {{"TMP"}, {"RH"}});
    if (in.empty())
        return false;
    std::vector<p_data> out;
    for (const p_data& t : *in[0]) {
        const p_data& x = atLevel(*in[1], t.level);
        if (!sameSize(t, {&x}))
            continue;
        p_data td = derived(t, "td", "Dew point", "K");
        p_data depr = derived(t, "depr", "Temperature dew point difference", "K");
        const double m = t.prop_fillValue;
        for (size_t i = 0; i < t.data.size(); ++i) {
            // A humidity of 0 has no dew point: the point is missing, not NaN.
            td.data[i] = atPoint(i, t, {&x}, [&] {
                return physicalQuantity::cal_TD(static_cast<float>(t.data[i]), static_cast<float>(x.data[i]));
            });
            depr.data[i] = td.data[i] == m ? m : t.data[i] - td.data[i];
        }
        if (!tdPresent)
            out.push_back(std::move(td));
        if (!deprPresent)
            out.push_back(std::move(depr));
    }
    file(out, store);
    return true;
}

bool dataProcess::touch_2D(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL 2D ");
    return pairedByLevel(store,
                         {"2d__", "TD2M", {{"TMP2M", "ETO2M"}, {"RH2M", "2R"}}, "2d", "2 metre dewpoint temperature", "K"},
                         [](const p_data& t, const std::vector<const p_data*>& x, size_t i) {
                             // A humidity of 0 has no dew point: the fill rule makes it missing.
                             return physicalQuantity::cal_TD(static_cast<float>(t.data[i]),
                                                             static_cast<float>(x[0]->data[i]));
                         });
}

namespace {

// Specific humidity from temperature (K), relative humidity (%) and pressure (hPa).
double specificHumidity(double t, double rh, double p)
{
    const double c = t - kT0;
    const double es = 6.1121 * std::exp(17.67 * c / (243.5 + c));
    return 0.62197 * es / (p - 0.378 * es) * rh / 100.0;
}

}  // namespace

bool dataProcess::touch_Q(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL Q ");
    return pairedByLevel(store, {"Q__", "Q", {{"TMP"}, {"RH"}}, "Q", "specific humidity", "kg kg**-1"},
                         [](const p_data& t, const std::vector<const p_data*>& x, size_t i) {
                             return specificHumidity(t.data[i], x[0]->data[i], t.level);
                         });
}

bool dataProcess::touch_2Q_DEPR(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL 2Q ");
    return pairedByLevel(store,
                         {"2Q__", "Q2M", {{"TMP2M", "ETO2M"}, {"TD2M", "2D"}, {"SFPRES", "SPRE"}}, "2Q",
                          "2 metre specific humidity", "kg kg**-1"},
                         [](const p_data& t, const std::vector<const p_data*>& x, size_t i) {
                             return specificHumidity(t.data[i], x[0]->data[i], x[1]->data[i]);
                         });
}

bool dataProcess::touch_ERH2M(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL ERH2M ");
    if (!wanted("erh2m__"))
        return false;
    if (present(store, "RH2M"))
        return false;
    std::vector<p_data> out;
    if (std::vector<p_data>* r2 = input(store, {"2R"})) {
        for (const p_data& r : *r2)
            out.push_back(derived(r, "erh2m", "2 metre relative humidity", "%"));
        file(out, store);
        return true;
    }
    const std::vector<std::vector<p_data>*> in = inputs(store, "erh2m", {{"TMP2M", "ETO2M"}, {"TD2M", "2D"}});
    if (in.empty())
        return false;
    return pairedByPosition(store, *in[0], *in[1], "erh2m", "2 metre relative humidity", "%",
                            [](const p_data& t, const p_data& x, size_t i) {
                                return physicalQuantity::cal_RH(static_cast<float>(t.data[i]),
                                                                static_cast<float>(x.data[i]));
                            });
}

bool dataProcess::touch_DEPR2M(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL DEPR2M ");
    if (!wanted("depr2m__"))
        return false;
    if (present(store, "DEPR2M"))
        return false;
    const std::vector<std::vector<p_data>*> in = inputs(store, "depr2m", {{"ETO2M"}, {"2D"}});
    if (in.empty())
        return false;
    return pairedByPosition(store, *in[0], *in[1], "depr2m", "difference of 2m temperature and 2m dew point", "K",
                            [](const p_data& t, const p_data& x, size_t i) { return t.data[i] - x.data[i]; });
}

bool dataProcess::touch_EGH(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL EGH");
    return pairedByLevel(store, {"egh__", "EGH", {{"HGT"}}, "egh", "10m height", "dagpm"},
                         [](const p_data& h, const std::vector<const p_data*>&, size_t i) { return h.data[i] / 10.0; });
}

bool dataProcess::touch_QGS(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL QGS ");
    return pairedByLevel(store, {"QGS__", "QGS", {{"QSNOW"}, {"QGRAUP"}}, "QGS", "", ""},
                         [](const p_data& s, const std::vector<const p_data*>& g, size_t i) {
                             return s.data[i] + g[0]->data[i];
                         });
}

bool dataProcess::touch_NEW_W(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL W NEW ");
    // Filed under its surface name, not under its trigger key.
    return pairedByLevel(store,
                         {"nw__", "W", {{"TMP"}, {"OW"}}, "nw", "Vertical velocity", "m *s-1", "Isobaric surface"},
                         [](const p_data& t, const std::vector<const p_data*>& x, size_t i) {
                             return static_cast<double>(physicalQuantity::cal_W(static_cast<float>(x[0]->data[i]),
                                                                                static_cast<float>(t.data[i]),
                                                                                static_cast<float>(t.level)));
                         });
}

bool dataProcess::touch_PT(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL PT ");
    if (!wanted("PT__"))
        return false;
    if (present(store, "PT"))
        return false;
    const std::vector<std::vector<p_data>*> in = inputs(store, "PT", {{"TMP"}});
    if (in.empty())
        return false;
    std::vector<p_data> out;
    for (const p_data* t : byLevel(*in[0])) {
        p_data pt = derived(*t, "PT", "Potential temperature", "K");
        // Values below 160 are degrees Celsius.
        std::vector<double> kelvin = t->data;
        for (double& v : kelvin)
            if (v < 160.0)
                v += kT0;
        physicalQuantity::cal_PT(pt.data.data(), kelvin.data(), static_cast<int>(kelvin.size()), t->level, 9999.0f);
        const double fill = t->prop_fillValue;
        for (size_t i = 0; i < pt.data.size(); ++i)
            if (missingAt(*t, i, fill))
                pt.data[i] = fill;
        out.push_back(std::move(pt));
    }
    file(out, store);
    return true;
}
