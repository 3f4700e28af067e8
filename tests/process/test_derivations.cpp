// The derivation step on stores built here: triggers, inputs by output
// name, the already-present rule, partners, fill values, scaling, and whole
// conversions with derived quantities.
#include "process/dataprocess.h"
#include "process/physicalquantity.h"
#include "support/gribfiles.h"
#include "support/ncfile.h"
#include "support/programdir.h"
#include "support/tables.h"
#include "table/csvfileparser.h"
#include "writer/nclwriter.h"
#include "writer/slotvalues.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>

namespace {

// A row mapping input key name__ to the output name (and trigger rows alike).
QString row(const QString& input, const QString& output, const QString& write = "1",
            const QString& scaleBefore = "", const QString& offsetBefore = "")
{
    QStringList f = variableRow(input, "", "", output).split(",");
    f[5] = scaleBefore;
    f[6] = offsetBefore;
    f[16] = write;
    return f.join(",");
}

p_data field(const std::string& name, int level, std::vector<double> values, float fill = 9999.0f)
{
    p_data f;
    f.factorShortName = name;
    f.level = level;
    f.prop_fillValue = fill;
    f.forecastTime = 24;
    f.lon = {100, 101};
    f.lat = {30, 31};
    f.data = std::move(values);
    return f;
}

class DerivationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        g_collect_number = 0;
        g_forcastTime = 24;
        ::testing::internal::CaptureStdout();
        m_process = std::make_unique<dataProcess>(new physicalQuantity("/nonexistent/libcumulex.so"));
        ::testing::internal::GetCapturedStdout();
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

    std::string run()
    {
        ::testing::internal::CaptureStdout();
        m_process->process(m_store);
        return ::testing::internal::GetCapturedStdout();
    }

    QTemporaryDir m_dir;
    CachedData m_store;
    std::unique_ptr<dataProcess> m_process;
};

}  // namespace

TEST_F(DerivationTest, WithoutTriggerRowsNothingIsDerived)
{
    useTable({row("t", "TMP"), row("r", "RH")});
    add(field("t", 850, {280, 290, 300, 9999}));
    add(field("r", 850, {50, 60, 70, 80}));
    const std::string out = run();
    EXPECT_EQ(m_store.size(), 2u);
    size_t lines = 0;
    for (size_t at = out.find("Do not need cal\n"); at != std::string::npos; at = out.find("Do not need cal\n", at + 1))
        ++lines;
    EXPECT_EQ(lines, 19u);  // the derivations that need no library entry point
}

TEST_F(DerivationTest, DewPointAndDepressionAtTheSameLevel)
{
    useTable({row("t", "TMP"), row("r", "RH"), row("td", "TD"), row("depr", "DEPR")});
    for (p_data t : {field("t", 850, {280, 290, 9999, 300}), field("t", 500, {250, 260, 270, 280})}) {
        t.prop_standardName = "air_temperature";  // the input's, not the derived quantities'
        add(t);
    }
    // The humidity of 500 hPa comes first: partners are matched by level.
    add(field("r", 500, {10, 20, 30, 40}));
    add(field("r", 850, {50, 9999, 70, 0}));
    run();
    const auto* td = entry("td__");
    const auto* depr = entry("depr__");
    ASSERT_NE(td, nullptr);
    ASSERT_NE(depr, nullptr);
    ASSERT_EQ(td->size(), 2u);
    const p_data& td850 = (*td)[0];
    EXPECT_EQ(td850.level, 850);
    EXPECT_EQ(td850.data[0], static_cast<double>(physicalQuantity::cal_TD(280.0f, 50.0f)));
    EXPECT_EQ(td850.data[1], 9999.0);
    EXPECT_EQ(td850.data[2], 9999.0);
    EXPECT_EQ((*depr)[0].data[2], 9999.0);  // not twice the fill value
    // A dry point has no dew point.
    EXPECT_EQ(td850.data[3], 9999.0);
    EXPECT_EQ((*depr)[0].data[3], 9999.0);
    EXPECT_EQ((*depr)[0].data[0], 280.0 - static_cast<double>(physicalQuantity::cal_TD(280.0f, 50.0f)));
    EXPECT_EQ((*td)[1].data[0], static_cast<double>(physicalQuantity::cal_TD(250.0f, 10.0f)));
    EXPECT_TRUE(td850.isFi);
    EXPECT_EQ(td850.factorLongName, "Dew point");
    EXPECT_EQ(td850.prop_units, "K");
    EXPECT_EQ((*depr)[0].factorLongName, "Temperature dew point difference");
    EXPECT_EQ(td850.prop_standardName, "dew_point_temperature");
    EXPECT_EQ((*depr)[0].prop_standardName, "dew_point_depression");
}

TEST_F(DerivationTest, AQuantityTheInputSuppliesIsNotDerivedButAReadBackOneIs)
{
    useTable({row("t", "TMP"), row("r", "RH"), row("td", "TD"), row("depr", "DEPR"), row("dpt", "TD")});
    add(field("t", 850, {280}));
    add(field("r", 850, {50}));
    add(field("dpt", 850, {270}));  // the input's own dew point
    run();
    EXPECT_EQ(entry("td__"), nullptr);
    ASSERT_NE(entry("depr__"), nullptr);

    // A dew point read back from the output was computed: it is recomputed beside it.
    m_store.clear();
    add(field("t", 850, {280}));
    add(field("r", 850, {50}));
    p_data old = field("td", 850, {1});
    old.isFi = true;
    old.readout = true;
    add(old);
    run();
    ASSERT_NE(entry("td__"), nullptr);
    ASSERT_EQ(entry("td__")->size(), 2u);
    EXPECT_EQ(entry("td__")->at(0).data[0], 1.0);
    EXPECT_EQ(entry("td__")->at(1).data[0], static_cast<double>(physicalQuantity::cal_TD(280.0f, 50.0f)));
}

TEST_F(DerivationTest, ScalingBeforeDerivationsSparesFillValuesAndReadBackFields)
{
    useTable({row("t", "TMP", "1", "1", "273.15"), row("r", "RH", "1", "100")});
    add(field("t", 850, {10, 9999}));
    p_data back = field("r", 850, {0.5, 0.25});
    back.readout = true;
    add(back);
    add(field("r", 500, {0.5, 9999}));
    run();
    EXPECT_EQ(entry("t__")->front().data, std::vector<double>({1.0 * 10 + static_cast<double>(273.15f), 9999}));
    EXPECT_EQ(entry("r__")->at(0).data, std::vector<double>({0.5, 0.25}));
    EXPECT_EQ(entry("r__")->at(1).data, std::vector<double>({50, 9999}));
}

TEST_F(DerivationTest, MoistureQuantitiesAndTheirFillValues)
{
    useTable({row("t", "TMP"), row("r", "RH"), row("Q", "Q"), row("PT", "PT"), row("gh", "HGT"), row("egh", "EGH"),
              row("t2", "TMP2M"), row("r2", "RH2M"), row("2d", "TD2M_OUT"), row("ow", "OW"), row("nw", "W_OUT"),
              row("qs", "QSNOW"), row("qg", "QGRAUP"), row("QGS", "QGS")});
    add(field("t", 500, {250, 9999, 15}));
    add(field("r", 500, {50, 60, 70}));
    add(field("gh", 500, {5500, 9999, 5600}));
    add(field("t2", 0, {293.15, 9999, 300}));
    add(field("r2", 0, {50, 60, 9999}));
    add(field("ow", 500, {-1, 9999, 1}));
    add(field("qs", 500, {1, 2, 3}));
    add(field("qg", 500, {4, 9999, 6}));
    run();

    const p_data& q = entry("Q__")->front();
    const double es = 6.1121 * std::exp(17.67 * (250 - 273.15) / (243.5 + 250 - 273.15));
    EXPECT_DOUBLE_EQ(q.data[0], 0.62197 * es / (500 - 0.378 * es) * 50 / 100);
    EXPECT_EQ(q.data[1], 9999.0);
    EXPECT_EQ(q.prop_units, "kg kg**-1");

    const p_data& pt = entry("PT__")->front();
    EXPECT_DOUBLE_EQ(pt.data[0], 250 * std::pow(2.0, 0.286));
    EXPECT_EQ(pt.data[1], 9999.0);
    EXPECT_DOUBLE_EQ(pt.data[2], (15 + 273.15) * std::pow(2.0, 0.286));
    EXPECT_EQ(pt.level, 500);
    EXPECT_EQ(entry("t__")->front().data[2], 15.0);  // the input is not changed

    EXPECT_EQ(entry("egh__")->front().data, std::vector<double>({550, 9999, 560}));
    EXPECT_EQ(entry("egh__")->front().prop_units, "dagpm");

    const p_data& d2 = entry("2d__")->front();
    EXPECT_EQ(d2.prop_units, "K");
    EXPECT_EQ(d2.data[0], static_cast<double>(physicalQuantity::cal_TD(293.15f, 50.0f)));
    EXPECT_EQ(d2.data[1], 9999.0);
    EXPECT_EQ(d2.data[2], 9999.0);

    // Filed under its surface name, not under the trigger key.
    ASSERT_NE(entry("nw_Isobaric surface_"), nullptr);
    const p_data& w = entry("nw_Isobaric surface_")->front();
    EXPECT_EQ(w.data[0], static_cast<double>(physicalQuantity::cal_W(-1.0f, 250.0f, 500.0f)));
    EXPECT_EQ(w.data[1], 9999.0);

    EXPECT_EQ(entry("QGS__")->front().data, std::vector<double>({5, 9999, 9}));
}

TEST_F(DerivationTest, TwoMetreQuantities)
{
    useTable({row("t2", "ETO2M"), row("d2", "2D"), row("sp", "SFPRES"), row("erh2m", "ERH"), row("depr2m", "DD"),
              row("2Q", "Q2"), row("rr", "2R")});
    add(field("t2", 0, {300, 9999}));
    add(field("t2", 0, {290, 291}));
    add(field("d2", 0, {290, 280}));  // one dew-point record for two temperatures
    add(field("sp", 0, {1000, 900}));
    const std::string out = run();
    const auto* depr = entry("depr2m__");
    ASSERT_NE(depr, nullptr);
    EXPECT_EQ(depr->front().data, std::vector<double>({10, 9999}));

    const auto* q = entry("2Q__");
    ASSERT_NE(q, nullptr);
    const double es = 6.1121 * std::exp(17.67 * (300 - 273.15) / (243.5 + 300 - 273.15));
    EXPECT_DOUBLE_EQ(q->front().data[0], 0.62197 * es / (1000 - 0.378 * es) * 290 / 100);
    EXPECT_EQ(q->front().data[1], 9999.0);

    const auto* rh = entry("erh2m__");
    ASSERT_NE(rh, nullptr);
    EXPECT_EQ(rh->front().data[0], static_cast<double>(physicalQuantity::cal_RH(300.0f, 290.0f)));

    // With a "2R" input its records are copied unchanged, temperature or not.
    m_store.clear();
    add(field("t2", 0, {300, 301}));
    add(field("d2", 0, {290, 280}));
    add(field("rr", 0, {55, 66}));
    run();
    ASSERT_EQ(entry("erh2m__")->size(), 1u);
    EXPECT_EQ(entry("erh2m__")->front().data, std::vector<double>({55, 66}));
}

TEST_F(DerivationTest, ShortPositionalPartnersStopWithDataError)
{
    useTable({row("t2", "ETO2M"), row("d2", "2D"), row("depr2m", "DD")});
    add(field("t2", 0, {300}));
    add(field("t2", 2, {301}));
    add(field("d2", 0, {290}));
    ::testing::internal::CaptureStderr();
    run();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("data error"), std::string::npos);
    ASSERT_NE(entry("depr2m__"), nullptr);
    EXPECT_EQ(entry("depr2m__")->size(), 1u);
}

TEST_F(DerivationTest, PrecipitationChoiceAndWindComponents)
{
    useTable({row("tp", "TP"), row("wd", "WD"), row("ws", "WS")});
    add(field("tp", 0, {1.0, 3.7}));
    add(field("tp", 0, {12.9, 0}));
    add(field("tp", 0, {12.2, 5}));
    p_data wd = field("wd", 0, {90, 180});
    wd.prop_standardName = "wind_from_direction";
    add(wd);
    add(field("ws", 0, {10, -999}, -999.0f));  // a fill value of its own
    g_forcastTime = 36;
    run();
    const auto& tp = *entry("tp__");
    EXPECT_EQ(tp[0].factorShortName, "drpTp");
    EXPECT_EQ(tp[0].forecastTime, -1);
    EXPECT_EQ(tp[1].factorShortName, "drpTp");
    EXPECT_EQ(tp[2].factorShortName, "tp");
    EXPECT_EQ(tp[2].forecastTime, 36);
    // The field of the largest maximum is the one written.
    NC_DATA written;
    ::testing::internal::CaptureStdout();
    nclWriter().convertGrb2Nc(m_store, written, "table.csv");
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(assembledValues(written["TP"]), std::vector<float>({12.9f, 0.0f}));

    const p_data& u = entry("u__")->front();
    const p_data& v = entry("v__")->front();
    EXPECT_EQ(u.data[0], 0.0);
    EXPECT_EQ(v.data[0], 10 * std::sin(90 * 3.141592653589 / 180));
    EXPECT_EQ(u.data[1], 9999.0);
    EXPECT_EQ(v.factorLongName, "U component of wind");
    EXPECT_EQ(u.prop_units, "m s**-1");
    // Components of an angle that is not the meteorological one: no standard name.
    EXPECT_EQ(u.prop_standardName, "");

    m_store.clear();
    add(field("tp", 0, {0.5}));
    add(field("tp", 0, {0.9}));
    EXPECT_NE(run().find("e1\n"), std::string::npos);
    m_store.clear();
    add(field("tp", 0, {5}));
    EXPECT_NE(run().find("e2:1\n"), std::string::npos);
}

TEST_F(DerivationTest, EveryMemberIsProcessed)
{
    useTable({row("t", "TMP"), row("gh", "HGT"), row("egh", "EGH")});
    std::vector<CachedData> stores(kMemberSlots);
    for (int m = 0; m < 3; ++m)
        stores[static_cast<size_t>(m)]["gh__"].push_back(field("gh", 500, {1000.0 * (m + 1)}));
    g_collect_number = 2;
    ::testing::internal::CaptureStdout();
    m_process->process(stores.data());
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("2\n", 0), 0u);
    for (int m = 0; m < 3; ++m)
        EXPECT_EQ(stores[static_cast<size_t>(m)]["egh__"].front().data[0], 100.0 * (m + 1)) << m;
}

TEST(DerivationsEndToEnd, DerivedQuantitiesOfARealFileEqualTheFormulas)
{
    const QString input = QString(KELVANE_SHARED_GRIB) + "/gfs.t12z.pgrbf120.2p5deg.grib2";
    if (!QFile::exists(input))
        GTEST_SKIP() << "shared data not present";
    ProgramDir program;
    program.addLibrary();
    auto levelRow = [](const QString& in, const QString& surface, const QString& out) {
        QStringList f = variableRow(in, surface, "", out).split(",");
        f[14] = "850;500";
        return f.join(",");
    };
    program.writeConfig("d.csv", tableText(",0,grib,2.0", "80,137.5,12.5,60",
                                           {levelRow("t", "Isobaric surface", "TMP"), levelRow("r", "Isobaric surface", "RH"),
                                            levelRow("td", "", "TD"), levelRow("Q", "", "Q"), levelRow("PT", "", "PT")}));
    const QString out = program.file("d.nc");
    QTemporaryDir elsewhere;
    const RunResult r = program.run({"-i", input, "-o", out, "-s", "d.csv"}, elsewhere.path());
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // The library is found beside the executable, not in the working directory.
    EXPECT_TRUE(r.out.contains("load:" + program.file("libcumulex.so")));
    EXPECT_FALSE(r.out.contains("can not load"));

    NcFile nc(out);
    const std::vector<float> t = nc.floats("TMP"), rh = nc.floats("RH"), td = nc.floats("TD"), q = nc.floats("Q"),
                             pt = nc.floats("PT");
    ASSERT_EQ(t.size(), 2u * 24 * 20);
    ASSERT_EQ(td.size(), t.size());
    for (size_t i = 0; i < t.size(); ++i) {
        const int level = i < t.size() / 2 ? 850 : 500;
        const double tk = t[i], x = rh[i];
        const float dew = physicalQuantity::cal_TD(t[i], rh[i]);
        ASSERT_EQ(td[i], std::isfinite(dew) ? dew : 9999.0f) << i;
        const double es = 6.1121 * std::exp(17.67 * (tk - 273.15) / (243.5 + tk - 273.15));
        // The output holds the inputs in single precision; the derivations saw them in double.
        ASSERT_NEAR(q[i], 0.62197 * es / (level - 0.378 * es) * x / 100, 1e-5 * q[i]) << i;
        ASSERT_NEAR(pt[i], tk * std::pow(1000.0 / level, 0.286), 1e-5 * pt[i]) << i;
    }
}

TEST(DerivationsEndToEnd, AProgramDirectoryWithoutTheLibraryStillConverts)
{
    ProgramDir program;
    GribField f;
    f.firstLon = 100;
    f.firstLat = 32;
    f.ni = 3;
    f.nj = 3;
    fillPattern(f, 250);
    ASSERT_TRUE(writeBytes(program.file("in.grib2"), gribMessage(f)));
    program.writeConfig("t.csv", tableText(",0,grib,2.0", "100,102,30,32",
                                           {variableRow("t", "Isobaric surface", "", "TMP"), row("PT", "PT")}));
    const RunResult r = program.run({"-i", program.file("in.grib2"), "-o", program.file("x.nc"), "-s", "t.csv"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("can not load libcumulex.so (tried " + program.file("libcumulex.so") + ")"));
    NcFile nc(program.file("x.nc"));
    EXPECT_NE(nc.variable("PT"), nullptr);
}
