// Indices over a whole sounding: shear between pressures, DCI, precipitable
// water, SSI, swiss, the convective condensation level and temperature, BIC,
// and how every profile routine treats a profile it cannot use.
#include "cumulex_lib.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

using cumulex_test::kMiss;

namespace {

const float kUntouched = -12345.0f;

// 1000 to 100 hPa every 50 hPa; a conditionally unstable troposphere with a
// moist boundary layer, heights of the standard atmosphere and a wind that
// veers and grows with height.
struct Profile {
    std::vector<float> p, t, td, gh, u, v;
    int n() const { return static_cast<int>(p.size()); }
};

Profile sounding()
{
    Profile s;
    for (int i = 0; i < 19; ++i) {
        const float hpa = 1000.0f - 50.0f * i;
        s.p.push_back(hpa * 100.0f);
        const float z = static_cast<float>(44330.0 * (1.0 - std::pow(hpa / 1013.25, 0.1903)));
        s.gh.push_back(z);
        const float t = z < 11000.0f ? 30.0f - 6.9e-3f * z : 30.0f - 6.9e-3f * 11000.0f;
        s.t.push_back(t);
        s.td.push_back(i < 3 ? t - 2.0f : t - 15.0f);
        s.u.push_back(2.0f + 1.5e-3f * z);
        s.v.push_back(4.0f - 0.5e-3f * z);
    }
    return s;
}

}  // namespace

TEST(CumulexProfileIndices, ProfilesThatCannotBeUsedGiveMissing)
{
    Profile good = sounding();
    std::vector<Profile> bad(4, good);
    bad[0].p[5] = bad[0].p[4];        // pressure not decreasing
    bad[1].p[7] = kMiss;              // a missing pressure
    std::swap(bad[2].p[0], bad[2].p[1]);
    for (auto* f : {&bad[3].p, &bad[3].t, &bad[3].td, &bad[3].gh, &bad[3].u, &bad[3].v})
        f->resize(1);                 // a single level, arrays exactly that long
    for (Profile& s : bad) {
        const int n = s.n();
        float a = kUntouched, b = kUntouched;
        auto expectMiss = [&](const char* what) {
            EXPECT_EQ(a, kMiss) << what;
            a = b = kUntouched;
        };
        CX(cal_shr)(&a, 85000.0f, 50000.0f, s.u.data(), s.v.data(), s.p.data(), s.gh.data(), n, kMiss);
        expectMiss("cal_shr");
        CX(cal_DCI)(&a, 20.0f, 15.0f, s.t.data(), s.td.data(), s.p.data(), n, kMiss);
        expectMiss("cal_DCI");
        CX(cal_pw)(&a, s.td.data(), s.p.data(), n, kMiss);
        expectMiss("cal_pw");
        CX(cal_SSI)(&a, s.t.data(), s.td.data(), s.u.data(), s.v.data(), s.gh.data(), s.p.data(), n, kMiss);
        expectMiss("cal_SSI");
        CX(cal_swiss)(&a, &b, s.t.data(), s.td.data(), s.u.data(), s.v.data(), s.gh.data(), s.p.data(), n, kMiss);
        EXPECT_EQ(b, kMiss);
        expectMiss("cal_swiss");
        CX(cal_ccl)(&a, &b, s.t.data(), s.td.data(), s.p.data(), n, kMiss);
        EXPECT_EQ(b, kMiss);
        expectMiss("cal_ccl");
        CX(CAL_CCL_ZBEI)(&a, &b, s.t.data(), s.td.data(), s.p.data(), n, kMiss);
        EXPECT_EQ(b, kMiss);
        expectMiss("CAL_CCL_ZBEI");
        CX(cal_wind_Tg)(&a, &b, s.t.data(), s.td.data(), s.p.data(), n, kMiss);
        EXPECT_EQ(b, kMiss);
        expectMiss("cal_wind_Tg");
        CX(cal_bic)(&a, s.t.data(), s.td.data(), s.p.data(), n, kMiss);
        expectMiss("cal_bic");
        CX(CAL_CAPE_ZBEI)(&a, s.t.data(), s.td.data(), s.gh.data(), s.p.data(), n, kMiss);
        expectMiss("CAL_CAPE_ZBEI");
        CX(CAL_DCAPE_ZBEI)(&a, s.t.data(), s.td.data(), s.p.data(), n, kMiss);
        expectMiss("CAL_DCAPE_ZBEI");
        CX(CAL_BLI_ZBEI)(&a, s.t.data(), s.td.data(), s.p.data(), n, kMiss);
        expectMiss("CAL_BLI_ZBEI");
        CX(cal_SRH)(&a, 3000.0f, s.u.data(), s.v.data(), s.gh.data(), s.p.data(), n, kMiss);
        expectMiss("cal_SRH");
        CX(CAL_BRN)(&a, s.p.data(), s.gh.data(), s.t.data(), s.td.data(), s.u.data(), s.v.data(), n, kMiss);
        expectMiss("CAL_BRN");
    }
}

TEST(CumulexProfileIndices, PrecipitableWater)
{
    Profile s = sounding();
    float pw = kUntouched;
    std::vector<float> dry(s.td.size(), kMiss);
    CX(cal_pw)(&pw, dry.data(), s.p.data(), s.n(), kMiss);
    EXPECT_EQ(pw, 0.0f);

    // (1/g) times the integral of q over p, trapezoids between present levels;
    // a missing dew point removes the two layers that touch it.
    auto expected = [&](const std::vector<float>& td) {
        double sum = 0.0;
        for (int k = 0; k + 1 < s.n(); ++k) {
            if (td[k] == kMiss || td[k + 1] == kMiss)
                continue;
            const double q0 = reference::q(s.p[k] / 100.0, td[k]);
            const double q1 = reference::q(s.p[k + 1] / 100.0, td[k + 1]);
            sum += 0.5 * (q0 + q1) * (s.p[k] - s.p[k + 1]) / 9810.0;
        }
        return sum;
    };
    CX(cal_pw)(&pw, s.td.data(), s.p.data(), s.n(), kMiss);
    EXPECT_NEAR(pw, expected(s.td), 1e-4 * expected(s.td));
    EXPECT_GT(pw, 20.0f);
    s.td[4] = kMiss;
    CX(cal_pw)(&pw, s.td.data(), s.p.data(), s.n(), kMiss);
    EXPECT_NEAR(pw, expected(s.td), 1e-4 * expected(s.td));
}

TEST(CumulexProfileIndices, ShearBetweenPressuresAndTheSevereStormIndex)
{
    // Height and wind linear in ln p: the interpolated wind difference over the
    // height difference is the constant slope sqrt(0.01^2 + 0.005^2).
    Profile s = sounding();
    for (int k = 0; k < s.n(); ++k) {
        s.gh[k] = 8000.0f * std::log(100000.0f / s.p[k]);
        s.u[k] = 3.0f + 0.01f * s.gh[k];
        s.v[k] = -2.0f + 0.005f * s.gh[k];
    }
    float shr = kUntouched;
    for (auto [p1, p2] : std::vector<std::pair<float, float>>{{85000.0f, 50000.0f}, {97000.0f, 41000.0f}}) {
        CX(cal_shr)(&shr, p1, p2, s.u.data(), s.v.data(), s.p.data(), s.gh.data(), s.n(), kMiss);
        EXPECT_NEAR(shr, std::sqrt(0.01 * 0.01 + 0.005 * 0.005), 1e-5) << p1;
    }
    CX(cal_shr)(&shr, 70000.0f, 70000.0f, s.u.data(), s.v.data(), s.p.data(), s.gh.data(), s.n(), kMiss);
    EXPECT_EQ(shr, kMiss);

    // A stable sounding (no CAPE) with a wind linear in height: the SSI is
    // 100 (2 + 0.276 ln(shear)) with the shear the wind's slope.
    Profile cold = sounding();
    for (int k = 0; k < cold.n(); ++k) {
        cold.t[k] = 10.0f;
        cold.td[k] = -20.0f;
        cold.u[k] = 1.0f + 0.004f * cold.gh[k];
        cold.v[k] = 0.003f * cold.gh[k];
    }
    float ssi = kUntouched;
    CX(cal_SSI)(&ssi, cold.t.data(), cold.td.data(), cold.u.data(), cold.v.data(), cold.gh.data(),
                cold.p.data(), cold.n(), kMiss);
    EXPECT_NEAR(ssi, 100.0 * (2.0 + 0.276 * std::log(0.005)), 0.05);
    // With CAPE the index grows by 100 * 2.011e-4 * CAPE.
    Profile warm = sounding();
    float cape = 0.0f, gcape = 0.0f, ssiWarm = kUntouched;
    CX(cal_cape)(&cape, &gcape, warm.t.data(), warm.td.data(), warm.gh.data(), warm.p.data(), warm.n(), kMiss);
    ASSERT_NE(cape, kMiss);
    for (int k = 0; k < warm.n(); ++k) {
        warm.u[k] = cold.u[k];
        warm.v[k] = cold.v[k];
    }
    CX(cal_SSI)(&ssiWarm, warm.t.data(), warm.td.data(), warm.u.data(), warm.v.data(), warm.gh.data(),
                warm.p.data(), warm.n(), kMiss);
    EXPECT_NEAR(ssiWarm - ssi, 100.0 * 2.011e-4 * cape, 0.05);
    // No shear: no logarithm.
    std::vector<float> calm(cold.n(), 5.0f);
    CX(cal_SSI)(&ssi, cold.t.data(), cold.td.data(), calm.data(), calm.data(), cold.gh.data(),
                cold.p.data(), cold.n(), kMiss);
    EXPECT_EQ(ssi, kMiss);
}

TEST(CumulexProfileIndices, DciAndSwissIndicesFromTheirParts)
{
    Profile s = sounding();
    float li = kUntouched, dci = kUntouched;
    CX(cal_LI)(&li, s.t.data(), s.td.data(), s.p.data(), s.n(), kMiss);
    CX(cal_DCI)(&dci, 22.0f, 18.0f, s.t.data(), s.td.data(), s.p.data(), s.n(), kMiss);
    EXPECT_EQ(dci, 22.0f + 18.0f - li);
    CX(cal_DCI)(&dci, kMiss, 18.0f, s.t.data(), s.td.data(), s.p.data(), s.n(), kMiss);
    EXPECT_EQ(dci, kMiss);
    Profile no500 = s;
    no500.p[10] = 49999.0f;
    CX(cal_DCI)(&dci, 22.0f, 18.0f, no500.t.data(), no500.td.data(), no500.p.data(), s.n(), kMiss);
    EXPECT_EQ(dci, kMiss);

    // Wind linear in height: |V(600 m) - V(300 m)| = |V(300 m) - V(base)| = 300 |dV/dz|.
    for (int k = 0; k < s.n(); ++k) {
        s.u[k] = 0.006f * (s.gh[k] - s.gh[0]);
        s.v[k] = -0.008f * (s.gh[k] - s.gh[0]);
    }
    float si = kUntouched, s00 = kUntouched, s12 = kUntouched;
    CX(cal_si)(&si, s.t[10], s.t[3], s.td[3], kMiss);
    CX(cal_swiss)(&s00, &s12, s.t.data(), s.td.data(), s.u.data(), s.v.data(), s.gh.data(),
                  s.p.data(), s.n(), kMiss);
    const double dv = 300.0 * 0.01;
    EXPECT_NEAR(s00, si + 0.4 * dv + 0.1 * (s.t[8] - s.td[8]), 1e-3);
    EXPECT_NEAR(s12, si - 0.3 * dv + 0.3 * (s.t[7] - s.td[7]), 1e-3);
    s.td[8] = kMiss;  // the 600-hPa dew point only enters swiss00
    CX(cal_swiss)(&s00, &s12, s.t.data(), s.td.data(), s.u.data(), s.v.data(), s.gh.data(),
                  s.p.data(), s.n(), kMiss);
    EXPECT_EQ(s00, kMiss);
    EXPECT_NE(s12, kMiss);
}

TEST(CumulexProfileIndices, ConvectiveCondensationLevelAndConvectiveTemperature)
{
    Profile s = sounding();
    float pccl = kUntouched, tccl = kUntouched;
    CX(cal_ccl)(&pccl, &tccl, s.t.data(), s.td.data(), s.p.data(), s.n(), kMiss);
    // On the 5-hPa grid from the first level; the parcel dew point reaches the
    // environment there and not one step below.
    ASSERT_NE(pccl, kMiss);
    EXPECT_EQ(std::fmod(1000.0f - pccl, 5.0f), 0.0f);
    float q = 0.0f, p0 = 1000.0f;
    CX(qq)(p0, s.td[0], &q);
    std::vector<float> ph;
    for (float p : s.p)
        ph.push_back(p / 100.0f);
    auto margin = [&](float pp) {
        float dew = 0.0f, env = 0.0f;
        CX(CPhysicsChange_Tdqs)(pp, q, &dew);
        CX(interplate)(pp, ph.data(), s.t.data(), s.n(), &env, kMiss);
        return dew - env;
    };
    EXPECT_GE(margin(pccl), 0.0f);
    EXPECT_LT(margin(pccl + 5.0f), 0.0f);
    CX(interplate)(pccl, ph.data(), s.t.data(), s.n(), &q, kMiss);
    EXPECT_EQ(tccl, q);

    // The grid version of the second set finds nearly the same level.
    float pz = kUntouched, tz = kUntouched;
    CX(CAL_CCL_ZBEI)(&pz, &tz, s.t.data(), s.td.data(), s.p.data(), s.n(), kMiss);
    EXPECT_EQ(std::fmod(1000.0f - pz, 10.0f), 0.0f);
    EXPECT_NEAR(pz, pccl, 12.0f);
    EXPECT_NEAR(tz, tccl, 1.5f);

    // Convective temperature: the condensation point down the dry adiabat to
    // the lowest level; tg = 1.8 (tc - tw), tw on the saturated adiabat through
    // 0 degC, here exactly at the 700-hPa level.
    Profile z = s;
    for (int k = 0; k < z.n(); ++k)
        z.t[k] = 0.0f + (z.p[k] - 70000.0f) * 6.0e-4f;
    for (int k = 0; k < z.n(); ++k)
        z.td[k] = k < 3 ? z.t[k] - 2.0f : z.t[k] - 15.0f;
    float tg = kUntouched, tc = kUntouched;
    CX(cal_ccl)(&pccl, &tccl, z.t.data(), z.td.data(), z.p.data(), z.n(), kMiss);
    CX(cal_wind_Tg)(&tg, &tc, z.t.data(), z.td.data(), z.p.data(), z.n(), kMiss);
    ASSERT_NE(pccl, kMiss);
    EXPECT_NEAR(reference::theta(1000.0, tc), reference::theta(pccl, tccl), 1e-3);
    const double tw = reference::moistT(1000.0, reference::thse(700.0, 0.0));
    EXPECT_NEAR(tg, 1.8 * (tc - tw), 0.2);

    // No level with both temperature and dew point: no starting level.
    std::vector<float> none(s.n(), kMiss);
    CX(cal_ccl)(&pccl, &tccl, s.t.data(), none.data(), s.p.data(), s.n(), kMiss);
    EXPECT_EQ(pccl, kMiss);
    EXPECT_EQ(tccl, kMiss);
    tg = tc = kUntouched;
    CX(cal_wind_Tg)(&tg, &tc, s.t.data(), none.data(), s.p.data(), s.n(), kMiss);
    EXPECT_EQ(tg, kMiss);
    EXPECT_EQ(tc, kMiss);
}

TEST(CumulexProfileIndices, BicIsTheMidLevelMinimumLessTheLowLevelMaximum)
{
    Profile s = sounding();
    double lowmax = 200.0, midmin = 1000.0;
    for (int k = 0; k < s.n(); ++k) {
        float th = 0.0f;
        CX(cal_thetse)(&th, s.t[k], s.td[k], s.p[k], kMiss);
        const double ph = s.p[k] / 100.0;
        if (1000.0 - ph <= 200.0)
            lowmax = std::max(lowmax, static_cast<double>(th));
        if (ph >= 500.0 && ph <= 650.0)
            midmin = std::min(midmin, static_cast<double>(th));
    }
    float bic = kUntouched;
    CX(cal_bic)(&bic, s.t.data(), s.td.data(), s.p.data(), s.n(), kMiss);
    EXPECT_FLOAT_EQ(bic, static_cast<float>(midmin - lowmax));
    EXPECT_LT(bic, 0.0f);

    std::vector<float> none(s.n(), kMiss);
    CX(cal_bic)(&bic, s.t.data(), none.data(), s.p.data(), s.n(), kMiss);
    EXPECT_EQ(bic, 800.0f);
    std::vector<float> high(s.p.begin() + 4, s.p.end());  // starts at 800 hPa
    CX(cal_bic)(&bic, s.t.data(), s.td.data(), high.data(), static_cast<int>(high.size()), kMiss);
    EXPECT_EQ(bic, kMiss);
}
