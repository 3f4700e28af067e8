// Parcel profiles and convective energy on constructed soundings. Above the
// condensation level each sounding's environment is the parcel's own moist
// adiabat (solved in double precision) shifted by a chosen excess, so that the
// segments, levels and energies follow from the construction: an energy is
// R times the integral of |parcel - environment| over ln p between the
// crossings, evaluated on a 0.01-hPa grid.
#include "cumulex_lib.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

using cumulex_test::kMiss;
using reference::kR;

namespace {

std::vector<double> levels(double bottom, double top, double step)
{
    std::vector<double> out;
    for (double p = bottom; p >= top - 1e-9; p -= step)
        out.push_back(p);
    return out;
}

// A sounding whose surface parcel (T0, Td0 at the first level) is warmer than
// its environment by excess(p) above the condensation level; below it the
// environment is warmer than the dry-adiabatic parcel by `below`.
struct Built {
    reference::Sounding s;
    float plcl = 0.0f, tlcl = 0.0f;
    double thse = 0.0;

    double parcel(double p) const
    {
        return p <= plcl ? reference::moistT(p, thse)
                         : reference::dryT(p, reference::theta(plcl, tlcl));
    }
    // Parcel minus environment, and the same against the virtual temperature.
    double excess(double p) const { return parcel(p) - s.T(p); }
    double virtualExcess(double p) const { return parcel(p) - s.Tv(p); }
};

Built build(double T0, double Td0, const std::vector<double>& ps,
            const std::function<double(double)>& excess, double below = 1.0,
            double depressionAbove = 4.0)
{
    Built b;
    float p0 = static_cast<float>(ps[0]), t0 = static_cast<float>(T0),
          td0 = static_cast<float>(Td0);
    CX(LCL)(&p0, &t0, &td0, &b.plcl, &b.tlcl);
    b.thse = reference::thse(b.plcl, b.tlcl);
    for (size_t i = 0; i < ps.size(); ++i) {
        const double p = ps[i];
        double t, td;
        if (i == 0) {
            t = T0;
            td = Td0;
        } else if (p > b.plcl) {
            t = b.parcel(p) + below;
            td = t - (T0 - Td0);
        } else {
            t = b.parcel(p) - excess(p);
            td = t - depressionAbove;
        }
        b.s.p.push_back(p);
        b.s.t.push_back(t);
        b.s.td.push_back(td);
    }
    return b;
}

// What the library returns for one sounding.
struct Results {
    float tclp, tclt, hgt, plfc, tlfc, pel, tel, cape, gcape, cin, dcape, li;
};

Results compute(const std::vector<float>& t, const std::vector<float>& td,
                const std::vector<float>& p, std::vector<float> gh = {})
{
    if (gh.empty())
        gh.assign(p.size(), 0.0f);
    const int n = static_cast<int>(p.size());
    std::vector<float> T = t, Td = td, P = p;
    Results r;
    r.li = -12345.0f;
    CX(cal_tcl)(&r.tclp, &r.tclt, &r.hgt, T.data(), Td.data(), P.data(), n, kMiss);
    CX(cal_LFC)(&r.plfc, &r.tlfc, T.data(), Td.data(), gh.data(), P.data(), n, kMiss);
    CX(cal_EL)(&r.pel, &r.tel, T.data(), Td.data(), gh.data(), P.data(), n, kMiss);
    CX(cal_cape)(&r.cape, &r.gcape, T.data(), Td.data(), gh.data(), P.data(), n, kMiss);
    CX(cal_cin)(&r.cin, T.data(), Td.data(), gh.data(), P.data(), n, kMiss);
    CX(cal_dcape)(&r.dcape, T.data(), Td.data(), gh.data(), P.data(), n, kMiss);
    CX(cal_LI)(&r.li, T.data(), Td.data(), P.data(), n, kMiss);
    return r;
}

Results compute(const Built& b, std::vector<float> gh = {})
{
    return compute(b.s.tf(), b.s.tdf(), b.s.pPa(), gh);
}

// Positive segments (bottom, top) of f from pBottom upward to pTop, and
// whether the last one is still open at pTop.
struct Segments {
    std::vector<std::pair<double, double>> closed;
    bool open = false;
    double openBase = 0.0;
};

Segments segments(const std::function<double(double)>& f, double pBottom, double pTop)
{
    Segments out;
    const std::vector<double> c = reference::crossings(f, pBottom, pTop);
    bool inside = f(pBottom) > 0.0;
    double base = pBottom;
    for (double x : c) {
        if (inside)
            out.closed.push_back({base, x});
        else
            base = x;
        inside = !inside;
    }
    out.open = inside;
    out.openBase = base;
    return out;
}

double segmentEnergy(const Segments& s, const std::function<double(double)>& f)
{
    double e = 0.0;
    for (auto [bottom, top] : s.closed)
        e += reference::energy(f, top, bottom);
    return e;
}

// The parcel temperature of the library comes out of an 11-step bisection,
// within 0.06 K of the moist adiabat: that much per unit of ln p, plus a
// little for the 2-hPa trapezoids and the segment edges.
double energyTolerance(const Segments& s, double expected)
{
    double depth = 0.0;
    for (auto [bottom, top] : s.closed)
        depth += std::log(bottom / top);
    return kR * 0.06 * depth + 0.004 * expected + 1.0;
}

bool onParcelGrid(float p, float plcl)
{
    const float steps = (plcl - p) / 2.0f;
    return steps == std::round(steps);
}

// Two positive areas: 869 to 667 hPa and 583 to 294 hPa.
double twoSegmentExcess(double p)
{
    if (p >= 875.0)
        return -1.0;
    if (p >= 700.0)
        return 3.0;
    if (p >= 675.0)
        return 1.0;
    if (p >= 600.0)
        return -2.0;
    if (p >= 575.0)
        return 1.0;
    if (p >= 325.0)
        return 3.0;
    if (p >= 300.0)
        return 1.0;
    return -3.0;
}

}  // namespace

TEST(CumulexCondensationLevelOfASounding, StartsAtTheFirstLevelWithTemperatureAndDewPoint)
{
    const Built b = build(26.0, 20.0, levels(1000, 200, 25), twoSegmentExcess);
    const Results r = compute(b);
    EXPECT_EQ(r.tclp, b.plcl);
    EXPECT_EQ(r.tclt, b.tlcl);
    // Dry-adiabatic ascent at g / cp: 1005 / 9.81 m per kelvin of cooling.
    EXPECT_NEAR(r.hgt, (26.0 - r.tclt) * 1005.0 / 9.81, 1e-3);
    EXPECT_NEAR(r.hgt, 750.0, 100.0);

    // Level 1 without a dew point: the parcel starts at level 2.
    std::vector<float> t = b.s.tf(), td = b.s.tdf(), p = b.s.pPa();
    td[0] = kMiss;
    float tclp, tclt, hgt;
    CX(cal_tcl)(&tclp, &tclt, &hgt, t.data(), td.data(), p.data(), static_cast<int>(p.size()),
                kMiss);
    float p1 = p[1] / 100.0f, plcl, tlcl;
    CX(LCL)(&p1, &t[1], &td[1], &plcl, &tlcl);
    EXPECT_EQ(tclp, plcl);
    EXPECT_EQ(tclt, tlcl);
    EXPECT_NEAR(hgt, (t[1] - tlcl) * 1005.0 / 9.81, 1e-3);
}

TEST(CumulexMoistUnstableSounding, TwoPositiveAreas)
{
    const Built b = build(26.0, 20.0, levels(1000, 200, 25), twoSegmentExcess);
    const Results r = compute(b);
    auto excess = [&](double p) { return b.excess(p); };
    const Segments seg = segments(excess, b.plcl, 202.0);
    ASSERT_EQ(seg.closed.size(), 2u);
    ASSERT_FALSE(seg.open);

    // LFC: the first 2-hPa step above the lower crossing; EL: the first step
    // above the upper one where the parcel is colder again.
    EXPECT_TRUE(onParcelGrid(r.plfc, b.plcl));
    EXPECT_LE(r.plfc, seg.closed[0].first + 0.6);
    EXPECT_GT(r.plfc, seg.closed[0].first - 2.6);
    EXPECT_NEAR(r.tlfc, b.parcel(r.plfc), 0.06);
    EXPECT_TRUE(onParcelGrid(r.pel, b.plcl));
    EXPECT_LE(r.pel, seg.closed[1].second + 0.6);
    EXPECT_GT(r.pel, seg.closed[1].second - 2.6);
    EXPECT_NEAR(r.tel, b.parcel(r.pel), 0.06);

    // CAPE adds both areas. By hand, with the excess linear between levels:
    // lower area 1.5 ln(869/850) + 3 ln(850/700) + 2 ln(700/675) + 0.5 ln(675/667),
    // upper area 0.5 ln(583/575) + 2 ln(575/550) + 3 ln(550/325) + 2 ln(325/300)
    // + 0.5 ln(300/294): R * 2.538 = 729 J/kg.
    const double cape = segmentEnergy(seg, excess);
    EXPECT_NEAR(cape, 729.0, 10.0);
    EXPECT_NEAR(r.cape, cape, energyTolerance(seg, cape));

    // gcape: the same with the virtual temperature, over the whole-hPa LFC
    // to EL depth.
    const double virtualCape =
        segmentEnergy(seg, [&](double p) { return b.virtualExcess(p); });
    const double gcape = virtualCape / (std::trunc(r.plfc) - r.pel);
    EXPECT_NEAR(r.gcape, gcape, energyTolerance(seg, virtualCape) / (r.plfc - r.pel));

    // CIN: the dry ascent from the surface (without the 2 hPa below the
    // condensation level) and the moist ascent up to the LFC, both against
    // the environment's virtual temperature.
    auto dryExcess = [&](double p) {
        return reference::dryT(p, reference::theta(b.plcl, b.tlcl)) - b.s.Tv(p);
    };
    const double cin = reference::energy(dryExcess, b.plcl + 2.0, 1000.0) +
                       reference::energy([&](double p) { return b.virtualExcess(p); },
                                         r.plfc, b.plcl);
    EXPECT_NEAR(r.cin, cin, kR * 0.06 * std::log(b.plcl / r.plfc) + 0.005 * cin + 0.5);
    EXPECT_GT(r.cin, 0.0f);

    // DCAPE: from the level of lowest saturated equivalent potential
    // temperature between 698 and 400 hPa, saturated descent to the surface.
    double thmin = 1e9, pmin = 0.0;
    for (int pp = 698; pp >= 400; pp -= 2) {
        const double s = reference::thse(pp, b.s.T(pp));
        if (s < thmin) {
            thmin = s;
            pmin = pp;
        }
    }
    const double dcape = reference::energy(
        [&](double p) { return reference::moistT(p, thmin) - b.s.Tv(p); }, pmin, 1000.0);
    EXPECT_NEAR(r.dcape, dcape, kR * 0.06 * std::log(1000.0 / pmin) + 0.005 * dcape + 1.0);
    EXPECT_GT(r.dcape, 10.0f);

    // Lifted index: 500 hPa lies on the parcel grid, 3 K inside the upper area.
    EXPECT_NEAR(r.li, -3.0, 0.07);
}

TEST(CumulexMoistUnstableSounding, HeightsHaveNoEffect)
{
    const Built b = build(26.0, 20.0, levels(1000, 200, 25), twoSegmentExcess);
    const Results flat = compute(b);
    const Results hilly = compute(b, b.s.gh());
    EXPECT_EQ(flat.plfc, hilly.plfc);
    EXPECT_EQ(flat.pel, hilly.pel);
    EXPECT_EQ(flat.cape, hilly.cape);
    EXPECT_EQ(flat.gcape, hilly.gcape);
    EXPECT_EQ(flat.cin, hilly.cin);
    EXPECT_EQ(flat.dcape, hilly.dcape);
}

TEST(CumulexStableDrySounding, HasNoFreeConvection)
{
    const Built b = build(20.0, -5.0, levels(1000, 200, 25), [](double) { return -4.0; }, 2.0,
                          25.0);
    ASSERT_GT(b.plcl, 500.0f);
    const Results r = compute(b);
    EXPECT_EQ(r.plfc, kMiss);
    EXPECT_EQ(r.tlfc, kMiss);
    EXPECT_EQ(r.pel, kMiss);
    EXPECT_EQ(r.tel, kMiss);
    EXPECT_EQ(r.cape, kMiss);
    EXPECT_EQ(r.gcape, kMiss);
    EXPECT_EQ(r.cin, kMiss);
    EXPECT_EQ(r.dcape, kMiss);
    // The environment is 4 K warmer than the parcel at 500 hPa.
    EXPECT_NEAR(r.li, 4.0, 0.07);
}

TEST(CumulexBuoyantAtTheTop, CountsOnlyTheClosedAreasBelow)
{
    auto excess = [](double p) { return p >= 600.0 ? twoSegmentExcess(p) : 3.0; };
    const Built b = build(26.0, 20.0, levels(1000, 200, 25), excess);
    const Results r = compute(b);
    const Segments seg = segments([&](double p) { return b.excess(p); }, b.plcl, 202.0);
    ASSERT_EQ(seg.closed.size(), 1u);
    ASSERT_TRUE(seg.open);

    EXPECT_NE(r.plfc, kMiss);
    EXPECT_NEAR(r.plfc, seg.closed[0].first, 2.6);
    EXPECT_EQ(r.pel, kMiss);
    EXPECT_EQ(r.tel, kMiss);
    EXPECT_EQ(r.gcape, kMiss);
    const double cape = segmentEnergy(seg, [&](double p) { return b.excess(p); });
    EXPECT_NEAR(r.cape, cape, energyTolerance(seg, cape));
}

TEST(CumulexBuoyantAtTheTop, AnOpenAreaAloneHasNoCape)
{
    auto excess = [](double p) { return p >= 600.0 ? -2.0 : 3.0; };
    const Built b = build(26.0, 20.0, levels(1000, 200, 25), excess);
    const Results r = compute(b);
    // The excess crosses zero near 590 hPa, two fifths of the way from 600
    // to 575 hPa.
    const Segments seg = segments([&](double p) { return b.excess(p); }, b.plcl, 202.0);
    ASSERT_TRUE(seg.closed.empty());
    ASSERT_TRUE(seg.open);
    EXPECT_NEAR(seg.openBase, 590.0, 0.5);
    EXPECT_TRUE(onParcelGrid(r.plfc, b.plcl));
    EXPECT_LE(r.plfc, seg.openBase + 0.6);
    EXPECT_GT(r.plfc, seg.openBase - 2.6);
    EXPECT_EQ(r.pel, kMiss);
    EXPECT_EQ(r.cape, kMiss);
    EXPECT_EQ(r.gcape, kMiss);
    EXPECT_EQ(r.dcape, kMiss);
    // Inhibition below the open area still has a value.
    EXPECT_NE(r.cin, kMiss);
    EXPECT_GT(r.cin, 0.0f);
}

TEST(CumulexLclAtTheLfc, HasNoInhibition)
{
    // Levels every 10 hPa: the condensation level is one of them, and the
    // parcel is 2 K warmer there already.
    auto excess = [](double p) { return p >= 490.0 ? 2.0 : -3.0; };
    const Built b = build(26.0, 20.0, levels(1000, 200, 10), excess);
    const Results r = compute(b);
    EXPECT_EQ(r.plfc, b.plcl);
    EXPECT_EQ(r.tlfc, b.tlcl);
    EXPECT_EQ(r.cin, kMiss);
    const Segments seg = segments([&](double p) { return b.excess(p); }, b.plcl, 202.0);
    const double cape = segmentEnergy(seg, [&](double p) { return b.excess(p); });
    EXPECT_NEAR(r.cape, cape, energyTolerance(seg, cape));
    EXPECT_NEAR(r.cape, kR * 2.0 * std::log(b.plcl / 485.0), 0.02 * r.cape);
}

TEST(CumulexShortPositiveArea, FewerThanFiveStepsIsNoArea)
{
    // The parcel is 2 K warmer at the steps 700, 698, 696, 694 only.
    auto excess = [](double p) { return p <= 700.0 && p >= 694.0 ? 2.0 : -2.0; };
    std::vector<double> ps = levels(1000, 200, 10);
    ps.insert(ps.begin() + 30, {702.0});
    ps.insert(ps.begin() + 32, {694.0, 692.0});
    const Built b = build(26.0, 20.0, ps, excess);
    const Results r = compute(b);
    EXPECT_EQ(r.plfc, kMiss);
    EXPECT_EQ(r.pel, kMiss);
    EXPECT_EQ(r.cape, kMiss);
    EXPECT_EQ(r.cin, kMiss);
}

TEST(CumulexShortPositiveArea, FiveStepsMakeAnArea)
{
    // Warmer at 700 .. 692; colder again at 690.
    auto excess = [](double p) { return p <= 700.0 && p >= 692.0 ? 2.0 : -2.0; };
    std::vector<double> ps = levels(1000, 200, 10);
    ps.insert(ps.begin() + 30, {702.0});
    ps.insert(ps.begin() + 32, {692.0});
    const Built b = build(26.0, 20.0, ps, excess);
    const Results r = compute(b);
    EXPECT_EQ(r.plfc, 700.0f);
    EXPECT_EQ(r.pel, 690.0f);
    EXPECT_NEAR(r.tel, b.parcel(690.0), 0.06);
    // Every step counts |2 K|, also the one at 690 where the parcel is colder.
    EXPECT_NEAR(r.cape, kR * 2.0 * std::log(700.0 / 690.0), kR * 0.06 * 0.0144);
    // 8.3 J/kg is too little for a downdraft energy.
    EXPECT_EQ(r.dcape, kMiss);
    EXPECT_NE(r.cin, kMiss);
}

TEST(CumulexLiftedIndex, NeedsALevelAtExactly500hPa)
{
    const Built b = build(26.0, 20.0, levels(1000, 200, 25), twoSegmentExcess);
    std::vector<float> t = b.s.tf(), td = b.s.tdf(), p = b.s.pPa();
    const int n = static_cast<int>(p.size());
    const int i500 = 20;
    ASSERT_EQ(p[i500], 50000.0f);
    float li = 0.0f;
    p[i500] = 50000.4f;
    CX(cal_LI)(&li, t.data(), td.data(), p.data(), n, kMiss);
    EXPECT_EQ(li, kMiss);
    p[i500] = 50000.0f;

    // 500 hPa between two parcel steps: log-pressure interpolation between them.
    std::vector<float> t2 = t, td2 = td, p2 = p;
    float p0 = p2[0] / 100.0f + 1.0f;  // 1001 hPa: the parcel grid has odd pressures
    p2[0] = p0 * 100.0f;
    CX(cal_LI)(&li, t2.data(), td2.data(), p2.data(), n, kMiss);
    float plcl, tlcl;
    CX(LCL)(&p0, &t2[0], &td2[0], &plcl, &tlcl);
    const double expected = t2[i500] - reference::moistT(500.0, reference::thse(plcl, tlcl));
    EXPECT_NEAR(li, expected, 0.07);

    // A missing temperature at 500 hPa gives no index.
    t[i500] = kMiss;
    CX(cal_LI)(&li, t.data(), td.data(), p.data(), n, kMiss);
    EXPECT_EQ(li, kMiss);

    // A parcel that condenses above 500 hPa leaves the output as it was.
    const Built dry = build(35.0, -40.0, levels(1000, 200, 25), [](double) { return -4.0; });
    ASSERT_LT(dry.plcl, 500.0f);
    std::vector<float> tt = dry.s.tf(), tdd = dry.s.tdf(), pp = dry.s.pPa();
    li = -12345.0f;
    CX(cal_LI)(&li, tt.data(), tdd.data(), pp.data(), n, kMiss);
    EXPECT_EQ(li, -12345.0f);
}

TEST(CumulexColumnWithoutStart, NoLevelWithTemperatureAndDewPoint)
{
    const Built b = build(26.0, 20.0, levels(1000, 200, 25), twoSegmentExcess);
    std::vector<float> t = b.s.tf(), td = b.s.tdf();
    for (size_t i = 0; i < t.size(); ++i)
        (i % 2 ? t : td)[i] = kMiss;
    const Results r = compute(t, td, b.s.pPa());
    for (float v : {r.tclp, r.tclt, r.hgt, r.plfc, r.tlfc, r.pel, r.tel, r.cape, r.gcape, r.cin,
                    r.dcape, r.li})
        EXPECT_EQ(v, kMiss);
}

TEST(CumulexDowndraftSource, NoneBetween698And400hPa)
{
    // A positive area from 869 to about 740 hPa, and no temperatures from
    // 700 hPa up.
    auto excess = [](double p) { return p >= 875.0 ? -1.0 : p >= 750.0 ? 3.0 : -2.0; };
    const Built b = build(26.0, 20.0, levels(1000, 200, 25), excess);
    std::vector<float> t = b.s.tf();
    for (size_t i = 0; i < t.size(); ++i)
        if (b.s.p[i] <= 700.0)
            t[i] = kMiss;
    const Results r = compute(t, b.s.tdf(), b.s.pPa());
    EXPECT_GT(r.cape, 10.0f);
    EXPECT_NE(r.cape, kMiss);
    EXPECT_EQ(r.dcape, kMiss);
}

TEST(CumulexMissingEnvironment, InsideAnAreaDoesNotCountAsATemperature)
{
    const Built b = build(26.0, 20.0, levels(1000, 200, 25), twoSegmentExcess);
    const Results whole = compute(b);
    std::vector<float> t = b.s.tf();
    t[17] = kMiss;  // 575 hPa, at the base of the upper area
    t[22] = kMiss;  // 450 hPa, inside it
    const Results gaps = compute(t, b.s.tdf(), b.s.pPa());
    EXPECT_LT(gaps.cape, whole.cape);
    EXPECT_GT(gaps.cape, 0.5f * whole.cape);
    EXPECT_LT(gaps.gcape, whole.gcape * 1.5f);
    EXPECT_LT(gaps.dcape, 2.0f * whole.dcape);
}

TEST(CumulexUnusableProfile, FewerThanTwoLevelsOrPressuresNotDecreasing)
{
    const Built b = build(26.0, 20.0, levels(1000, 200, 25), twoSegmentExcess);
    const std::vector<float> t = b.s.tf(), td = b.s.tdf(), p = b.s.pPa();
    auto expectAllMissing = [](const Results& r, const char* what) {
        for (float v : {r.tclp, r.tclt, r.hgt, r.plfc, r.tlfc, r.pel, r.tel, r.cape, r.gcape,
                        r.cin, r.dcape, r.li})
            EXPECT_EQ(v, kMiss) << what;
    };
    expectAllMissing(compute({t[0]}, {td[0]}, {p[0]}), "one level");

    std::vector<float> pp = p;
    pp[5] = pp[4];
    expectAllMissing(compute(t, td, pp), "equal pressures");
    pp = p;
    std::swap(pp[10], pp[11]);
    expectAllMissing(compute(t, td, pp), "a pressure rising");
    expectAllMissing(compute(std::vector<float>(t.rbegin(), t.rend()),
                             std::vector<float>(td.rbegin(), td.rend()),
                             std::vector<float>(p.rbegin(), p.rend())),
                     "top level first");
    pp = p;
    pp[8] = kMiss;
    expectAllMissing(compute(t, td, pp), "a missing pressure");
    pp = p;
    pp[8] = std::numeric_limits<float>::quiet_NaN();
    expectAllMissing(compute(t, td, pp), "a pressure that is not a number");

    // No level at all: nothing is read.
    float one = 0.0f, two = 0.0f, three = 0.0f;
    for (int n : {0, -4}) {
        CX(cal_tcl)(&one, &two, &three, nullptr, nullptr, nullptr, n, kMiss);
        EXPECT_EQ(one, kMiss);
        CX(cal_cape)(&one, &two, nullptr, nullptr, nullptr, nullptr, n, kMiss);
        EXPECT_EQ(one, kMiss);
        EXPECT_EQ(two, kMiss);
        CX(cal_cin)(&one, nullptr, nullptr, nullptr, nullptr, n, kMiss);
        EXPECT_EQ(one, kMiss);
        CX(cal_dcape)(&one, nullptr, nullptr, nullptr, nullptr, n, kMiss);
        EXPECT_EQ(one, kMiss);
        CX(cal_LI)(&one, nullptr, nullptr, nullptr, n, kMiss);
        EXPECT_EQ(one, kMiss);
    }
}
