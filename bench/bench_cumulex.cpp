// Columns per second of the column routines of libcumulex that the converter
// calls once per grid point (cal_cape, cal_cin, cal_dcape, cal_tcl), on one
// 20-level sounding from 1000 to 50 hPa, and grid points per second of the
// grid routines cal_rv and cal_shr01 on a 0.25-degree grid of 229 x 193
// points (cal_shr01 over 20 levels 100 m apart, dz = 1000 m).
//
// Built with the library as bench/bench_cumulex in the build directory; run
//   <build>/bench/bench_cumulex [seconds per routine, default 2]
// in an optimised build without sanitizers for comparable figures.
#include "cumulex/cumulex.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

const int kLevels = 20;
const float kMiss = 9999.0f;

struct Sounding {
    float t[kLevels];
    float td[kLevels];
    float gh[kLevels];
    float p[kLevels];
};

// A warm, moist boundary layer under a conditionally unstable troposphere and
// an isothermal stratosphere: CAPE, CIN and DCAPE all have values.
Sounding makeSounding()
{
    Sounding s;
    for (int i = 0; i < kLevels; ++i) {
        const float hpa = 1000.0f - 50.0f * static_cast<float>(i);
        s.p[i] = hpa * 100.0f;
        const float z = 44330.0f * (1.0f - std::pow(hpa / 1013.25f, 0.1903f));
        s.gh[i] = z;
        s.t[i] = z < 11000.0f ? 28.0f - 6.8e-3f * z : 28.0f - 6.8e-3f * 11000.0f;
        s.td[i] = i < 3 ? s.t[i] - 3.0f : s.t[i] - 12.0f - static_cast<float>(i);
    }
    return s;
}

// Calls per second of `call`, run in batches of `batch` for `seconds`.
double rate(double seconds, int batch, const std::function<void()>& call)
{
    using Clock = std::chrono::steady_clock;
    long calls = 0;
    const Clock::time_point begin = Clock::now();
    double elapsed = 0.0;
    while (elapsed < seconds) {
        for (int i = 0; i < batch; ++i)
            call();
        calls += batch;
        elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
    }
    return static_cast<double>(calls) / elapsed;
}

void measure(const char* name, double seconds, const std::function<void()>& column)
{
    std::printf("%-10s %12.0f columns/s\n", name, rate(seconds, 50, column));
}

const int kLon = 229;
const int kLat = 193;
const int kShearLevels = 20;

// Winds of a mid-latitude jet and a travelling wave on the grid, and for the
// shear their growth over 20 levels 100 m apart above an uneven ground.
struct Fields {
    std::vector<double> lat, lon, u, v, u3, v3, h3, out;
};

Fields makeFields()
{
    Fields f;
    const double rad = 3.14159265358979 / 180.0;
    for (int j = 0; j < kLat; ++j)
        f.lat.push_back(10.0 + 0.25 * j);
    for (int i = 0; i < kLon; ++i)
        f.lon.push_back(70.0 + 0.25 * i);
    for (int j = 0; j < kLat; ++j) {
        for (int i = 0; i < kLon; ++i) {
            const double jet = 30.0 * std::exp(-std::pow((f.lat[j] - 40.0) / 8.0, 2.0));
            f.u.push_back(jet + 5.0 * std::sin(4.0 * f.lon[i] * rad));
            f.v.push_back(8.0 * std::cos(6.0 * f.lon[i] * rad) * std::cos(f.lat[j] * rad));
        }
    }
    const size_t plane = f.u.size();
    for (int k = 0; k < kShearLevels; ++k) {
        for (size_t p = 0; p < plane; ++p) {
            f.h3.push_back(0.1 * static_cast<double>(p % 997) + 100.0 * k);
            f.u3.push_back(f.u[p] * (0.5 + 0.03 * k));
            f.v3.push_back(f.v[p] * (0.5 + 0.02 * k));
        }
    }
    f.out.resize(plane);
    return f;
}

}  // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    Sounding s = makeSounding();

    float a = 0.0f, b = 0.0f, c = 0.0f;
    cal_cape(&a, &b, s.t, s.td, s.gh, s.p, kLevels, kMiss);
    std::printf("sounding: cape %.1f J/kg, gcape %.3f", a, b);
    cal_cin(&a, s.t, s.td, s.gh, s.p, kLevels, kMiss);
    std::printf(", cin %.1f J/kg", a);
    cal_dcape(&a, s.t, s.td, s.gh, s.p, kLevels, kMiss);
    std::printf(", dcape %.1f J/kg", a);
    cal_tcl(&a, &b, &c, s.t, s.td, s.p, kLevels, kMiss);
    std::printf(", lcl %.0f hPa %.2f degC %.0f m\n", a, b, c);

    measure("cal_cape", seconds, [&] { cal_cape(&a, &b, s.t, s.td, s.gh, s.p, kLevels, kMiss); });
    measure("cal_cin", seconds, [&] { cal_cin(&a, s.t, s.td, s.gh, s.p, kLevels, kMiss); });
    measure("cal_dcape", seconds, [&] { cal_dcape(&a, s.t, s.td, s.gh, s.p, kLevels, kMiss); });
    measure("cal_tcl", seconds, [&] { cal_tcl(&a, &b, &c, s.t, s.td, s.p, kLevels, kMiss); });

    Fields f = makeFields();
    const double points = static_cast<double>(kLon) * kLat;
    const double rv = rate(seconds, 5, [&] {
        cal_rv(f.out.data(), f.u.data(), f.v.data(), f.lat.data(), f.lon.data(), kLon, kLat, 2,
               9999.0);
    });
    std::printf("%-10s %12.0f points/s (%d x %d grid, %.2f ms per call)\n", "cal_rv", rv * points,
                kLon, kLat, 1000.0 / rv);
    const double shr = rate(seconds, 5, [&] {
        cal_shr01(f.out.data(), f.u3.data(), f.v3.data(), f.h3.data(), kLon, kLat, kShearLevels,
                  9999.0, 1000.0);
    });
    int present = 0;
    for (double x : f.out)
        present += x != 9999.0;
    std::printf("%-10s %12.0f points/s (%d x %d grid, %d levels, %.2f ms per call, %d values)\n",
                "cal_shr01", shr * points, kLon, kLat, kShearLevels, 1000.0 / shr, present);
    return 0;
}
