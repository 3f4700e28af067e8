// Thermodynamic primitives against hand values, standard relations and the
// double-precision reference.
#include "cumulex_lib.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using cumulex_test::kMiss;

namespace {

float call1(void (*f)(float, float, float*), float a, float b)
{
    float out = 0.0f;
    f(a, b, &out);
    return out;
}

float ee(float T)
{
    float e = 0.0f;
    CX(EE)(T, &e);
    return e;
}

}  // namespace

TEST(CumulexSaturation, VapourPressureOverWaterAndIce)
{
    EXPECT_EQ(ee(0.0f), 6.112f);
    // Just below 0 degC the ice coefficients apply: 9.5 / 265.5, not 7.5 / 237.3.
    const double ice = 6.112 * std::pow(10.0, 9.5 * -0.0001 / (-0.0001 + 265.5));
    const double water = 6.112 * std::pow(10.0, 7.5 * -0.0001 / (-0.0001 + 237.3));
    EXPECT_NEAR(ee(-0.0001f), ice, 1e-6);
    EXPECT_GT(std::fabs(ee(-0.0001f) - water), 4e-6);
    // Tabulated saturation pressures: 23.37 hPa at 20 degC over water,
    // 1.03 hPa at -20 degC over ice, 42.4 hPa at 30 degC.
    EXPECT_NEAR(ee(20.0f), 23.37, 0.05);
    EXPECT_NEAR(ee(-20.0f), 1.03, 0.01);
    EXPECT_NEAR(ee(30.0f), 42.4, 0.1);
    for (float T = -80.0f; T <= 50.0f; T += 3.7f)
        EXPECT_NEAR(ee(T), reference::es(T), 2e-6 * reference::es(T)) << T;
}

TEST(CumulexSaturation, SpecificHumidityAndMixingRatio)
{
    // 622 * 23.397 / (1000 - 0.378 * 23.397) = 14.68 g/kg; the mixing ratio
    // divides by p - e instead: 14.90 g/kg.
    EXPECT_NEAR(call1(CX(qq), 1000.0f, 20.0f), 14.68, 0.01);
    EXPECT_NEAR(call1(CX(Rs), 1000.0f, 20.0f), 14.90, 0.01);
    for (float p : {1000.0f, 700.0f, 300.0f}) {
        for (float T : {-40.0f, -5.0f, 0.0f, 12.0f, 28.0f}) {
            EXPECT_NEAR(call1(CX(qq), p, T), reference::q(p, T), 2e-6 * reference::q(p, T));
            EXPECT_GT(call1(CX(Rs), p, T), call1(CX(qq), p, T));
            // qSt takes a potential temperature.
            const float theta = call1(CX(CPhysicsChange_St), p, T);
            EXPECT_NEAR(call1(CX(qSt), p, theta), reference::q(p, T), 1e-4 * reference::q(p, T));
        }
    }
}

TEST(CumulexDryAdiabat, PotentialTemperatureAndItsInverse)
{
    // (10 + 273.16) * (1000 / 850)^0.286 - 273.16 = 283.16 * 1.047578 - 273.16
    // = 23.47 degC.
    EXPECT_NEAR(call1(CX(CPhysicsChange_St), 850.0f, 10.0f), 23.47, 0.01);
    EXPECT_NEAR(call1(CX(CPhysicsChange_St), 1000.0f, 17.5f), 17.5, 1e-4);
    for (float p : {1000.0f, 850.0f, 500.0f, 200.0f}) {
        for (float T : {-50.0f, 0.0f, 25.0f}) {
            const float theta = call1(CX(CPhysicsChange_St), p, T);
            EXPECT_NEAR(theta, reference::theta(p, T), 2e-3);
            EXPECT_NEAR(call1(CX(CPhysicsChange_TSt), p, theta), T, 1e-3);
        }
    }
}

TEST(CumulexMoistAdiabat, SaturatedEquivalentPotentialTemperature)
{
    // Saturated air at 20 degC and 1000 hPa: about 334.4 K, i.e. 61.2 degC.
    EXPECT_NEAR(call1(CX(CPhysicsChange_SteA), 1000.0f, 20.0f), 61.2, 0.1);
    for (float p : {1000.0f, 850.0f, 500.0f, 250.0f}) {
        float previous = -1.0e9f;
        for (float T = -60.0f; T <= 30.0f; T += 5.0f) {
            const float s = call1(CX(CPhysicsChange_SteA), p, T);
            EXPECT_NEAR(s, reference::thse(p, T), 2e-3) << p << " " << T;
            EXPECT_GT(s, previous);
            previous = s;
        }
    }
}

TEST(CumulexMoistAdiabat, ElevenStepBisectionLandsWithinAFifteenthOfAKelvin)
{
    for (float p : {1000.0f, 900.0f, 700.0f, 500.0f, 300.0f, 150.0f}) {
        for (float T = -70.0f; T <= 35.0f; T += 7.3f) {
            const float target = call1(CX(CPhysicsChange_SteA), p, T);
            const double root = reference::moistT(p, target);
            EXPECT_LE(std::fabs(call1(CX(CPhysicsChange_TSteA2), p, target) - root), 0.0586)
                << p << " " << T;
        }
    }
    // Outside the bracket (at 1000 hPa the saturated value at 60 degC is
    // about 693 degC) the bisection ends half its last interval inside it:
    // 60 - 240 / 2^12 and -180 + 240 / 2^12.
    EXPECT_EQ(call1(CX(CPhysicsChange_TSteA2), 1000.0f, 1000.0f), 59.94140625f);
    EXPECT_EQ(call1(CX(CPhysicsChange_TSteA2), 500.0f, -500.0f), -179.94140625f);
}

TEST(CumulexMoistAdiabat, EquivalentPotentialTemperatureThroughTheCondensationLevel)
{
    // Saturated air: the condensation level is the starting point itself.
    float thse = 0.0f;
    CX(CPhysicsChange_Ste)(900.0f, 15.0f, 15.0f, &thse);
    EXPECT_NEAR(thse, reference::thse(900.0, 15.0), 2e-3);
    // Drier air at the same temperature carries less latent heat.
    float drier = 0.0f;
    CX(CPhysicsChange_Ste)(900.0f, 15.0f, 5.0f, &drier);
    EXPECT_LT(drier, thse - 10.0f);
}

TEST(CumulexHumidity, DewPointFromSpecificHumidity)
{
    for (float p : {1000.0f, 700.0f, 400.0f}) {
        for (float Td = -40.0f; Td <= 30.0f; Td += 6.1f) {
            const float q = static_cast<float>(reference::q(p, Td));
            EXPECT_NEAR(call1(CX(CPhysicsChange_Tdqs), p, q), Td, 0.1) << p << " " << Td;
        }
    }
    // Vapour pressures outside EE over -100 .. 60 degC.
    EXPECT_EQ(call1(CX(CPhysicsChange_Tdqs), 1000.0f, 0.0f), 9999.0f);
    EXPECT_EQ(call1(CX(CPhysicsChange_Tdqs), 1000.0f, 500.0f), 9999.0f);
}

TEST(CumulexCondensationLevel, OnATenHectopascalGridFromTheStart)
{
    float p = 1000.0f, T = 30.0f, Td = 30.0f, plcl = 0.0f, tlcl = 0.0f;
    CX(LCL)(&p, &T, &Td, &plcl, &tlcl);
    EXPECT_EQ(plcl, 1000.0f);
    EXPECT_NEAR(tlcl, 30.0f, 1e-4);

    struct Case {
        float p, T, Td;
    };
    for (const Case c : {Case{1000.0f, 30.0f, 20.0f}, Case{1000.0f, 26.0f, 20.0f},
                         Case{850.0f, 15.0f, 2.0f}, Case{1010.0f, 5.0f, 4.0f}}) {
        p = c.p;
        T = c.T;
        Td = c.Td;
        CX(LCL)(&p, &T, &Td, &plcl, &tlcl);
        // The first grid step at which the parcel is saturated lies at most
        // 10 hPa above the true condensation level (Bolton's, here, within
        // 3 hPa of the library's humidity formulas).
        const double bolton = reference::boltonLclP(c.p, c.T, c.Td);
        EXPECT_LE(plcl, bolton + 3.0) << c.T << " " << c.Td;
        EXPECT_GT(plcl, bolton - 13.0) << c.T << " " << c.Td;
        const float steps = (c.p - plcl) / 10.0f;
        EXPECT_EQ(steps, std::round(steps));
        EXPECT_NEAR(tlcl, reference::dryT(plcl, reference::theta(c.p, c.T)), 2e-3);
    }

    // A very dry parcel (q = 5.5e-8 g/kg; the dry adiabat from 30 degC still
    // holds 1.6e-6 g/kg at 100 hPa): the search stops at the first step at or
    // below 100 hPa.
    p = 1000.0f;
    T = 30.0f;
    Td = -120.0f;
    CX(LCL)(&p, &T, &Td, &plcl, &tlcl);
    EXPECT_EQ(plcl, 100.0f);
    p = 1005.0f;
    CX(LCL)(&p, &T, &Td, &plcl, &tlcl);
    EXPECT_EQ(plcl, 95.0f);
}

TEST(CumulexCondensationLevel, LiftedParcelFollowsTheDryThenTheMoistAdiabat)
{
    float p = 1000.0f, T = 26.0f, Td = 20.0f, plcl = 0.0f, tlcl = 0.0f;
    CX(LCL)(&p, &T, &Td, &plcl, &tlcl);
    float tp = 0.0f;
    CX(cphysicschange_riset)(1000.0f, 26.0f, 20.0f, 950.0f, &tp);
    EXPECT_NEAR(tp, reference::dryT(950.0, reference::theta(1000.0, 26.0)), 2e-3);
    CX(cphysicschange_riset)(1000.0f, 26.0f, 20.0f, 500.0f, &tp);
    EXPECT_NEAR(tp, reference::moistT(500.0, reference::thse(plcl, tlcl)), 0.06);
}

TEST(CumulexVirtualTemperature, AddsTheMoistureTerm)
{
    // (20 + 273.15) * (1 + 0.608 * 14.68 / 1000) - 273.15 = 22.62 degC.
    float tv = 0.0f;
    CX(Tv)(1000.0f, 20.0f, 20.0f, &tv);
    EXPECT_NEAR(tv, 22.62, 0.01);
    CX(Tv)(500.0f, -20.0f, -70.0f, &tv);
    EXPECT_NEAR(tv, -20.0, 0.01);
}

TEST(CumulexInterpolation, LogPressureWithExtrapolation)
{
    std::vector<float> xs = {1000.0f, 850.0f, 700.0f, 500.0f};
    std::vector<float> ys = {20.0f, 10.0f, 0.0f, -20.0f};
    auto at = [&](float x) {
        float out = 0.0f;
        CX(interplate)(x, xs.data(), ys.data(), static_cast<int>(xs.size()), &out, kMiss);
        return out;
    };
    const auto ln = [](double x) { return std::log(x); };
    EXPECT_EQ(at(850.0f), 10.0f);
    EXPECT_NEAR(at(775.0f), 10.0 - 10.0 * (ln(850) - ln(775)) / (ln(850) - ln(700)), 1e-4);
    EXPECT_NEAR(at(1050.0f), 20.0 + 10.0 * (ln(1050) - ln(1000)) / (ln(1000) - ln(850)), 1e-4);
    EXPECT_NEAR(at(400.0f), -20.0 - 20.0 * (ln(500) - ln(400)) / (ln(700) - ln(500)), 1e-4);

    // Missing values: a bracket with a missing end gives nothing, an
    // extrapolation uses the outermost present levels.
    ys = {kMiss, 10.0f, kMiss, -20.0f};
    EXPECT_EQ(at(775.0f), kMiss);
    EXPECT_EQ(at(700.0f), kMiss);
    EXPECT_EQ(at(900.0f), kMiss);
    EXPECT_EQ(at(1000.0f), kMiss);
    EXPECT_NEAR(at(1100.0f), 10.0 + 30.0 * (ln(1100) - ln(850)) / (ln(850) - ln(500)), 1e-4);
    ys = {kMiss, kMiss, kMiss, -20.0f};
    EXPECT_EQ(at(1100.0f), kMiss);
    EXPECT_EQ(at(300.0f), kMiss);

    float out = 1.0f;
    CX(interplate)(850.0f, xs.data(), ys.data(), 0, &out, kMiss);
    EXPECT_EQ(out, kMiss);
}

TEST(CumulexInterpolation, LinearOverIncreasingAndEitherDirection)
{
    std::vector<float> h = {0.0f, 1000.0f, 3000.0f};
    std::vector<float> y = {10.0f, 5.0f, -5.0f};
    float out = 0.0f;
    CX(interplate_h)(2000.0f, h.data(), y.data(), 3, &out, kMiss);
    EXPECT_FLOAT_EQ(out, 0.0f);
    CX(interplate_h)(3000.0f, h.data(), y.data(), 3, &out, kMiss);
    EXPECT_EQ(out, -5.0f);
    CX(interplate_h)(3500.0f, h.data(), y.data(), 3, &out, kMiss);
    EXPECT_EQ(out, kMiss);
    CX(interplate_h)(-1.0f, h.data(), y.data(), 3, &out, kMiss);
    EXPECT_EQ(out, kMiss);

    // Temperatures falling with height to pressures: 5 degC lies halfway
    // between 1000 and 850 hPa.
    std::vector<float> t = {10.0f, 0.0f, -10.0f};
    std::vector<float> p = {1000.0f, 850.0f, 700.0f};
    CX(interplate_t)(5.0f, t.data(), p.data(), 3, &out, kMiss);
    EXPECT_FLOAT_EQ(out, 925.0f);
    CX(interplate_t)(-7.5f, t.data(), p.data(), 3, &out, kMiss);
    EXPECT_FLOAT_EQ(out, 737.5f);
    CX(interplate_t)(0.0f, t.data(), p.data(), 3, &out, kMiss);
    EXPECT_EQ(out, 850.0f);
    CX(interplate_t)(20.0f, t.data(), p.data(), 3, &out, kMiss);
    EXPECT_EQ(out, kMiss);
    std::vector<float> rising = {-10.0f, 0.0f, 10.0f};
    CX(interplate_t)(5.0f, rising.data(), p.data(), 3, &out, kMiss);
    EXPECT_FLOAT_EQ(out, 775.0f);
}

TEST(CumulexWind, SpeedAndMeteorologicalDirection)
{
    struct Case {
        float u, v, speed, dir;
    };
    for (const Case c : {Case{0.0f, -5.0f, 5.0f, 360.0f}, Case{0.0f, 0.0f, 0.0f, 0.0f},
                         Case{0.0f, 5.0f, 5.0f, 180.0f}, Case{5.0f, 0.0f, 5.0f, 270.0f},
                         Case{-5.0f, 0.0f, 5.0f, 90.0f}, Case{3.0f, 4.0f, 5.0f, 216.8699f},
                         Case{-3.0f, 4.0f, 5.0f, 143.1301f}, Case{-3.0f, -4.0f, 5.0f, 36.8699f},
                         Case{3.0f, -4.0f, 5.0f, 323.1301f}}) {
        float speed = -1.0f, dir = -1.0f;
        CX(wind_speed_direction)(c.u, c.v, &speed, &dir, kMiss);
        EXPECT_FLOAT_EQ(speed, c.speed) << c.u << " " << c.v;
        EXPECT_NEAR(dir, c.dir, 1e-3) << c.u << " " << c.v;
    }
}

TEST(CumulexWind, ComponentsFromDirectionAndSpeed)
{
    float u = 0.0f, v = 0.0f;
    CX(wind_u_v)(270.0f, 10.0f, &u, &v, kMiss);  // from the west: blowing east
    EXPECT_NEAR(u, 10.0, 1e-5);
    EXPECT_NEAR(v, 0.0, 1e-5);
    CX(wind_u_v)(180.0f, 10.0f, &u, &v, kMiss);  // from the south: blowing north
    EXPECT_NEAR(u, 0.0, 1e-5);
    EXPECT_NEAR(v, 10.0, 1e-5);
    CX(wind_u_v)(kMiss, 10.0f, &u, &v, kMiss);
    EXPECT_EQ(u, kMiss);
    EXPECT_EQ(v, kMiss);
    for (float dir = 10.0f; dir < 360.0f; dir += 35.0f) {
        float speed = 0.0f, back = 0.0f;
        CX(wind_u_v)(dir, 12.5f, &u, &v, kMiss);
        CX(wind_speed_direction)(u, v, &speed, &back, kMiss);
        EXPECT_NEAR(speed, 12.5, 1e-4);
        EXPECT_NEAR(back, dir, 1e-3);
    }
}

TEST(CumulexSecondSet, MixingRatioEquivalentPotentialTemperatureWetBulb)
{
    float p = 1000.0f, T = 20.0f, out = 0.0f;
    // 0.622 * 6.11 * 10^(150 / 257.3) / 1000 = 0.014549 kg/kg.
    CX(COM_QW)(&p, &T, &out);
    EXPECT_NEAR(out, 0.622 * 6.11 * std::pow(10.0, 150.0 / 257.3) / 1000.0, 1e-8);
    T = -10.0f;
    CX(COM_QW)(&p, &T, &out);
    EXPECT_NEAR(out, 0.622 * 6.11 * std::pow(10.0, -95.0 / 255.5) / 1000.0, 1e-9);

    // Saturated air at 20 degC and 1000 hPa: about 334 K.
    T = 20.0f;
    CX(EQU_T)(&p, &T, &out);
    const double e = 6.11 * std::pow(10.0, 150.0 / 257.3);
    const double L = 2.5e6 - 2368.0 * 20.0;
    const double expected = 293.16 * std::pow(1000.0 / (1000.0 - e), 0.286) *
                            std::exp(0.622 * L * e / (1004.0 * 293.16 * (1000.0 - e)));
    EXPECT_NEAR(out, expected, 2e-3);
    EXPECT_NEAR(out, 334.2, 0.2);
}

TEST(CumulexSecondSet, WetBulbBalancesThePsychrometricEquation)
{
    const double lcp = 597.4 / 0.2403;
    auto qw = [](double pp, double t) {
        const double a = t >= 0.0 ? 7.5 : 9.5, b = t >= 0.0 ? 237.3 : 265.5;
        return 0.622 * 6.11 * std::pow(10.0, a * t / (b + t)) / pp;
    };
    struct Case {
        float p, T, Td;
    };
    for (const Case c : {Case{1000.0f, 30.0f, 20.0f}, Case{850.0f, 10.0f, -20.0f},
                         Case{500.0f, -15.0f, -30.0f}, Case{300.0f, 60.0f, 10.0f},
                         Case{1000.0f, 84.0f, 80.0f}}) {
        double lo = c.Td, hi = c.T;
        const double q = qw(c.p, c.Td);
        while (hi - lo > 1e-9) {
            const double mid = 0.5 * (lo + hi);
            ((c.T - mid) - lcp * (qw(c.p, mid) - q) > 0.0 ? lo : hi) = mid;
        }
        float p = c.p, T = c.T, Td = c.Td, tw = 0.0f;
        CX(TW_DEX)(&p, &T, &Td, &tw);
        EXPECT_NEAR(tw, 0.5 * (lo + hi), 0.06) << c.p << " " << c.T << " " << c.Td;
    }
    // Standard psychrometry: 30 degC with a 20 degC dew point has a wet bulb
    // near 22.6 degC at sea level.
    float p = 1000.0f, T = 30.0f, Td = 20.0f, tw = 0.0f;
    CX(TW_DEX)(&p, &T, &Td, &tw);
    EXPECT_NEAR(tw, 22.6, 0.5);
    Td = 30.0f;
    CX(TW_DEX)(&p, &T, &Td, &tw);
    EXPECT_NEAR(tw, 30.0, 0.05);

    // Outside its range the routine gives 0.
    p = 5.0f;
    CX(TW_DEX)(&p, &T, &Td, &tw);
    EXPECT_EQ(tw, 0.0f);
    p = 1000.0f;
    T = 90.0f;
    CX(TW_DEX)(&p, &T, &Td, &tw);
    EXPECT_EQ(tw, 0.0f);
    T = 20.0f;
    Td = -86.0f;
    CX(TW_DEX)(&p, &T, &Td, &tw);
    EXPECT_EQ(tw, 0.0f);
}
