// The point formulas of the derivations, the level lists, the wind
// components, and the binding of the library.
#include "process/dataprocess.h"
#include "process/derivation.h"
#include "process/physicalquantity.h"

#include <gtest/gtest.h>

#include <cmath>

using PQ = physicalQuantity;

TEST(Formulas, DewPointAndHumidity)
{
    EXPECT_NEAR(PQ::cal_TD(300.0f, 100.0f), 300.0f, 1e-4);
    EXPECT_LT(PQ::cal_TD(300.0f, 50.0f), PQ::cal_TD(300.0f, 80.0f));
    // Magnus form: at 50 % the dew point of 20 degC is about 9.27 degC.
    const double c = 20.0, b = std::log(0.5 * std::exp(17.678 * c / (c + 243.5)));
    EXPECT_FLOAT_EQ(PQ::cal_TD(293.15f, 50.0f), static_cast<float>(243.5 * b / (17.678 - b) + 273.15));
    EXPECT_NEAR(PQ::cal_TD(293.15f, 50.0f) - 273.15f, 9.27f, 0.01f);
    // Humidity from the dew point undoes the dew point.
    EXPECT_NEAR(PQ::cal_RH(293.15f, PQ::cal_TD(293.15f, 63.0f)), 63.0f, 1e-3);
    EXPECT_DOUBLE_EQ(PQ::ee(0.0f), 6.112);
    EXPECT_NEAR(PQ::ee_pl(-10.0f), 6.112 * std::pow(10.0, 9.5 * -10.0 / 255.5), 1e-12);
}

TEST(Formulas, PotentialTemperatureUsesTheTruePressureRatio)
{
    double t[3] = {288.15, 250.0, std::nan("")};
    double pt[3];
    PQ::cal_PT(pt, t, 3, 1000, 9999.0f);
    EXPECT_EQ(pt[0], 288.15);
    EXPECT_EQ(pt[2], 9999.0);
    PQ::cal_PT(pt, t, 2, 500, 9999.0f);
    EXPECT_DOUBLE_EQ(pt[0], 288.15 * std::pow(2.0, 0.286));
    PQ::cal_PT(pt, t, 2, 850, 9999.0f);
    EXPECT_DOUBLE_EQ(pt[1], 250.0 * std::pow(1000.0 / 850.0, 0.286));
    EXPECT_GT(pt[1], 250.0 + 10.0);
}

TEST(Formulas, IndicesVorticityAndVerticalVelocity)
{
    const float td850 = PQ::cal_TD(285.0f, 80.0f), td700 = PQ::cal_TD(275.0f, 60.0f);
    EXPECT_FLOAT_EQ(PQ::cal_TT(255.0f, 285.0f, 80.0f), (285.0f - 273.15f) + (td850 - 273.15f) - 2.0f * (255.0f - 273.15f));
    EXPECT_FLOAT_EQ(PQ::cal_KI(255.0f, 275.0f, 285.0f, 60.0f, 80.0f),
                    (285.0f - 273.15f) - (255.0f - 273.15f) + (td850 - 273.15f) - ((275.0f - 273.15f) - (td700 - 273.15f)));
    EXPECT_FLOAT_EQ(PQ::cal_LI(258.15f, 293.15f), -15.0f - 20.0f * 0.8304700240908941f);
    EXPECT_EQ(PQ::cal_VOR(1, 2, 3, 4, 0, 1), 0.0f);
    EXPECT_FLOAT_EQ(PQ::cal_VOR(3, 1, 1, 5, 2, 4), 1.0f - 1.0f);
    // Rising air has negative omega.
    EXPECT_GT(PQ::cal_W(-1.0f, 280.0f, 850.0f), 0.0f);
    EXPECT_FLOAT_EQ(PQ::cal_W(-1.0f, 280.0f, 850.0f), 1.0f * 2870.4f * 280.0f / (850.0f * 980.655f) / 1000.0f);
}

TEST(Formulas, PrecipitableWater)
{
    const float missing = 9999.0f;
    float pw = -1;
    const float allMissing[3] = {missing, missing, missing};
    const float p[3] = {100000, 85000, 70000};
    PQ::cal_pw(&pw, allMissing, p, 3, missing);
    EXPECT_EQ(pw, 0.0f);
    // Two layers by hand.
    const float td[3] = {20.0f, 10.0f, 0.0f};
    float q[3];
    for (int i = 0; i < 3; ++i) {
        const double e = PQ::ee_pl(td[i]);
        q[i] = static_cast<float>(622.0 * e / (p[i] / 100.0f - 0.378 * e));
    }
    float expected = 0;
    for (int i = 0; i < 2; ++i)
        expected = expected + (p[i] / 100.0f - p[i + 1] / 100.0f) * (q[i] + q[i + 1]) / 2.0f / (100.0f * 9.81f) * 10.0f;
    PQ::cal_pw(&pw, td, p, 3, missing);
    EXPECT_FLOAT_EQ(pw, expected);
    EXPECT_NEAR(pw, 29.5f, 2.0f);  // a moist column: about 30 mm
}

TEST(LevelLists, ParsingAndLookUp)
{
    // Blanks, empty parts, parts that are not numbers and repeated levels
    // take no level of their own, however the list is written.
    const struct {
        const char* text;
        std::vector<double> listed, column;
    } lists[] = {
        {"500;700;;850", {500, 700, 850}, {850, 700, 500}},
        {" 1000 ; 850;500;", {1000, 850, 500}, {1000, 850, 500}},
        {"850;500;850;500;850", {850, 500}, {850, 500}},
        {";x;925.0; 925 ;nan;0;-50;2000000000", {925, 0, -50, 2e9}, {925}},
        {"850.5;700", {850.5, 700}, {850.5, 700}},
        {";", {}, {}},
    };
    for (const auto& l : lists) {
        EXPECT_EQ(derivation::listedLevels(l.text), l.listed) << l.text;
        EXPECT_EQ(derivation::columnLevels(l.text), l.column) << l.text;
        std::vector<float> pa;
        float count = -1;
        EXPECT_EQ(dataProcess::containLevel(l.text, pa, count), 0) << l.text;
        ASSERT_EQ(pa.size(), l.listed.size()) << l.text;
        for (size_t k = 0; k < pa.size(); ++k)
            EXPECT_EQ(pa[k], static_cast<float>(l.listed[k]) * 100.0f) << l.text;
        EXPECT_EQ(count, static_cast<float>(l.listed.size()));
    }
    std::vector<float> levels = {1};
    float count = -1;
    EXPECT_EQ(dataProcess::containLevel("", levels, count), -1);
    EXPECT_EQ(levels.size(), 1u);
    std::vector<double> d;
    double dc = 0;
    EXPECT_EQ(dataProcess::containLevel2("925", d, dc), 0);
    EXPECT_EQ(d, std::vector<double>({92500}));
    EXPECT_EQ(dataProcess::geTLevelIndex(850, {100000, 85000}), 1);
    EXPECT_EQ(dataProcess::geTLevelIndex(700, {100000, 85000}), -1);
    EXPECT_EQ(dataProcess::geTLevelIndex2(1000, {100000, 85000}), 0);

    std::vector<p_data> records(3);
    records[0].level = 850;
    records[1].level = 500;
    records[2].level = 500;
    records[2].factorShortName = "second";
    p_data out;
    out.factorShortName = "untouched";
    EXPECT_FALSE(dataProcess::choosePdataByLevel(records, 700, out));
    EXPECT_EQ(out.factorShortName, "untouched");
    EXPECT_TRUE(dataProcess::choosePdataByLevel(records, 500, out));
    EXPECT_EQ(out.factorShortName, "");
}

TEST(WindComponents, DirectionIsTheAngleOfTheWindVector)
{
    double u = 0, v = 0;
    dataProcess::calUv(10, 90, &u, &v, 9999);
    EXPECT_EQ(u, 0.0);
    EXPECT_EQ(v, 10 * std::sin(90 * 3.141592653589 / 180));
    dataProcess::calUv(10, 180, &u, &v, 9999);
    EXPECT_EQ(v, 0.0);
    EXPECT_NEAR(u, -10.0, 1e-9);
    dataProcess::calUv(10, 270, &u, &v, 9999);
    EXPECT_EQ(u, 0.0);
    EXPECT_NEAR(v, -10.0, 1e-9);
    dataProcess::calUv(9999, 45, &u, &v, 9999);
    EXPECT_EQ(u, 9999.0);
    EXPECT_EQ(v, 9999.0);
    dataProcess::calUv(5, 9999, &u, &v, 9999);
    EXPECT_EQ(u, 9999.0);
}

TEST(LibraryBinding, BindsTheEntryPointsByNameOrNoneAtAll)
{
    ::testing::internal::CaptureStdout();
    const physicalQuantity bound(KELVANE_CUMULEX_LIB);
    const physicalQuantity unbound("/nonexistent/libcumulex.so");
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(bound.bound());
    for (const void* p : {(const void*)bound.cal_A, (const void*)bound.cal_si, (const void*)bound.cal_sweat,
                          (const void*)bound.cal_li, (const void*)bound.cal_HT, (const void*)bound.cal_thetse,
                          (const void*)bound.cal_cape, (const void*)bound.cal_dcape, (const void*)bound.cal_tcl,
                          (const void*)bound.cal_cin})
        EXPECT_NE(p, nullptr);
    // The vorticity slot and the divergence slot share one entry point.
    EXPECT_EQ((const void*)bound.cal_rv, (const void*)bound.cal_edi);
    EXPECT_FALSE(unbound.bound());
    EXPECT_EQ(unbound.cal_A, nullptr);
    EXPECT_EQ(unbound.cal_tcl, nullptr);
    EXPECT_NE(out.find(std::string("load:") + KELVANE_CUMULEX_LIB + "\n" + KELVANE_CUMULEX_LIB + "\n"), std::string::npos);
    EXPECT_NE(out.find("can not load libcumulex.so (tried /nonexistent/libcumulex.so)\n"), std::string::npos) << out;
}
