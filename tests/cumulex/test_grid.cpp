// Relative vorticity, divergence and bulk shear on whole grids, against the
// analytic derivatives of fields that can be differentiated by hand.
#include "cumulex_lib.h"
#include "cumulex/internal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

namespace {

const double kDMiss = 9999.0;
const double kRe = 6371220.0;
const double kRad = 0.017453292519943295;
const double kUntouched = -12345.0;

// A latitude-longitude grid with fields stored longitude fastest.
struct Grid {
    std::vector<double> lat, lon;
    int nlon() const { return static_cast<int>(lon.size()); }
    int nlat() const { return static_cast<int>(lat.size()); }
    size_t at(int ml, int nl) const { return static_cast<size_t>(nl) * lon.size() + ml; }
    std::vector<double> field(double (*f)(double lon, double lat)) const
    {
        std::vector<double> x(lon.size() * lat.size());
        for (int nl = 0; nl < nlat(); ++nl)
            for (int ml = 0; ml < nlon(); ++ml)
                x[at(ml, nl)] = f(lon[ml], lat[nl]);
        return x;
    }
};

std::vector<double> range(double first, double step, int count)
{
    std::vector<double> v(count);
    for (int i = 0; i < count; ++i)
        v[i] = first + step * i;
    return v;
}

std::vector<double> vorticity(const Grid& g, std::vector<double> u, std::vector<double> v,
                              int edgeopt)
{
    std::vector<double> rv(u.size(), kUntouched);
    Grid copy = g;
    CX(cal_rv)(rv.data(), u.data(), v.data(), copy.lat.data(), copy.lon.data(), g.nlon(),
               g.nlat(), edgeopt, kDMiss);
    return rv;
}

const Grid kRegional = {range(-30.0, 2.5, 37), range(0.0, 2.5, 9)};
const Grid kGlobal = {range(-80.0, 2.5, 65), range(0.0, 2.5, 144)};

}  // namespace

TEST(CumulexVorticity, UniformZonalWindGivesTheCurvatureTermAndLeavesTheFrameMissing)
{
    const Grid& g = kRegional;
    const auto u = g.field([](double, double) { return 12.0; });
    const auto v = g.field([](double, double) { return 0.0; });
    const auto rv = vorticity(g, u, v, 0);
    for (int nl = 0; nl < g.nlat(); ++nl) {
        for (int ml = 0; ml < g.nlon(); ++ml) {
            const bool frame = nl == 0 || nl == g.nlat() - 1 || ml == 0 || ml == g.nlon() - 1;
            if (frame)
                EXPECT_EQ(rv[g.at(ml, nl)], kDMiss) << ml << " " << nl;
            else
                EXPECT_DOUBLE_EQ(rv[g.at(ml, nl)], 12.0 * (std::tan(g.lat[nl] * kRad) / kRe));
        }
    }
}

TEST(CumulexVorticity, SolidBodyRotationAndALongitudinalWaveMatchTheAnalyticVorticity)
{
    const Grid& g = kGlobal;
    // u = U cos(lat): vorticity 2 U sin(lat) / re.
    const auto rv = vorticity(g, g.field([](double, double lat) { return 20.0 * std::cos(lat * kRad); }),
                              g.field([](double, double) { return 0.0; }), 0);
    for (int nl = 1; nl + 1 < g.nlat(); ++nl)
        EXPECT_NEAR(rv[g.at(5, nl)], 2.0 * 20.0 * std::sin(g.lat[nl] * kRad) / kRe, 1e-3 * 40.0 / kRe)
            << g.lat[nl];

    // v = V sin(lon): vorticity V cos(lon) / (re cos(lat)). With the grid
    // wrapping (edge option 1, either sign) the first and last columns take
    // their neighbours across the seam; without it they stay missing.
    const auto u0 = g.field([](double, double) { return 0.0; });
    const auto vw = g.field([](double lon, double) { return 15.0 * std::sin(lon * kRad); });
    for (int opt : {1, -1}) {
        const auto wrapped = vorticity(g, u0, vw, opt);
        for (int nl = 1; nl + 1 < g.nlat(); nl += 8) {
            const double scale = 15.0 / (kRe * std::cos(g.lat[nl] * kRad));
            for (int ml : {0, 1, 70, g.nlon() - 1})
                EXPECT_NEAR(wrapped[g.at(ml, nl)], scale * std::cos(g.lon[ml] * kRad), 1e-3 * scale)
                    << opt << " " << ml << " " << nl;
            EXPECT_EQ(wrapped[g.at(5, 0)], kDMiss);
        }
    }
    const auto open = vorticity(g, u0, vw, 0);
    EXPECT_EQ(open[g.at(0, 10)], kDMiss);
    EXPECT_EQ(open[g.at(g.nlon() - 1, 10)], kDMiss);
}

TEST(CumulexVorticity, EdgeOptionTwoDifferencesOneSidedAtTheEdgesAndExtrapolatesTheCorners)
{
    const Grid& g = kRegional;
    // Fields linear in degrees, for which every difference is exact:
    // rv = a / (deg cos(lat)) - c / deg + c lat tan(lat) / re.
    const double a = 0.3, c = -0.2, deg = kRe * kRad;
    const auto u = g.field([](double, double lat) { return -0.2 * lat; });
    const auto v = g.field([](double lon, double) { return 0.3 * lon; });
    const auto rv = vorticity(g, u, v, 2);
    auto X = [&](int ml, int nl) { return rv[g.at(ml, nl)]; };
    const int L = g.nlon() - 1, T = g.nlat() - 1;
    for (int nl = 0; nl <= T; ++nl) {
        const double phi = g.lat[nl];
        const double want = a / (deg * std::cos(phi * kRad)) - c / deg +
                            c * phi * (std::tan(phi * kRad) / kRe);
        for (int ml = 0; ml <= L; ++ml) {
            if ((ml == 0 || ml == L) && (nl == 0 || nl == T))
                continue;
            EXPECT_NEAR(X(ml, nl), want, 1e-9 * std::fabs(want)) << ml << " " << nl;
        }
    }
    EXPECT_EQ(X(0, 0), ((2.0 * X(0, 1) - X(0, 2)) + (2.0 * X(1, 0) - X(2, 0))) / 2.0);
    EXPECT_EQ(X(L, 0), ((2.0 * X(L, 1) - X(L, 2)) + (2.0 * X(L - 1, 0) - X(L - 2, 0))) / 2.0);
    EXPECT_EQ(X(0, T), ((2.0 * X(0, T - 1) - X(0, T - 2)) + (2.0 * X(1, T) - X(2, T))) / 2.0);
    EXPECT_EQ(X(L, T),
              ((2.0 * X(L, T - 1) - X(L, T - 2)) + (2.0 * X(L - 1, T) - X(L - 2, T))) / 2.0);

    // Option 3 wraps and fills the first and last rows: nothing stays missing.
    for (double x : vorticity(g, u, v, 3))
        EXPECT_NE(x, kDMiss);
}

TEST(CumulexVorticity, PoleRowsBecomeTheirMeanWhicheverWayTheLatitudesRun)
{
    Grid g = {range(-90.0, 2.5, 73), range(0.0, 5.0, 72)};
    const auto u = g.field([](double lon, double lat) {
        return 20.0 * std::cos(lat * kRad) + 3.0 * std::sin(lon * kRad);
    });
    const auto v = g.field([](double lon, double) { return 5.0 * std::cos(lon * kRad); });
    const auto north = vorticity(g, u, v, 2);
    const int T = g.nlat() - 1;
    for (int nl : {0, T}) {
        EXPECT_TRUE(std::isfinite(north[g.at(0, nl)]));
        EXPECT_NE(north[g.at(0, nl)], kDMiss);
        for (int ml = 1; ml < g.nlon(); ++ml)
            EXPECT_EQ(north[g.at(ml, nl)], north[g.at(0, nl)]) << ml << " " << nl;
    }
    // Without edge rows the pole rows have no values to average.
    const auto plain = vorticity(g, u, v, 0);
    EXPECT_EQ(plain[g.at(7, 0)], kDMiss);
    EXPECT_EQ(plain[g.at(7, T)], kDMiss);

    // The same fields with the rows running north to south: the first row at
    // +90 and the last at -90 have no neighbour for their curvature term.
    Grid flipped = g;
    std::vector<double> uf(u.size()), vf(v.size());
    for (int nl = 0; nl <= T; ++nl) {
        flipped.lat[nl] = g.lat[T - nl];
        for (int ml = 0; ml < g.nlon(); ++ml) {
            uf[g.at(ml, nl)] = u[g.at(ml, T - nl)];
            vf[g.at(ml, nl)] = v[g.at(ml, T - nl)];
        }
    }
    const auto south = vorticity(flipped, uf, vf, 2);
    for (int nl = 1; nl < T; ++nl)
        for (int ml = 1; ml + 1 < g.nlon(); ml += 7)
            EXPECT_EQ(south[g.at(ml, nl)], north[g.at(ml, T - nl)]) << ml << " " << nl;
    for (int nl : {0, T}) {
        EXPECT_TRUE(std::isfinite(south[g.at(0, nl)]));
        for (int ml = 1; ml < g.nlon(); ++ml)
            EXPECT_EQ(south[g.at(ml, nl)], south[g.at(0, nl)]);
    }
}

TEST(CumulexVorticity, RejectedGridsAndMissingValues)
{
    // Latitudes beyond the poles or an empty grid: rv is not touched.
    Grid bad = {{-91.0, 0.0, 10.0}, {0.0, 1.0, 2.0}};
    const std::vector<double> ones(9, 1.0);
    for (double x : vorticity(bad, ones, ones, 2))
        EXPECT_EQ(x, kUntouched);
    bad.lat = {-10.0, 0.0, 90.5};
    for (double x : vorticity(bad, ones, ones, 2))
        EXPECT_EQ(x, kUntouched);
    std::vector<double> one(1, kUntouched), lat(1, 0.0), lon(1, 0.0);
    CX(cal_rv)(one.data(), one.data(), one.data(), lat.data(), lon.data(), 0, 1, 0, kDMiss);
    EXPECT_EQ(one[0], kUntouched);

    // Fewer than three longitudes or latitudes: all missing, and nothing
    // beyond the arrays is read (the vectors are exactly the grid's size).
    for (const Grid& small : {Grid{{0.0, 1.0, 2.0}, {0.0, 1.0}}, Grid{{0.0, 1.0}, {0.0, 1.0, 2.0}}}) {
        const std::vector<double> f(small.lat.size() * small.lon.size(), 2.0);
        for (int opt : {0, 1, 2, 3})
            for (double x : vorticity(small, f, f, opt))
                EXPECT_EQ(x, kDMiss);
    }

    // A missing wind leaves exactly the points whose differences use it.
    const Grid& g = kRegional;
    auto u = g.field([](double, double lat) { return lat; });
    auto v = g.field([](double lon, double) { return lon; });
    u[g.at(4, 10)] = kDMiss;
    v[g.at(6, 20)] = kDMiss;
    const auto rv = vorticity(g, u, v, 0);
    for (int nl : {9, 10, 11})
        EXPECT_EQ(rv[g.at(4, nl)], kDMiss) << nl;
    EXPECT_EQ(rv[g.at(5, 20)], kDMiss);
    EXPECT_EQ(rv[g.at(7, 20)], kDMiss);
    for (auto [ml, nl] : std::vector<std::pair<int, int>>{{3, 10}, {5, 10}, {4, 8}, {4, 12}, {6, 20}, {6, 19}})
        EXPECT_NE(rv[g.at(ml, nl)], kDMiss) << ml << " " << nl;

    // Longitudes without spacing give no differences rather than infinities.
    Grid flat = kRegional;
    flat.lon.assign(flat.lon.size(), 10.0);
    for (double x : vorticity(flat, u, v, 2))
        EXPECT_EQ(x, kDMiss);
}

TEST(CumulexDivergence, MatchesTheAnalyticDivergenceOnTheSphere)
{
    // u = U cos(lon), v = V cos(lat):
    // div = -U sin(lon) / (re cos(lat)) - 2 V sin(lat) / re.
    const Grid& g = kGlobal;
    auto u = g.field([](double lon, double) { return 10.0 * std::cos(lon * kRad); });
    auto v = g.field([](double, double lat) { return 6.0 * std::cos(lat * kRad); });
    std::vector<double> dv(u.size(), kUntouched);
    Grid copy = g;
    const int nlon = g.nlon(), nlat = g.nlat(), opt = 1;
    int status = -1;
    convective_index_utils::ddvfidf(u.data(), v.data(), copy.lat.data(), copy.lon.data(), &nlon,
                                    &nlat, &kDMiss, &opt, dv.data(), &status);
    EXPECT_EQ(status, 0);
    for (int nl = 1; nl + 1 < nlat; nl += 4) {
        const double c = std::cos(g.lat[nl] * kRad);
        for (int ml : {0, 17, 36, nlon - 1}) {
            const double want = -10.0 * std::sin(g.lon[ml] * kRad) / (kRe * c) -
                                2.0 * 6.0 * std::sin(g.lat[nl] * kRad) / kRe;
            EXPECT_NEAR(dv[g.at(ml, nl)], want, 1e-3 * (10.0 / (kRe * c) + 12.0 / kRe));
        }
    }
    EXPECT_EQ(dv[g.at(3, 0)], kDMiss);
    const double beyond[3] = {95.0, 0.0, -10.0};
    const int three = 3;
    convective_index_utils::ddvfidf(u.data(), v.data(), beyond, copy.lon.data(), &nlon, &three,
                                    &kDMiss, &opt, dv.data(), &status);
    EXPECT_EQ(status, 2);
}

namespace {

// nx x ny columns of nz levels, heights from a base per column in 500-m steps.
struct Columns {
    int nx = 3, ny = 2, nz = 5;
    std::vector<double> h, u, v;
    size_t at(int i, int j, int k) const { return (static_cast<size_t>(k) * ny + j) * nx + i; }
    Columns(double (*fu)(int i, int j, double z), double (*fv)(int i, int j, double z))
        : h(nx * ny * nz), u(h.size()), v(h.size())
    {
        for (int k = 0; k < nz; ++k)
            for (int j = 0; j < ny; ++j)
                for (int i = 0; i < nx; ++i) {
                    const double z = 500.0 * k;
                    h[at(i, j, k)] = 100.0 * (i + 3 * j) + z;
                    u[at(i, j, k)] = fu(i, j, z);
                    v[at(i, j, k)] = fv(i, j, z);
                }
    }
    std::vector<double> shear(double dz)
    {
        std::vector<double> s(static_cast<size_t>(nx) * ny, kUntouched);
        CX(cal_shr01)(s.data(), u.data(), v.data(), h.data(), nx, ny, nz, kDMiss, dz);
        return s;
    }
};

}  // namespace

TEST(CumulexBulkShear, LinearAndConstantProfiles)
{
    // Winds growing linearly with height above the column base, with a slope
    // that differs per column: shear = |dV/dz| exactly where the layout is right.
    Columns linear([](int i, int j, double z) { return 2.0 + 0.004 * (i + 1) * (j + 1) * z; },
                   [](int i, int j, double z) { return -1.0 + 0.003 * (i + 1) * (j + 1) * z; });
    for (double dz : {1000.0, 1234.5, 1999.0}) {
        const auto s = linear.shear(dz);
        for (int j = 0; j < linear.ny; ++j)
            for (int i = 0; i < linear.nx; ++i)
                EXPECT_NEAR(s[j * linear.nx + i], 0.005 * (i + 1) * (j + 1), 1e-15) << dz;
    }
    Columns constant([](int i, int, double) { return 7.0 + i; }, [](int, int j, double) { return -3.0 * j; });
    for (double x : constant.shear(1000.0))
        EXPECT_EQ(x, 0.0);
}

TEST(CumulexBulkShear, ColumnsWithoutValidDataStayMissing)
{
    Columns c([](int, int, double z) { return z / 100.0; }, [](int, int, double) { return 1.0; });
    // The columns reach 2000 m above their base: beyond that, and at the top
    // level itself (the bracket is open above), there is no wind.
    for (double dz : {2000.0, 2500.0, 1.0e6, 0.0})
        for (double x : c.shear(dz))
            EXPECT_EQ(x, kDMiss) << dz;

    // A missing value anywhere above the target height, or at the lowest level.
    c.u[c.at(1, 0, 4)] = kDMiss;
    c.v[c.at(2, 1, 0)] = kDMiss;
    const auto s = c.shear(600.0);
    EXPECT_EQ(s[1], kDMiss);
    EXPECT_EQ(s[5], kDMiss);
    EXPECT_NEAR(s[0], (6.0 - 0.0) / 600.0, 1e-15);
    EXPECT_NEAR(s[4], 6.0 / 600.0, 1e-15);
}
