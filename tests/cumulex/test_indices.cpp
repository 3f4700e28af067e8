// Level indices, the equivalent potential temperature of a point and the
// height of a temperature.
#include "cumulex_lib.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using cumulex_test::kMiss;

namespace {

const float kUntouched = -12345.0f;

float thetse(float t, float td, float p)
{
    float out = 0.0f;
    CX(cal_thetse)(&out, t, td, p, kMiss);
    return out;
}

// Bolton-style pseudo-equivalent potential temperature of the library's
// formula, in double precision.
double thetseReference(double t, double td, double p)
{
    const double ph = p / 100.0;
    const double ex = std::exp(17.26 * td / (273.16 + td - 35.86));
    const double q = 3800.4202 * ex / (ph - 0.378 * ex);
    const double tl = 338.52 - 0.24 * (t + 273.15) + 1.24 * td;
    return (t + 273.15) * std::exp(0.28586 * std::log(1000.0 / ph) + 2.5 * q / tl);
}

double parcel850to500(double t, double td)
{
    float p = 850.0f, T = static_cast<float>(t), Td = static_cast<float>(td), plcl, tlcl;
    CX(LCL)(&p, &T, &Td, &plcl, &tlcl);
    return reference::moistT(500.0, reference::thse(plcl, tlcl));
}

// Wind components of a direction (where the wind comes from) and a speed.
void wind(double dir, double speed, float* u, float* v)
{
    const double a = dir * M_PI / 180.0;
    *u = static_cast<float>(-speed * std::sin(a));
    *v = static_cast<float>(-speed * std::cos(a));
}

}  // namespace

TEST(CumulexThetaE, EquivalentPotentialTemperatureInKelvin)
{
    EXPECT_NEAR(thetse(20.0f, 20.0f, 100000.0f), 332.0, 0.5);
    EXPECT_NEAR(thetse(20.0f, 20.0f, 100000.0f), thetseReference(20, 20, 100000), 0.01);
    EXPECT_NEAR(thetse(-10.0f, -25.0f, 50000.0f), thetseReference(-10, -25, 50000), 0.01);
    EXPECT_GT(thetse(20.0f, 20.0f, 100000.0f), thetse(20.0f, 5.0f, 100000.0f) + 20.0f);
    EXPECT_EQ(thetse(kMiss, 10.0f, 100000.0f), kMiss);
    EXPECT_EQ(thetse(20.0f, kMiss, 100000.0f), kMiss);
}

TEST(CumulexLevelIndices, AIndexDoesNotDependOnT850)
{
    // (t850 - t500) - (t850 - td850) - (t700 - td700) - (t500 - td500)
    // = 15 - 8 + 2 - 20 + 2 * 10 = 9.
    float a = 0.0f;
    for (float t850 : {-30.0f, 0.0f, 20.0f, 41.0f}) {
        CX(cal_A)(&a, t850, 15.0f, 8.0f, -10.0f, 2.0f, -20.0f, kMiss);
        EXPECT_EQ(a, 9.0f) << t850;
    }
    const float in[6] = {20.0f, 15.0f, 8.0f, -10.0f, 2.0f, -20.0f};
    for (int missing = 0; missing < 6; ++missing) {
        float v[6];
        for (int i = 0; i < 6; ++i)
            v[i] = i == missing ? kMiss : in[i];
        CX(cal_A)(&a, v[0], v[1], v[2], v[3], v[4], v[5], kMiss);
        EXPECT_EQ(a, kMiss) << missing;
    }
}

TEST(CumulexLevelIndices, ShowalterLiftsThe850hPaParcel)
{
    float si = 0.0f;
    CX(cal_si)(&si, -12.0f, 18.0f, 14.0f, kMiss);
    EXPECT_NEAR(si, -12.0 - parcel850to500(18, 14), 0.06);
    // A saturated 850-hPa parcel follows the moist adiabat from 850 hPa.
    CX(cal_si)(&si, -12.0f, 10.0f, 10.0f, kMiss);
    EXPECT_NEAR(si, -12.0 - reference::moistT(500, reference::thse(850, 10)), 0.06);
    for (int missing = 0; missing < 3; ++missing) {
        float v[3] = {-12.0f, 18.0f, 14.0f};
        v[missing] = kMiss;
        CX(cal_si)(&si, v[0], v[1], v[2], kMiss);
        EXPECT_EQ(si, kMiss);
    }
}

TEST(CumulexLevelIndices, TotalTotalsKAndModifiedK)
{
    float out = 0.0f;
    CX(cal_tt)(&out, 20.0f, 16.0f, -12.0f, kMiss);
    EXPECT_EQ(out, 60.0f);  // (20 + 16) - 2 * (-12)
    CX(cal_tt)(&out, 20.0f, kMiss, -12.0f, kMiss);
    EXPECT_EQ(out, kMiss);
    CX(cal_k)(&out, 20.0f, 8.0f, -12.0f, 16.0f, 2.0f, kMiss);
    EXPECT_EQ(out, 42.0f);  // (20 + 12) + 16 - (8 - 2)
    CX(cal_k)(&out, 20.0f, 8.0f, -12.0f, 16.0f, kMiss, kMiss);
    EXPECT_EQ(out, kMiss);
    CX(cal_mk)(&out, 20.0f, 16.0f, 8.0f, -12.0f, 2.0f, 25.0f, 20.0f, kMiss);
    EXPECT_EQ(out, 46.5f);  // (20 + 16) / 2 + ((25 + 20) / 2 + 12) - 6
    CX(cal_mk)(&out, 20.0f, 16.0f, 8.0f, -12.0f, 2.0f, kMiss, 20.0f, kMiss);
    EXPECT_EQ(out, kMiss);
    CX(cal_mk)(&out, 20.0f, 16.0f, 8.0f, kMiss, 2.0f, 25.0f, 20.0f, kMiss);
    EXPECT_EQ(out, kMiss);
    CX(cal_minus)(&out, 5.5f, 3.0f, kMiss);
    EXPECT_EQ(out, 2.5f);
    CX(cal_minus)(&out, kMiss, 3.0f, kMiss);
    EXPECT_EQ(out, kMiss);
    CX(cal_teffer)(&out, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, kMiss);
    EXPECT_EQ(out, 3.0f);  // (2 - 3) + (4 - 5) + 6 - 1
    CX(cal_teffer)(&out, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, kMiss, kMiss);
    EXPECT_EQ(out, kMiss);
}

TEST(CumulexLevelIndices, Sweat)
{
    float u850, v850, u500, v500, sweat = 0.0f;
    // 850 hPa from 200 degrees at 10 m/s, 500 hPa from 250 degrees at 20 m/s:
    // 12 * 16 + 20 * (60 - 49) + 4 * 10 + 2 * 20 = 492, and the veering adds
    // 125 * (sin 50 degrees + 0.2) = 120.76.
    wind(200, 10, &u850, &v850);
    wind(250, 20, &u500, &v500);
    CX(cal_sweat)(&sweat, u850, v850, u500, v500, 20.0f, 16.0f, -12.0f, kMiss);
    EXPECT_NEAR(sweat, 492.0 + 125.0 * (std::sin(50.0 * M_PI / 180.0) + 0.2), 0.01);

    // 850 hPa from 300 degrees: outside 130 .. 250, no shear term although
    // the 500-hPa wind (310) still veers.
    wind(300, 10, &u850, &v850);
    wind(310, 20, &u500, &v500);
    CX(cal_sweat)(&sweat, u850, v850, u500, v500, 20.0f, 16.0f, -12.0f, kMiss);
    EXPECT_NEAR(sweat, 492.0, 1e-3);

    // Backing winds add nothing either; a dew point below 0 adds nothing and
    // total totals below 49 neither: 4 * 10 + 2 * 20.
    wind(240, 10, &u850, &v850);
    wind(220, 20, &u500, &v500);
    CX(cal_sweat)(&sweat, u850, v850, u500, v500, 20.0f, -5.0f, -12.0f, kMiss);
    EXPECT_NEAR(sweat, 80.0, 1e-3);

    CX(cal_sweat)(&sweat, u850, kMiss, u500, v500, 20.0f, 16.0f, -12.0f, kMiss);
    EXPECT_EQ(sweat, kMiss);
    CX(cal_sweat)(&sweat, u850, v850, u500, v500, 20.0f, kMiss, -12.0f, kMiss);
    EXPECT_EQ(sweat, kMiss);
    // Without total totals there is no index: a missing 500-hPa temperature
    // must not enter the sum as a number.
    CX(cal_sweat)(&sweat, u850, v850, u500, v500, 20.0f, 16.0f, kMiss, kMiss);
    EXPECT_EQ(sweat, kMiss);
}

TEST(CumulexLevelIndices, HumidityAndEquivalentTemperatureDifferences)
{
    float rh = 0.0f;
    CX(cal_rh)(&rh, 20.0f, 10.0f, 1000.0f, kMiss);
    EXPECT_NEAR(rh, 100.0 * reference::q(1000, 10) / reference::q(1000, 20), 1e-3);
    EXPECT_NEAR(rh, 52.3, 0.1);
    CX(cal_rh)(&rh, 20.0f, 20.0f, 1000.0f, kMiss);
    EXPECT_FLOAT_EQ(rh, 100.0f);
    CX(cal_rh)(&rh, 20.0f, 22.0f, 1000.0f, kMiss);
    EXPECT_EQ(rh, 100.0f);
    CX(cal_rh)(&rh, 20.0f, kMiss, 1000.0f, kMiss);
    EXPECT_EQ(rh, kMiss);

    float ic = 0.0f;
    CX(cal_ic)(&ic, 20.0f, 0.0f, 20.0f, -10.0f, 100000.0f, 50000.0f, kMiss);
    EXPECT_NEAR(ic, thetseReference(0, -10, 50000) - thetseReference(20, 20, 100000), 0.02);
    CX(cal_ic)(&ic, 20.0f, 0.0f, 20.0f, kMiss, 100000.0f, 50000.0f, kMiss);
    EXPECT_EQ(ic, kMiss);
}

TEST(CumulexLevelIndices, SaturatedEquivalentTemperatureIndices)
{
    float bi = kUntouched;
    CX(cal_BI)(&bi, -10.0f, 15.0f, 5.0f, kMiss);
    EXPECT_NEAR(bi, reference::thse(500, -10) - reference::thse(700, 5), 4e-3);
    CX(cal_BI)(&bi, -10.0f, 15.0f, kMiss, kMiss);
    EXPECT_NEAR(bi, reference::thse(500, -10) - reference::thse(850, 15), 4e-3);
    bi = kUntouched;
    CX(cal_BI)(&bi, -10.0f, kMiss, kMiss, kMiss);
    EXPECT_EQ(bi, kUntouched);
    CX(cal_BI)(&bi, kMiss, 15.0f, 5.0f, kMiss);
    EXPECT_EQ(bi, kMiss);

    float ji = 0.0f, mji = 0.0f;
    CX(cal_JI)(&ji, 22.0f, -10.0f, kMiss);
    EXPECT_NEAR(ji, 1.6 * reference::thse(925, 22) + 10.0 - 11.0, 4e-3);
    CX(cal_JI)(&ji, kMiss, -10.0f, kMiss);
    EXPECT_EQ(ji, kMiss);
    CX(cal_mji)(&mji, 5.0f, -1.0f, 22.0f, -10.0f, kMiss);
    EXPECT_NEAR(mji, 1.6 * reference::thse(925, 22) + 10.0 - 11.0 - 3.0 + 3.0, 4e-3);
    CX(cal_mji)(&mji, 5.0f, kMiss, 22.0f, -10.0f, kMiss);
    EXPECT_EQ(mji, kMiss);
}

TEST(CumulexLevelIndices, ParcelIndicesUseTheLiftedParcel)
{
    // Temperature a3 and the mean dew point of a4, a5, a6 at 850 hPa.
    float fa = 0.0f, tp = 0.0f;
    CX(cal_Faust)(&fa, 1.0f, 2.0f, 16.0f, 10.0f, 12.0f, 14.0f, kMiss);
    CX(cphysicschange_riset)(850.0f, 16.0f, 0.3333f * (10.0f + 12.0f + 14.0f), 500.0f, &tp);
    EXPECT_EQ(fa, tp);
    EXPECT_NEAR(fa, parcel850to500(16, 0.3333 * 36), 0.06);
    CX(cal_Faust)(&fa, kMiss, 2.0f, 16.0f, 10.0f, 12.0f, 14.0f, kMiss);
    EXPECT_EQ(fa, kMiss);

    float ilc = kUntouched;
    CX(cal_ILC)(&ilc, -10.0f, -20.0f, 25.0f, 20.0f, 100000.0f, 15.0f, 10.0f, kMiss);
    float s1, s2, s3, s4;
    CX(CPhysicsChange_SteA)(500.0f, -10.0f, &s1);
    CX(CPhysicsChange_Ste)(1000.0f, 25.0f, 20.0f, &s2);
    CX(CPhysicsChange_Ste)(500.0f, -10.0f, -20.0f, &s3);
    CX(CPhysicsChange_Ste)(850.0f, 15.0f, 10.0f, &s4);
    EXPECT_EQ(ilc, s1 - s2 + s3 - s4);
    ilc = kUntouched;
    CX(cal_ILC)(&ilc, -10.0f, -20.0f, 25.0f, kMiss, 100000.0f, 15.0f, 10.0f, kMiss);
    EXPECT_EQ(ilc, kUntouched);
}

TEST(CumulexLapseRates, ZeroDifferencesGiveMissing)
{
    float dt = 0.0f;
    CX(cal_dt75)(&dt, 10.0f, 4.0f, 3000.0f, 1500.0f, kMiss);
    EXPECT_FLOAT_EQ(dt, 4.0f);  // 1000 * 6 / 1500
    CX(cal_dt75)(&dt, 10.0f, 4.0f, 1500.0f, 1500.0f, kMiss);
    EXPECT_EQ(dt, kMiss);
    CX(cal_dt75)(&dt, 10.0f, kMiss, 3000.0f, 1500.0f, kMiss);
    EXPECT_EQ(dt, kMiss);
    CX(cal_dtase85)(&dt, 3000.0f, 1500.0f, 10.0f, 4.0f, kMiss);
    EXPECT_FLOAT_EQ(dt, -4.0f);  // 1000 * (4 - 10) / 1500
    CX(cal_dtase85)(&dt, 1500.0f, 1500.0f, 10.0f, 4.0f, kMiss);
    EXPECT_EQ(dt, kMiss);

    // 3000 m lies halfway between 2000 m (10 degC) and 4000 m (-3 degC):
    // 1000 * (3.5 - 20) / (3000 - 500) = -6.6 K/km.
    std::vector<float> h = {500.0f, 2000.0f, 4000.0f}, t = {20.0f, 10.0f, -3.0f};
    CX(CAL_dt03)(&dt, h.data(), t.data(), 3, kMiss);
    EXPECT_FLOAT_EQ(dt, -6.6f);
    std::vector<float> low = {500.0f, 1000.0f, 2000.0f};
    dt = kUntouched;
    CX(CAL_dt03)(&dt, low.data(), t.data(), 3, kMiss);
    EXPECT_EQ(dt, kUntouched);
    std::vector<float> at3000 = {3000.0f, 3500.0f, 4000.0f};
    CX(CAL_dt03)(&dt, at3000.data(), t.data(), 3, kMiss);
    EXPECT_EQ(dt, kMiss);
    t[0] = kMiss;
    CX(CAL_dt03)(&dt, h.data(), t.data(), 3, kMiss);
    EXPECT_EQ(dt, kMiss);
    CX(CAL_dt03)(&dt, h.data(), t.data(), 1, kMiss);
    EXPECT_EQ(dt, kMiss);
}

TEST(CumulexHeightOfATemperature, FirstCrossingFromTheGround)
{
    std::vector<float> t = {15.0f, 5.0f, -5.0f, -15.0f};
    std::vector<float> gh = {100.0f, 1500.0f, 3000.0f, 4500.0f};
    std::vector<float> p = {100000.0f, 85000.0f, 70000.0f, 55000.0f};
    const int n = 4;
    auto height = [&](float t0) {
        float h = 0.0f;
        CX(cal_HT)(&h, t0, t.data(), gh.data(), p.data(), n, kMiss);
        return h;
    };
    // 0 degC halfway in ln p between 850 and 700 hPa, at sqrt(850 * 700) hPa;
    // hypsometric thickness from 850 hPa at the mean of 5 and 0 degC.
    const double px = std::sqrt(850.0 * 700.0);
    EXPECT_NEAR(height(0.0f), 1500.0 + 287.04 * (2.5 + 273.15) / 9.8 * std::log(850.0 / px),
                0.05);
    EXPECT_EQ(height(15.0f), 100.0f);
    EXPECT_EQ(height(20.0f), kMiss);
    EXPECT_EQ(height(-30.0f), kMiss);

    // Above an inversion: only the first crossing counts.
    t = {15.0f, 5.0f, -5.0f, 2.0f};
    const double first = 1500.0 + 287.04 * (2.5 + 273.15) / 9.8 * std::log(850.0 / px);
    EXPECT_NEAR(height(0.0f), first, 0.05);
    // A missing temperature is stepped over.
    t = {15.0f, kMiss, -5.0f, -15.0f};
    EXPECT_NEAR(height(-10.0f),
                3000.0 + 287.04 * (-7.5 + 273.15) / 9.8 * std::log(700.0 / std::sqrt(700.0 * 550.0)),
                0.05);
    // A profile of one level, or with pressures not decreasing, has no height.
    t = {15.0f, 5.0f, -5.0f, -15.0f};
    float h = 0.0f;
    CX(cal_HT)(&h, 0.0f, t.data(), gh.data(), p.data(), 1, kMiss);
    EXPECT_EQ(h, kMiss);
    std::vector<float> rising = {55000.0f, 70000.0f, 85000.0f, 100000.0f};
    CX(cal_HT)(&h, 0.0f, t.data(), gh.data(), rising.data(), n, kMiss);
    EXPECT_EQ(h, kMiss);
}
