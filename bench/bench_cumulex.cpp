// Columns per second of the column routines of libcumulex that the converter
// calls once per grid point (cal_cape, cal_cin, cal_dcape, cal_tcl), on one
// 20-level sounding from 1000 to 50 hPa.
//
// Built with the library as bench/bench_cumulex in the build directory; run
//   <build>/cumulex/bench/bench_cumulex [seconds per routine, default 2]
// in an optimised build without sanitizers for comparable figures.
#include "cumulex/cumulex.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

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

void measure(const char* name, double seconds, const std::function<void()>& column)
{
    using Clock = std::chrono::steady_clock;
    long calls = 0;
    const Clock::time_point begin = Clock::now();
    double elapsed = 0.0;
    while (elapsed < seconds) {
        for (int i = 0; i < 50; ++i)
            column();
        calls += 50;
        elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
    }
    std::printf("%-10s %12.0f columns/s\n", name, static_cast<double>(calls) / elapsed);
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
    return 0;
}
