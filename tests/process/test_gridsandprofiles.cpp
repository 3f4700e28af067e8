// The derivations over grids, fixed levels and per-column profiles, on
// stores built here, and on a real file end to end.
#include "process/dataprocess.h"
#include "process/physicalquantity.h"
#include "support/gribfiles.h"
#include "support/ncfile.h"
#include "support/programdir.h"
#include "support/tables.h"
#include "table/csvfileparser.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <memory>

#ifdef _OPENMP
#include <omp.h>
#endif

namespace {

constexpr double kPi = 3.1415926;

QString row(const QString& input, const QString& output, const QString& levels = "")
{
    QStringList f = variableRow(input, "", "", output).split(",");
    f[14] = levels;
    return f.join(",");
}

// A field on a regular grid from (lon0, lat0) with the step, value(lon, lat).
p_data grid(const std::string& name, int level, int nlon, int nlat, double lon0, double lat0, double step,
            const std::function<double(double, double)>& value)
{
    p_data f;
    f.factorShortName = name;
    f.level = level;
    f.prop_fillValue = 9999.0f;
    for (int i = 0; i < nlon; ++i)
        f.lon.push_back(lon0 + i * step);
    for (int j = 0; j < nlat; ++j)
        f.lat.push_back(lat0 + j * step);
    for (int j = 0; j < nlat; ++j)
        for (int i = 0; i < nlon; ++i)
            f.data.push_back(value(f.lon[i], f.lat[j]));
    return f;
}

p_data column(const std::string& name, int level, double value)
{
    return grid(name, level, 1, 1, 100, 30, 1, [=](double, double) { return value; });
}

class GridTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ::testing::internal::CaptureStdout();
        m_process = std::make_unique<dataProcess>(new physicalQuantity(KELVANE_CUMULEX_LIB));
        ::testing::internal::GetCapturedStdout();
        m_lib = m_process->m_phy;
    }
    void useTable(const QStringList& rows)
    {
        const QString path = m_dir.path() + "/table.csv";
        ASSERT_TRUE(writeBytes(path, tableText(",0,grib,2.0", "80,137,12,60", rows)));
        CsvFileParser::getInstance()->m_ocsv_for_read.clear();
        ASSERT_EQ(CsvFileParser::getInstance()->load(path), 0);
    }
    void add(p_data f) { m_store[variableKey(f)].push_back(std::move(f)); }
    const std::vector<p_data>* entry(const std::string& key)
    {
        const auto it = m_store.find(key);
        return it == m_store.end() ? nullptr : &it->second;
    }
    void run()
    {
        ::testing::internal::CaptureStdout();
        m_process->process(m_store);
        ::testing::internal::GetCapturedStdout();
    }
    QTemporaryDir m_dir;
    CachedData m_store;
    std::unique_ptr<dataProcess> m_process;
    physicalQuantity* m_lib = nullptr;
};

}  // namespace

TEST_F(GridTest, VorticityOnAThreeByThreeGridHasOnlyItsCentre)
{
    useTable({row("u", "EDA"), row("v", "VV"), row("vor", "VOR_OUT")});
    add(grid("u", 500, 3, 3, 100, 30, 1, [](double, double lat) { return -(lat - 31); }));
    add(grid("v", 500, 3, 3, 100, 30, 1, [](double lon, double) { return lon - 101; }));
    run();
    const p_data& vor = entry("vor__")->front();
    for (int i = 0; i < 9; ++i) {
        if (i != 4) {
            EXPECT_EQ(vor.data[static_cast<size_t>(i)], 9999.0) << i;
        }
    }
    // dv = 2 over two degrees of longitude, du = -2 over two of latitude, at 100000 and 111320 m per degree.
    const float expected = 100000.0f * (2.0f / (2.0f * 100000.0f) - (-2.0f) / (2.0f * 111320.0f));
    EXPECT_FLOAT_EQ(static_cast<float>(vor.data[4]), expected);
    EXPECT_EQ(vor.prop_units, "10**-5 s**-1");
}

TEST_F(GridTest, AdvectionDependsOnThePhysicalGradientNotOnTheGridStep)
{
    useTable({row("u", "EDA"), row("v", "VV"), row("t", "TMP"), row("TMPA", "TMPA")});
    const double R = 6371000.0, perMetre = kPi / 180.0 * R;
    std::vector<double> centre;
    for (double step : {1.0, 0.25}) {
        m_store.clear();
        // 0.5 K per degree of latitude, 0.2 K per degree of longitude, in degrees Celsius.
        auto temperature = [](double lon, double lat) { return 10 + 0.5 * (lat - 30) + 0.2 * (lon - 100); };
        add(grid("u", 500, 5, 5, 100, 30, step, [](double, double) { return 10.0; }));
        add(grid("v", 500, 5, 5, 100, 30, step, [](double, double) { return 4.0; }));
        add(grid("t", 500, 5, 5, 100, 30, step, temperature));
        run();
        const p_data& a = entry("TMPA__")->front();
        EXPECT_EQ(a.data[0], 9999.0);
        const double lat = 30 + 2 * step;
        const double expected = 10.0 * 0.2 / (std::cos(lat * kPi / 180) * perMetre) + 4.0 * 0.5 / perMetre;
        EXPECT_NEAR(a.data[12], expected, 1e-9 * std::fabs(expected)) << step;
        centre.push_back(a.data[12]);
    }
    // The same gradient at nearly the same latitude gives nearly the same advection.
    EXPECT_NEAR(centre[0], centre[1], 0.02 * std::fabs(centre[0]));
}

TEST_F(GridTest, VorticityAdvectionOfAUniformWind)
{
    useTable({row("u", "EDA"), row("v", "VV"), row("gh", "HGT"), row("VORA", "VORA")});
    // A uniform zonal wind on the sphere has the vorticity u tan(lat) / R, which the
    // meridional wind carries north.
    add(grid("u", 500, 6, 6, 100, 30, 0.5, [](double, double) { return 7.0; }));
    add(grid("v", 500, 6, 6, 100, 30, 0.5, [](double, double) { return -3.0; }));
    add(grid("gh", 500, 6, 6, 100, 30, 0.5, [](double, double) { return 5500.0; }));
    run();
    const p_data& a = entry("VORA__")->front();
    EXPECT_EQ(a.data[0], 9999.0);
    EXPECT_EQ(a.data[1 * 6 + 1], 9999.0);  // two-point margin
    const double R = 6371000.0, d = kPi / 180.0;
    const double zNorth = 7.0 * std::tan(31.5 * d) / R, zSouth = 7.0 * std::tan(30.5 * d) / R;
    const double expected = -3.0 * (zNorth - zSouth) / (R * 1.0 * d);
    EXPECT_NEAR(a.data[2 * 6 + 2], expected, 1e-6 * std::fabs(expected));
    EXPECT_EQ(a.prop_units, "s**-2");
}

TEST_F(GridTest, MoistureFluxSkipsLevelsMissingInAnInput)
{
    useTable({row("u", "EDA", "850;700;500"), row("v", "VV"), row("q", "Q"), row("uqs", "UQS_OUT")});
    for (int level : {850, 700, 500}) {
        add(grid("u", level, 2, 2, 100, 30, 1, [](double, double) { return 3.0; }));
        add(grid("v", level, 2, 2, 100, 30, 1, [](double, double) { return 4.0; }));
        if (level != 700)
            add(grid("q", level, 2, 2, 100, 30, 1, [=](double, double) { return level / 100.0; }));
    }
    run();
    const auto* fu = entry("fu__");
    ASSERT_NE(fu, nullptr);
    ASSERT_EQ(fu->size(), 2u);
    EXPECT_EQ((*fu)[0].level, 850);
    EXPECT_DOUBLE_EQ((*fu)[0].data[0], 5.0 * 8.5 / 9.8);
    const p_data& uqs = entry("uqs__")->front();
    EXPECT_EQ(uqs.level, 0);
    EXPECT_DOUBLE_EQ(uqs.data[3], 5.0 * 8.5 / 9.8 + 5.0 * 5.0 / 9.8);
}

TEST_F(GridTest, PotentialVorticityAtTheMiddleOfThreeLevels)
{
    useTable({row("t", "TMP", "850;700;500"), row("pt", "PT"), row("u", "EDA"), row("v", "VV"), row("vo", "VOR"),
              row("PV", "PV_OUT")});
    for (int level : {500, 700, 850}) {
        add(grid("t", level, 3, 3, 100, 30, 1, [=](double, double) { return 250.0 + level / 20.0; }));
        add(grid("pt", level, 3, 3, 100, 30, 1, [=](double, double) { return 330.0 - level / 20.0; }));
        add(grid("u", level, 3, 3, 100, 30, 1, [](double, double) { return 0.0; }));
        add(grid("v", level, 3, 3, 100, 30, 1, [](double, double) { return 0.0; }));
        add(grid("vo", level, 3, 3, 100, 30, 1, [](double, double) { return 1e-5; }));
    }
    run();
    const auto* pv = entry("PV__");
    ASSERT_NE(pv, nullptr);
    ASSERT_EQ(pv->size(), 1u);
    EXPECT_EQ(pv->front().level, 700);
    EXPECT_EQ(pv->front().data[0], 9999.0);
    // Without wind shear PV = -g (eta) d(theta)/dp, with eta at the centre row's own latitude.
    const float thetaP = ((330.0f - 500.0f / 20.0f) - (330.0f - 850.0f / 20.0f)) / (50000.0f - 85000.0f);
    const float eta = 1e-5f + 1.4584e-4f * std::sin(3.14159f * 31.0f / 180.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(pv->front().data[4]), thetaP * (-9.80665f) * eta);
}

TEST_F(GridTest, DeformationOfTheLayerMeanWind)
{
    useTable({row("u", "EDA", "850;500"), row("v", "VV"), row("UYVX", "UYVX_OUT")});
    for (int level : {850, 500}) {
        const double k = level == 850 ? 1 : 3;
        add(grid("u", level, 3, 3, 100, 30, 1, [=](double, double lat) { return k * lat; }));
        add(grid("v", level, 3, 3, 100, 30, 1, [=](double lon, double) { return k * lon; }));
    }
    run();
    // Mean wind: u = 2 lat, v = 2 lon, per degree.
    EXPECT_FLOAT_EQ(static_cast<float>(entry("UY__")->front().data[4]), 2.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(entry("VX__")->front().data[4]), 2.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(entry("UYVX__")->front().data[4]), 4.0f);
    EXPECT_EQ(entry("UYVX__")->front().data[1], 9999.0);
    EXPECT_EQ(entry("UY__")->front().data[0], 9999.0);
}

TEST_F(GridTest, FixedLevelIndices)
{
    useTable({row("t", "TMP"), row("r", "RH"), row("d", "TD"), row("ki", "KI_OUT"), row("tt", "TT_OUT"),
              row("li", "LI_OUT"), row("ai", "AI_OUT"), row("si", "SI_OUT")});
    const double t500 = 258, t700 = 275, t850 = 287, t1000 = 298;
    add(grid("t", 500, 2, 1, 100, 30, 1, [=](double lon, double) { return lon == 100 ? t500 : 9999; }));
    for (const auto& [level, t] : std::vector<std::pair<int, double>>{{700, t700}, {850, t850}, {1000, t1000}}) {
        const double value = t;  // a lambda cannot capture a structured binding before C++20
        add(grid("t", level, 2, 1, 100, 30, 1, [=](double, double) { return value; }));
    }
    for (int level : {500, 700, 850}) {
        add(grid("r", level, 2, 1, 100, 30, 1, [=](double, double) { return 40.0 + level / 20.0; }));
        add(grid("d", level, 2, 1, 100, 30, 1, [=](double, double) { return (level == 500 ? t500 : level == 700 ? t700 : t850) - 5; }));
    }
    run();
    const p_data& ki = entry("ki__")->front();
    EXPECT_EQ(ki.level, 0);
    EXPECT_EQ(ki.data[0], static_cast<double>(physicalQuantity::cal_KI(258, 275, 287, 75, 82.5)));
    EXPECT_EQ(ki.data[1], 9999.0);  // 500 hPa missing there
    EXPECT_EQ(entry("tt__")->front().data[0], static_cast<double>(physicalQuantity::cal_TT(258, 287, 82.5)));
    EXPECT_EQ(entry("li__")->front().data[0], static_cast<double>(physicalQuantity::cal_LI(258, 298)));
    EXPECT_EQ(entry("li__")->front().data[1], 9999.0);
    float a = 0;
    m_lib->cal_A(&a, 287 - 273.15f, 282 - 273.15f, 275 - 273.15f, 258 - 273.15f, 270 - 273.15f, 253 - 273.15f, 9999);
    EXPECT_EQ(entry("ai__")->front().data[0], static_cast<double>(a));
    EXPECT_EQ(entry("ai__")->front().data[1], 9999.0);
    float si = 0;
    m_lib->cal_si(&si, 258 - 273.15f, 287 - 273.15f, 282 - 273.15f, 9999);
    EXPECT_EQ(entry("si__")->front().data[0], static_cast<double>(si));

    // Without the 700 hPa temperature the total totals are not computed.
    m_store.erase("t__");
    for (int level : {500, 850})
        add(grid("t", level, 2, 1, 100, 30, 1, [](double, double) { return 280.0; }));
    m_store.erase("tt__");
    run();
    EXPECT_EQ(entry("tt__"), nullptr);
}

namespace {

// A smooth atmosphere on 9 x 9 points at 1000, 850, 700 and 500 hPa:
// c0 + c1 p / 1000 + a (lon - 100) + b (lat - 30) with p in hPa, every field
// with the fill value 99999 (as model files of one kind carry).
p_data atmosphere(const std::string& name, int level)
{
    const std::map<std::string, std::array<double, 4>> shapes = {
        {"t", {226, 72, 0.3, -0.4}},   {"r", {60, 0, 1, 0}},        {"d", {222, 72, -0.1, -0.2}},
        {"gh", {11100, -11000, 1, 0}}, {"u", {25, -10, 0.2, 0.5}},  {"v", {-6, 5, 0.3, -0.1}},
        {"q", {0.009, -0.001, 1e-4, 0}}, {"pt", {360, -40, 0.3, -0.4}}, {"vo", {2e-5, -1e-5, 1e-6, 5e-7}}};
    const std::array<double, 4> c = shapes.at(name);
    p_data f = grid(name, level, 9, 9, 100, 30, 1, [&](double lon, double lat) {
        return c[0] + c[1] * level / 1000 + c[2] * (lon - 100) + c[3] * (lat - 30);
    });
    f.prop_fillValue = 99999.0f;
    return f;
}

}  // namespace

TEST_F(GridTest, EveryDerivationGivesTheInputsFillValueWhereAnInputIsMissing)
{
    const QString levels = "1000;850;700;500";
    const std::vector<std::pair<QString, QString>> inputs = {{"t", "TMP"}, {"r", "RH"}, {"d", "TD"},
                                                             {"gh", "HGT"}, {"u", "EDA"}, {"v", "VV"},
                                                             {"q", "Q"},    {"pt", "PT"}, {"vo", "VOR"}};
    // The trigger, the input given a missing value at 850 hPa and the value
    // (the fill value, or a humidity of 0 that has no dew point), the record
    // looked at and its level.
    const struct {
        const char* trigger;
        const char* input;
        double value;
        const char* output;
        int level;
    } cases[] = {
        {"si", "d", 99999, "si__", 0},       {"sweat", "d", 99999, "sweat__", 0}, {"eqt", "d", 99999, "eqt__", 850},
        {"ai", "d", 99999, "ai__", 0},       {"ai", "t", 99999, "ai__", 0},       {"ki", "r", 0, "ki__", 0},
        {"ki", "r", 99999, "ki__", 0},       {"tt", "r", 0, "tt__", 0},           {"li", "t", 99999, "li__", 0},
        {"td", "r", 0, "depr__", 850},       {"EDI", "v", 99999, "EDI__", 850},   {"EDIQ", "q", 99999, "EDIQ__", 850},
        {"uqs", "q", 99999, "uqs__", 0},     {"uqs", "u", 99999, "fu__", 850},    {"TMPA", "t", 99999, "TMPA__", 850},
        {"VORA", "u", 99999, "VORA__", 850}, {"VORA", "gh", 99999, "VORA__", 850}, {"PV", "pt", 99999, "PV__", 700},
        {"UYVX", "u", 99999, "UYVX__", 500}, {"egh", "gh", 99999, "egh__", 850},  {"vor", "v", 99999, "vor__", 850},
        {"PT", "t", 99999, "PT__", 850},     {"Q", "r", 99999, "Q__", 850},
    };
    const size_t centre = 3 * 9 + 3;
    for (const auto& c : cases) {
        // Without the row that would supply the quantity itself.
        QStringList rows = {row(c.trigger, QString(c.trigger) + "_OUT")};
        for (const auto& [name, output] : inputs)
            if (output.compare(c.trigger, Qt::CaseInsensitive) != 0)
                rows << row(name, output, levels);
        useTable(rows);
        m_store.clear();
        for (const char* name : {"t", "r", "d", "gh", "u", "v", "q", "pt", "vo"})
            for (int level : {1000, 850, 700, 500}) {
                p_data f = atmosphere(name, level);
                // The lifted index does not use 850 hPa.
                if (name == std::string(c.input) && level == (c.output == std::string("li__") ? 1000 : 850))
                    f.data[centre] = c.value;
                add(std::move(f));
            }
        run();
        const std::vector<p_data>* out = entry(c.output);
        ASSERT_NE(out, nullptr) << c.trigger;
        const p_data* at = nullptr;
        for (const p_data& r : *out)
            if (r.level == c.level)
                at = &r;
        ASSERT_NE(at, nullptr) << c.trigger;
        EXPECT_EQ(at->data[centre], 99999.0) << c.trigger << " " << c.input;
        // Elsewhere the quantity is computed, and no derived value is NaN.
        EXPECT_TRUE(std::any_of(at->data.begin(), at->data.end(), [](double v) { return v != 99999.0; })) << c.trigger;
        for (const auto& [key, records] : m_store)
            for (const p_data& r : records)
                for (double v : r.data)
                    ASSERT_TRUE(std::isfinite(v)) << c.trigger << " " << key;
    }
}

namespace {

// A moist, unstable column (K): warm and humid below, cold aloft.
const std::vector<std::pair<int, std::pair<double, double>>> kColumn = {
    {1000, {303, 297}}, {925, {298, 293}}, {850, {293, 289}}, {700, {283, 276}},
    {500, {266, 250}},  {300, {238, 220}}, {200, {220, 190}}, {100, {205, 180}}};

}  // namespace

TEST_F(GridTest, ProfilesRunFromTheLowestLevelWhateverTheListOrder)
{
    // Top down, bottom up, with blanks, an empty part and a trailing ";", with
    // repeated levels (as tables generated from ensemble files have), and
    // with levels no atmosphere has.
    const QString lists[] = {"100;200;300;500;700;850;925;1000", "1000;925;850;700;500;300;200;100",
                             " 1000 ; 925;850;;700;500 ; 300;200;100;", "1000;925;925;850;700;500;300;200;1000;100",
                             "1000;925;850;700;500;300;200;100;2000000000;0;-850"};
    const char* outputs[] = {"CAPE__", "DCAPE__", "TCL__", "PW__", "H0C__", "H-20C__"};
    std::vector<std::vector<double>> values;
    for (const QString& levels : lists) {
        useTable({row("t", "TMP", levels), row("gh", "HGT"), row("d", "TD", levels), row("CAPE", "CAPE_OUT"),
                  row("DCAPE", "DCAPE_OUT"), row("TCL", "TCL_OUT"), row("PW", "PW_OUT"), row("H0C", "H0C_OUT"),
                  row("H-20C", "H20C_OUT")});
        m_store.clear();
        for (const auto& [level, td] : kColumn) {
            add(column("t", level, td.first));
            add(column("d", level, td.second));
            add(column("gh", level, 44330.0 * (1 - std::pow(level / 1013.25, 0.19))));
        }
        run();
        values.emplace_back();
        for (const char* name : outputs) {
            ASSERT_NE(entry(name), nullptr) << name << " " << levels.toStdString();
            values.back().push_back(entry(name)->front().data[0]);
        }
        EXPECT_EQ(values.back(), values.front()) << levels.toStdString();
    }
    const std::vector<double>& v = values.front();
    EXPECT_NE(v[2], 9999.0);
    EXPECT_GT(v[3], 0.0);
    EXPECT_GT(v[4], 2.0);
    EXPECT_LT(v[4], 6.0);
    EXPECT_GT(v[5], v[4]);
    // The library agrees when called directly.
    float t[8], td[8], gh[8], p[8];
    for (size_t k = 0; k < 8; ++k) {
        t[k] = static_cast<float>(kColumn[k].second.first) - 273.15f;
        td[k] = static_cast<float>(kColumn[k].second.second) - 273.15f;
        gh[k] = static_cast<float>(44330.0 * (1 - std::pow(kColumn[k].first / 1013.25, 0.19)));
        p[k] = kColumn[k].first * 100.0f;
    }
    float direct = 0, g = 0;
    m_lib->cal_cape(&direct, &g, t, td, gh, p, 8, 9999);
    EXPECT_EQ(v[0], static_cast<double>(direct));
    EXPECT_GT(direct, 0.0f);
    EXPECT_NE(direct, 9999.0f);
}

TEST_F(GridTest, ProfilesAreTheSameOnAnyNumberOfThreads)
{
#ifndef _OPENMP
    GTEST_SKIP() << "built without OpenMP";
#else
    const QString levels = "1000;925;850;700;500;300;200;100";
    useTable({row("t", "TMP", levels), row("gh", "HGT"), row("d", "TD", levels), row("CAPE", "CAPE_OUT"),
              row("DCAPE", "DCAPE_OUT"), row("TCL", "TCL_OUT"), row("PW", "PW_OUT"), row("H0C", "H0C_OUT")});
    std::vector<std::vector<double>> runs;
    for (int threads : {1, 2, 3}) {
        m_store.clear();
        // The column warmed and moistened differently at every point.
        for (const auto& column : kColumn) {
            const int level = column.first;
            const double t = column.second.first, d = column.second.second;
            add(grid("t", level, 40, 25, 70, 10, 0.5, [&](double lon, double lat) { return t + 0.1 * (lon - 80) - 0.2 * (lat - 15); }));
            add(grid("d", level, 40, 25, 70, 10, 0.5, [&](double lon, double lat) { return d - 1.5 * std::fabs(lon - 80) - 0.02 * (lat - 15); }));
            add(grid("gh", level, 40, 25, 70, 10, 0.5, [&](double, double) { return 44330.0 * (1 - std::pow(level / 1013.25, 0.19)); }));
        }
        omp_set_num_threads(threads);
        run();
        runs.emplace_back();
        for (const char* name : {"CAPE__", "DCAPE__", "TCL__", "PW__", "H0C__"})
            runs.back().insert(runs.back().end(), entry(name)->front().data.begin(), entry(name)->front().data.end());
        EXPECT_EQ(runs.back(), runs.front()) << threads << " threads";
    }
    omp_set_num_threads(1);
    // Convective energy at most points, and columns too dry for it elsewhere.
    const auto cape = std::count_if(runs[0].begin(), runs[0].begin() + 1000, [](double v) { return v > 0 && v != 9999.0; });
    EXPECT_GT(cape, 100);
    EXPECT_LT(cape, 1000);
#endif
}

TEST_F(GridTest, ALevelListedButAbsentReachesTheLibraryAsMissing)
{
    useTable({row("t", "TMP", "1000;850;700;500"), row("gh", "HGT"), row("H0C", "H0C_OUT"), row("d", "TD", "1000;850;700;500"),
              row("PW", "PW_OUT")});
    for (int level : {1000, 850, 500}) {  // 700 is listed but absent
        add(column("t", level, 260.0 - (1000 - level) / 20.0));
        add(column("d", level, 250.0));
        add(column("gh", level, 10.0 * (1000 - level)));
    }
    run();
    // Colder than 0 degrees C everywhere: no 0-degree height.
    EXPECT_EQ(entry("H0C__")->front().data[0], 9999.0);
    float td[4] = {250 - 273.15f, 250 - 273.15f, 9999, 250 - 273.15f}, p[4] = {100000, 85000, 70000, 50000}, pw = 0;
    physicalQuantity::cal_pw(&pw, td, p, 4, 9999);
    EXPECT_FLOAT_EQ(static_cast<float>(entry("PW__")->front().data[0]), pw * 0.1f);
}

TEST(StabilityEndToEnd, IndicesOfARealFileArePlausible)
{
    const QString input = QString(KELVANE_SHARED_GRIB) + "/gfs.t12z.pgrbf120.2p5deg.grib2";
    if (!QFile::exists(input))
        GTEST_SKIP() << "shared data not present";
    ProgramDir program;
    program.addLibrary();
    const QString levels = "1000;925;850;700;600;500;400;300;250;200";
    auto in = [&](const QString& name, const QString& out) {
        QStringList f = variableRow(name, "Isobaric surface", "", out).split(",");
        f[14] = levels;
        return f.join(",");
    };
    program.writeConfig("s.csv", tableText(",0,grib,2.0", "80,137.5,12.5,60",
                                           {in("t", "TMP"), in("r", "RH"), in("gh", "HGT"), in("u", "EDA"), in("v", "VV"),
                                            row("td", "TD", levels), row("ki", "ki"), row("tt", "tt"), row("CAPE", "CAPE"),
                                            row("PW", "PW"), row("vor", "vor", levels)}));
    const QString out = program.file("s.nc");
    const RunResult r = program.run({"-i", input, "-o", out, "-s", "s.csv"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    NcFile nc(out);
    // The K index is the formula on the written levels (levels 850, 700, 500 are slices 2, 3, 5).
    const std::vector<float> ki = nc.floats("ki"), t = nc.floats("TMP"), rh = nc.floats("RH");
    const size_t n = 24 * 20;
    ASSERT_EQ(ki.size(), n);
    for (size_t i = 0; i < n; ++i) {
        EXPECT_EQ(ki[i], physicalQuantity::cal_KI(t[5 * n + i], t[3 * n + i], t[2 * n + i], rh[3 * n + i], rh[2 * n + i]));
        EXPECT_GT(ki[i], -80.0f);
        EXPECT_LT(ki[i], 60.0f);
    }
    // CAPE and PW are one field each: written by rows without a level list.
    size_t present = 0;
    for (float v : nc.floats("CAPE")) {
        EXPECT_TRUE(v >= 0.0f || v == 9999.0f) << v;
        present += v != 9999.0f ? 1 : 0;
    }
    EXPECT_GT(present, 0u);
    ASSERT_EQ(nc.floats("PW").size(), n);
    for (float v : nc.floats("PW"))
        EXPECT_GE(v, 0.0f);
    EXPECT_NE(nc.variable("tt"), nullptr);
    EXPECT_NE(nc.variable("vor"), nullptr);
}

TEST_F(GridTest, BulkShearRunsFromTheLowestLevelWhateverTheListOrder)
{
    auto height = [](int level) { return 44330.0 * (1 - std::pow(level / 1013.25, 0.19)); };
    // Constant winds have no shear; winds veering and growing with height
    // have the same shear however the list is written (925 hPa is listed
    // but has no field).
    std::vector<std::vector<double>> shears;
    for (const QString& levels : {QString("500;700;850;1000"), QString("500;700;850;1000"), QString("1000;925;850;700;500;")}) {
        const bool constant = shears.empty();
        useTable({row("u", "EDA", levels), row("v", "VV"), row("gh", "HGT"), row("SHR01", "SHR")});
        m_store.clear();
        for (int level : {1000, 850, 700, 500}) {
            const double k = constant ? 0 : (1000 - level) / 50.0;
            add(grid("u", level, 3, 2, 100, 30, 1, [=](double lon, double) { return 8.0 + k * (lon - 99); }));
            add(grid("v", level, 3, 2, 100, 30, 1, [=](double, double lat) { return -2.0 + k * (lat - 29); }));
            add(grid("gh", level, 3, 2, 100, 30, 1, [=](double, double) { return height(level); }));
        }
        run();
        shears.emplace_back();
        for (const char* name : {"SHR01__", "SHR03__", "SHR06__"}) {
            ASSERT_NE(entry(name), nullptr) << name;
            const std::vector<double>& d = entry(name)->front().data;
            shears.back().insert(shears.back().end(), d.begin(), d.end());
            EXPECT_EQ(entry(name)->front().prop_units, "m s**-1");
        }
        for (double v : shears.back())
            EXPECT_TRUE(v == 9999.0 || !constant || std::fabs(v) < 1e-9) << v;
    }
    EXPECT_EQ(shears[0][0], 0.0);
    EXPECT_EQ(shears[2], shears[1]);
    // 1 km above the lowest level the wind has grown: the shear is positive there.
    EXPECT_GT(shears[1][0], 0.0);
    EXPECT_NE(shears[1][0], 9999.0);
}

TEST_F(GridTest, DivergenceFieldsComeFromTheLibraryAndNeedAPartnerPerLevel)
{
    useTable({row("u", "EDA"), row("v", "VV"), row("EDI", "EDI_OUT")});
    for (int level : {850, 500}) {
        add(grid("u", level, 4, 4, 100, 30, 1, [](double lon, double lat) { return lon - lat; }));
        add(grid("v", level, 4, 4, 100, 30, 1, [](double lon, double lat) { return lon + 2 * lat; }));
    }
    run();
    const auto* edi = entry("EDI__");
    ASSERT_NE(edi, nullptr);
    ASSERT_EQ(edi->size(), 2u);
    EXPECT_EQ((*edi)[0].level, 500);
    // The same computation through the library directly.
    p_data u = grid("u", 500, 4, 4, 100, 30, 1, [](double lon, double lat) { return lon - lat; });
    p_data v = grid("v", 500, 4, 4, 100, 30, 1, [](double lon, double lat) { return lon + 2 * lat; });
    std::vector<double> direct(16, 0.0);
    m_lib->cal_edi(direct.data(), u.data.data(), v.data.data(), u.lat.data(), u.lon.data(), 4, 4, 0, 9999.0);
    EXPECT_EQ((*edi)[0].data, direct);

    // One meridional record for two zonal ones: "data error", nothing read past it.
    m_store.clear();
    for (int level : {850, 500})
        add(grid("u", level, 4, 4, 100, 30, 1, [](double, double) { return 1.0; }));
    add(grid("v", 850, 4, 4, 100, 30, 1, [](double, double) { return 1.0; }));
    ::testing::internal::CaptureStderr();
    run();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("data error"), std::string::npos);
    ASSERT_NE(entry("EDI__"), nullptr);
    EXPECT_EQ(entry("EDI__")->size(), 1u);
}

TEST_F(GridTest, AWordWhenADerivationCannotRun)
{
    const QString levels = "1000;850;700;500";
    const struct {
        QStringList rows;
        std::vector<std::pair<const char*, int>> fields;  // input name and level
        const char* line;
    } cases[] = {
        {{row("t", "TMP", levels), row("CAPE", "CAPE")}, {{"t", 850}},
         "CAPE: needs rows named HGT and TD; the table has none\n"},
        {{row("t", "TMP"), row("r", "RH"), row("ki", "KI")}, {{"t", 850}, {"t", 500}, {"r", 850}, {"r", 700}, {"r", 500}},
         "ki: needs TMP at 700 hPa; the inputs gave none\n"},
        {{row("t", "TMP", levels), row("d", "TD"), row("TCL", "TCL")}, {{"t", 850}},
         "TCL: needs TD; the inputs gave none\n"},
        {{row("u", "EDA"), row("v", "VV"), row("gh", "HGT"), row("SHR01", "SHR")}, {{"u", 850}, {"v", 850}, {"gh", 850}},
         "SHR01: the row named EDA lists no levels\n"},
        {{row("t", "TMP"), row("ai", "AI")}, {{"t", 850}, {"t", 700}, {"t", 500}},
         "ai: needs a row named TD; the table has none\n"},
        {{row("u", "EDA"), row("q", "Q"), row("EDIQ", "EDIQ")}, {{"u", 850}},
         "EDIQ: needs a row named VV; the table has none; needs Q; the inputs gave none\n"},
    };
    for (const auto& c : cases) {
        useTable(c.rows);
        m_store.clear();
        for (const auto& [name, level] : c.fields)
            add(column(name, level, 280));
        // Said once, however often the derivations run.
        ::testing::internal::CaptureStderr();
        run();
        run();
        const std::string err = ::testing::internal::GetCapturedStderr();
        const size_t at = err.find(c.line);
        EXPECT_NE(at, std::string::npos) << err;
        EXPECT_EQ(err.find(c.line, at + 1), std::string::npos) << err;
        ::testing::internal::CaptureStdout();
        m_process = std::make_unique<dataProcess>(new physicalQuantity(KELVANE_CUMULEX_LIB));
        ::testing::internal::GetCapturedStdout();
    }
}
