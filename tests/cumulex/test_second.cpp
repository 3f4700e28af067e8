// The second index set: its equivalent potential temperatures and grids, the
// interpolation routines, CAPE, downdraft CAPE and the best lifted index,
// shear, helicity and the bulk Richardson number.
#include "cumulex_lib.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using cumulex_test::kMiss;

namespace {

const float kUntouched = -12345.0f;

struct Profile {
    std::vector<float> p, t, td, gh, u, v;
    int n() const { return static_cast<int>(p.size()); }
};

// 1000 to 100 hPa every 50 hPa, conditionally unstable with a moist boundary
// layer, or (stable) an isothermal dry column.
Profile sounding(bool stable = false)
{
    Profile s;
    for (int i = 0; i < 19; ++i) {
        const float hpa = 1000.0f - 50.0f * i;
        s.p.push_back(hpa * 100.0f);
        const float z = static_cast<float>(44330.0 * (1.0 - std::pow(hpa / 1013.25, 0.1903)));
        s.gh.push_back(z);
        const float t = stable ? 0.0f
                               : (z < 11000.0f ? 30.0f - 6.9e-3f * z : 30.0f - 6.9e-3f * 11000.0f);
        s.t.push_back(t);
        s.td.push_back(stable ? -30.0f : (i < 3 ? t - 2.0f : t - 15.0f));
        s.u.push_back(2.0f + 1.5e-3f * z);
        s.v.push_back(4.0f - 0.5e-3f * z);
    }
    return s;
}

float thse0(float p, float t)
{
    float out = kUntouched, miss = kMiss;
    CX(CAL_THSE0)(&p, &t, &out, &miss);
    return out;
}

float thse0_1(float p, float t)
{
    float out = kUntouched, miss = kMiss;
    CX(CAL_THSE0_1)(&p, &t, &out, &miss);
    return out;
}

}  // namespace

TEST(CumulexSecondSet, EquivalentPotentialTemperaturesOfSaturatedAir)
{
    for (double T : {20.0, -5.0, -60.0}) {
        for (double p : {1000.0, 500.0}) {
            const double e = reference::es(T);
            const double want = (T + 273.15) * std::pow(1000.0 / (p - e), 0.2856) *
                                std::exp((2.501e6 - 2370.0 * T) * 0.622 * e /
                                         ((T + 273.15) * 1005.0 * (p - e)));
            EXPECT_NEAR(thse0(static_cast<float>(p), static_cast<float>(T)), want, 2e-5 * want);
            EXPECT_EQ(thse0_1(static_cast<float>(p), static_cast<float>(T)),
                      thse0(static_cast<float>(p), static_cast<float>(T)));
        }
    }
    EXPECT_EQ(thse0(500.0f, -120.5f), kMiss);
    EXPECT_NE(thse0(500.0f, -120.0f), kMiss);
    EXPECT_EQ(thse0(500.0f, kMiss), kMiss);
    EXPECT_EQ(thse0(kMiss, 10.0f), kMiss);
    EXPECT_EQ(thse0_1(500.0f, -100.5f), -100.0f);
    EXPECT_EQ(thse0_1(500.0f, -130.0f), -100.0f);
    EXPECT_NE(thse0_1(500.0f, -100.0f), -100.0f);
}

TEST(CumulexSecondSet, ResamplingOntoTheTenHectopascalGrid)
{
    // Linear in ln p between levels; the grid starts at the surface pressure
    // truncated to a whole 1000 Pa; slots above the profile hold the fill.
    std::vector<float> p = {101325.0f, 85000.0f, 70000.0f, 50000.0f};
    std::vector<float> t(p.size()), td(p.size());
    for (size_t k = 0; k < p.size(); ++k) {
        t[k] = 25.0f + 12.0f * std::log(p[k] / 100000.0f);
        td[k] = t[k] - 5.0f;
    }
    int n = static_cast<int>(p.size());
    std::vector<float> pe(120), te(120), tde(120);
    CX(CAL_TE)(t.data(), p.data(), &n, pe.data(), te.data());
    CX(CAL_TDE)(td.data(), p.data(), &n, tde.data());
    EXPECT_EQ(pe[0], 101000.0f);
    EXPECT_EQ(pe[119], 101000.0f - 119000.0f);
    for (int k = 0; k < 120; ++k) {
        if (pe[k] >= 50000.0f) {
            EXPECT_NEAR(te[k], 25.0 + 12.0 * std::log(pe[k] / 100000.0), 1e-4) << pe[k];
            EXPECT_NEAR(tde[k], te[k] - 5.0f, 1e-4) << pe[k];
        } else {
            EXPECT_EQ(te[k], -60.0f);
            EXPECT_EQ(tde[k], -120.0f);
        }
    }
    EXPECT_EQ(te[51], t[3]);  // the top level lies on the grid and is copied

    // INTPS on its 39 levels, 1000 .. 50 hPa: exact at levels, linear data in
    // ln p reproduced, 9999 where the profile does not reach.
    std::vector<float> ph = {1013.25f, 850.0f, 700.0f, 500.0f, 300.0f, 200.0f};
    std::vector<float> x(ph.size());
    for (size_t k = 0; k < ph.size(); ++k)
        x[k] = 3.0f - 2.0f * std::log(ph[k]);
    n = static_cast<int>(ph.size());
    std::vector<float> xo(39, kUntouched);
    CX(INTPS)(ph.data(), x.data(), &n, xo.data());
    for (int k = 0; k < 39; ++k) {
        const float level = 1000.0f - 25.0f * k;
        if (level < 200.0f)
            EXPECT_EQ(xo[k], 9999.0f) << level;
        else
            EXPECT_NEAR(xo[k], 3.0 - 2.0 * std::log(level), 1e-4) << level;
    }
    EXPECT_EQ(xo[6], x[1]);
    EXPECT_EQ(xo[12], x[2]);

    // INTSP2 passes through its nodes and stays close to a smooth curve.
    std::vector<float> xs = {0.0f, 0.5f, 1.0f, 1.5f, 2.0f, 2.5f}, ys(xs.size());
    for (size_t k = 0; k < xs.size(); ++k)
        ys[k] = std::sin(xs[k]);
    std::vector<float> at = {0.0f, 0.25f, 1.0f, 1.8f, 2.5f, 2.6f, -0.1f}, yo(at.size());
    std::vector<float> b(xs.size()), c(xs.size()), d(xs.size());
    int nx = static_cast<int>(xs.size()), no = static_cast<int>(at.size());
    float miss = kMiss;
    CX(INTSP2)(xs.data(), ys.data(), &nx, at.data(), yo.data(), &no, b.data(), c.data(), d.data(), &miss);
    EXPECT_EQ(yo[0], ys[0]);
    EXPECT_NEAR(yo[2], ys[2], 1e-6);
    EXPECT_NEAR(yo[1], std::sin(0.25), 5e-3);
    EXPECT_NEAR(yo[3], std::sin(1.8), 5e-3);
    EXPECT_NEAR(yo[4], ys[5], 1e-6);
    EXPECT_EQ(yo[5], kMiss);
    EXPECT_EQ(yo[6], kMiss);
}

TEST(CumulexSecondSet, CapeOfTheSurfaceParcel)
{
    Profile s = sounding();
    float cape = kUntouched, first = 0.0f, gcape = 0.0f;
    CX(CAL_CAPE_ZBEI)(&cape, s.t.data(), s.td.data(), s.gh.data(), s.p.data(), s.n(), kMiss);
    CX(cal_cape)(&first, &gcape, s.t.data(), s.td.data(), s.gh.data(), s.p.data(), s.n(), kMiss);
    ASSERT_NE(first, kMiss);
    EXPECT_GT(cape, 0.5f * first);
    EXPECT_LT(cape, 2.0f * first);

    // A dew point above the temperature puts the condensation level below the
    // surface.
    Profile wet = s;
    wet.td[0] = wet.t[0] + 1.0f;
    CX(CAL_CAPE_ZBEI)(&cape, wet.t.data(), wet.td.data(), wet.gh.data(), wet.p.data(), wet.n(), kMiss);
    EXPECT_EQ(cape, kMiss);
    Profile stable = sounding(true);
    CX(CAL_CAPE_ZBEI)(&cape, stable.t.data(), stable.td.data(), stable.gh.data(), stable.p.data(),
                      stable.n(), kMiss);
    EXPECT_EQ(cape, kMiss);

    // The condensation level of the set: saturated air condenses where it is.
    float t = 20.0f, td = 20.0f, p = 95000.0f, tc, pc, th, miss = kMiss;
    CX(CAL_TC_PC)(&t, &td, &p, &tc, &pc, &th, &miss);
    EXPECT_EQ(tc, 20.0f);
    EXPECT_EQ(pc, 95000.0f);
    EXPECT_EQ(th, thse0(950.0f, 20.0f));
}

TEST(CumulexSecondSet, DowndraftEnergyAndBestLiftedIndex)
{
    Profile s = sounding();
    float dcape = kUntouched, bli = kUntouched, li = kUntouched;
    CX(CAL_DCAPE_ZBEI)(&dcape, s.t.data(), s.td.data(), s.p.data(), s.n(), kMiss);
    EXPECT_GT(dcape, 100.0f);
    EXPECT_LT(dcape, 3000.0f);
    // A surface above 800 hPa leaves too little room for a downdraft.
    Profile high = s;
    for (auto* f : {&high.p, &high.t, &high.td})
        f->erase(f->begin(), f->begin() + 5);
    CX(CAL_DCAPE_ZBEI)(&dcape, high.t.data(), high.td.data(), high.p.data(), high.n(), kMiss);
    EXPECT_EQ(dcape, kMiss);

    // The best of the parcels from the lowest 100 hPa is at least as unstable
    // as the lifted index of the surface parcel, within the methods' spread.
    CX(CAL_BLI_ZBEI)(&bli, s.t.data(), s.td.data(), s.p.data(), s.n(), kMiss);
    CX(cal_LI)(&li, s.t.data(), s.td.data(), s.p.data(), s.n(), kMiss);
    ASSERT_NE(bli, kMiss);
    EXPECT_LT(bli, 0.0f);
    EXPECT_LT(bli, li + 1.0f);
    // Parcels may not start above 700 hPa.
    Profile top = s;
    for (auto* f : {&top.p, &top.t, &top.td})
        f->erase(f->begin(), f->begin() + 7);
    CX(CAL_BLI_ZBEI)(&bli, top.t.data(), top.td.data(), top.p.data(), top.n(), kMiss);
    EXPECT_EQ(bli, kMiss);
}

TEST(CumulexSecondSet, ShearPerKilometreAndItsDirection)
{
    // Heights every 500 m, wind linear in height: shear = |dV/dz| per km.
    std::vector<float> h, u, v;
    for (int k = 0; k < 8; ++k)
        h.push_back(100.0f + 500.0f * k);
    struct Case { float du, dv, dir; };
    for (Case c : {Case{0, 2, 0}, Case{2, 0, 90}, Case{0, -2, 180}, Case{-2, 0, 270},
                   Case{1, 1, 45}, Case{1, -1, 135}, Case{-1, -1, 225}, Case{-1, 1, 315}}) {
        u.clear();
        v.clear();
        for (float z : h) {
            u.push_back(3.0f + c.du * (z - 100.0f) / 1000.0f);
            v.push_back(-1.0f + c.dv * (z - 100.0f) / 1000.0f);
        }
        float h0 = 2600.0f, shr = kUntouched, dir = kUntouched;
        CX(CAL_SHR_ZBEI)(&shr, &dir, u.data(), v.data(), h.data(), &h0, 8, kMiss);
        EXPECT_NEAR(shr, std::hypot(c.du, c.dv), 1e-5) << c.dir;
        EXPECT_NEAR(dir, c.dir, 1e-3);
    }
    // Missing levels are passed over; no level below h0 gives nothing.
    u[0] = kMiss;
    float h0 = 2600.0f, shr = kUntouched, dir = kUntouched;
    CX(CAL_SHR_ZBEI)(&shr, &dir, u.data(), v.data(), h.data(), &h0, 8, kMiss);
    EXPECT_NEAR(shr, std::hypot(1.0f, 1.0f), 1e-5);
    h0 = 50.0f;
    CX(CAL_SHR_ZBEI)(&shr, &dir, u.data(), v.data(), h.data(), &h0, 8, kMiss);
    EXPECT_EQ(shr, kMiss);
    EXPECT_EQ(dir, kMiss);
}

TEST(CumulexSecondSet, ValuesAtAHeight)
{
    // An isothermal layer: pressure falls exponentially with height; the
    // hypsometric interpolation reproduces it and the levels themselves.
    const float T = 10.0f, H = 287.0f * 283.15f / 9.8f;
    std::vector<float> h = {0.0f, 1000.0f, 2500.0f}, p, t(3, T), td = {5.0f, 2.0f, -4.0f};
    std::vector<float> u = {1.0f, 3.0f, 9.0f}, v = {0.0f, -2.0f, -2.0f};
    for (float z : h)
        p.push_back(100000.0f * std::exp(-z / H));
    int n = 3;
    for (float z : {0.0f, 400.0f, 1000.0f, 2000.0f}) {
        float ph, th, tdh, uh, vh;
        CX(CAL_H0_UVPT)(&z, h.data(), p.data(), t.data(), td.data(), u.data(), v.data(), &n, &ph,
                        &th, &tdh, &uh, &vh);
        EXPECT_NEAR(ph, 100000.0 * std::exp(-z / H), 0.05) << z;
        EXPECT_EQ(th, T);
        const int k = z < 1000.0f ? 1 : 2;  // the upper level of the pair
        EXPECT_FLOAT_EQ(tdh, T - (t[k] - td[k]));
        float u2 = kUntouched, v2 = kUntouched;
        CX(CAL_H0_UV)(&z, h.data(), u.data(), v.data(), &n, &u2, &v2);
        EXPECT_EQ(u2, uh);
        EXPECT_EQ(v2, vh);
    }
    float z = 400.0f, uh, vh;
    CX(CAL_H0_UV)(&z, h.data(), u.data(), v.data(), &n, &uh, &vh);
    EXPECT_FLOAT_EQ(uh, 1.8f);
    EXPECT_FLOAT_EQ(vh, -0.8f);
    z = 2500.0f;  // the bracket is open above: nothing is written
    uh = kUntouched;
    CX(CAL_H0_UV)(&z, h.data(), u.data(), v.data(), &n, &uh, &vh);
    EXPECT_EQ(uh, kUntouched);
}

TEST(CumulexSecondSet, HelicityAndBulkRichardsonNumber)
{
    Profile s = sounding();
    // Winds turning clockwise with height give positive helicity; the storm
    // motion and the level count are printed.
    for (int k = 0; k < s.n(); ++k) {
        const double a = (200.0 - 0.02 * (s.gh[k] - s.gh[0])) * M_PI / 180.0;
        s.u[k] = static_cast<float>(10.0 * std::cos(a));
        s.v[k] = static_cast<float>(10.0 * std::sin(a));
    }
    float srh = kUntouched;
    testing::internal::CaptureStdout();
    CX(cal_SRH)(&srh, 3000.0f, s.u.data(), s.v.data(), s.gh.data(), s.p.data(), s.n(), kMiss);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_GT(srh, 0.0f);
    EXPECT_EQ(out.rfind("CX:", 0), 0u) << out;
    EXPECT_NE(out.find(" CY:"), std::string::npos) << out;
    int levels = 0;
    for (float z : s.gh)
        levels += z <= s.gh[0] + 3000.0f;
    EXPECT_NE(out.find(" N:" + std::to_string(levels) + "\n"), std::string::npos) << out;

    // No shear at all: the difference of speeds is 0 and the number is CAPE / 2;
    // a stable column has no CAPE and a number of 0.
    Profile calm = sounding();
    calm.u.assign(calm.u.size(), 6.0f);
    calm.v.assign(calm.v.size(), -8.0f);
    float cape = 0.0f, gcape = 0.0f, brn = kUntouched;
    CX(cal_cape)(&cape, &gcape, calm.t.data(), calm.td.data(), calm.gh.data(), calm.p.data(), calm.n(), kMiss);
    CX(CAL_BRN)(&brn, calm.p.data(), calm.gh.data(), calm.t.data(), calm.td.data(), calm.u.data(),
                calm.v.data(), calm.n(), kMiss);
    EXPECT_FLOAT_EQ(brn, cape / 2.0f);
    // A 0-6 km mean speed 20 m/s above the low-level mean: CAPE / (2 * 20^2).
    Profile sheared = calm;
    for (int k = 0; k < sheared.n(); ++k) {
        sheared.u[k] = sheared.gh[k] - sheared.gh[0] < 500.0f ? 0.0f : 20.0f;
        sheared.v[k] = 0.0f;
    }
    sheared.u[1] = 0.0f;  // ~ 450 m: the whole lowest 500 m calm
    CX(CAL_BRN)(&brn, sheared.p.data(), sheared.gh.data(), sheared.t.data(), sheared.td.data(),
                sheared.u.data(), sheared.v.data(), sheared.n(), kMiss);
    EXPECT_GT(brn, cape / (2.0f * 20.0f * 20.0f));
    EXPECT_LT(brn, cape / (2.0f * 15.0f * 15.0f));
    Profile stable = sounding(true);
    CX(CAL_BRN)(&brn, stable.p.data(), stable.gh.data(), stable.t.data(), stable.td.data(),
                stable.u.data(), stable.v.data(), stable.n(), kMiss);
    EXPECT_EQ(brn, 0.0f);
}
