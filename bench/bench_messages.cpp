// Many small messages: the conversion against ecCodes' own scan.
//
//     build/bench/bench_messages [runs, default 5] [directory to keep] [messages, default 100000]
//
// Makes a GRIB 2 file of `messages` messages of 16 x 31 points (t, r, u, v
// and gh on 10 pressure levels, the 50 repeated as they are: the later of
// each slot is kept, the others are counted as dropped) in a temporary
// directory, then prints the median over `runs` of: ecCodes'
// one-key scan (a handle and its shortName per message, one thread), the
// yardstick; the conversion keeping t, and keeping all five, on two threads;
// and the conversion keeping t on one thread, whose output must be the
// same. Ratios are printed beside the goals.
#include "benchrun.h"
#include "scripts/gribsample.h"

#include <grib_api.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace bench;

const long kLevels[] = {1000, 925, 850, 700, 500, 400, 300, 250, 200, 100};
const char* kNames[] = {"t", "r", "u", "v", "gh"};
const char* kOutputs[] = {"TMP", "RH", "EDA", "VV", "HGT"};

// The sample: the 50 kinds, each encoded once, repeated.
void makeSample(const std::string& path, long messages)
{
    std::vector<std::string> kinds;
    GribField f;
    f.firstLon = 100;
    f.firstLat = 45;
    f.step = 0.5;
    f.ni = 16;
    f.nj = 31;
    f.values.resize(static_cast<size_t>(f.ni * f.nj));
    for (size_t n = 0; n < 5; ++n)
        for (long level : kLevels) {
            f.shortName = kNames[n];
            f.level = level;
            for (size_t k = 0; k < f.values.size(); ++k)
                f.values[k] = 100.0 * static_cast<double>(n) + level / 10.0 + std::sin(static_cast<double>(k));
            std::string error;
            kinds.push_back(makeGribMessage(f, &error));
            if (kinds.back().empty()) {
                std::fprintf(stderr, "cannot make the sample: %s\n", error.c_str());
                std::exit(1);
            }
        }
    std::ofstream out(path, std::ios::binary);
    for (long m = 0; m < messages; ++m) {
        const std::string& kind = kinds[static_cast<size_t>(m) % kinds.size()];
        out.write(kind.data(), static_cast<std::streamsize>(kind.size()));
    }
}

// ecCodes' one-key scan: a handle and its short name per message.
double scan(const std::string& path)
{
    const auto start = std::chrono::steady_clock::now();
    FILE* in = std::fopen(path.c_str(), "rb");
    int err = 0;
    long named = 0;
    while (grib_handle* h = grib_handle_new_from_file(nullptr, in, &err)) {
        char name[64];
        size_t len = sizeof name;
        if (grib_get_string(h, "shortName", name, &len) == 0)
            ++named;
        grib_handle_delete(h);
    }
    std::fclose(in);
    if (named == 0)
        std::exit(1);
    return seconds(start);
}

std::string row(size_t n)
{
    std::string levels;
    for (long level : kLevels)
        levels += (levels.empty() ? "" : ";") + std::to_string(level);
    return std::string(kNames[n]) + ",x,Isobaric surface,,x,,,0,0," + kOutputs[n] + ",x,,,," + levels + ",0,1";
}

double medianWall(int runs, const std::string& dir, const std::string& input, const std::string& table,
                  const std::string& output, int threads)
{
    std::vector<double> wall;
    for (int k = 0; k < runs; ++k)
        wall.push_back(convert(dir, input, table, output, threads).wall);
    return median(wall);
}

}  // namespace

int main(int argc, char** argv)
{
    const Setup setup = setUp(argc, argv);
    const bool keep = argc > 2;
    const long messages = argc > 3 ? std::max(50L, std::atol(argv[3])) : 100000;
    const std::string& dir = setup.dir;
    const std::string sample = dir + "/small.grib2";
    makeSample(sample, messages);
    writeTable(dir + "/config/one.csv", "100,108,45,60", {row(0)});
    std::vector<std::string> rows;
    for (size_t n = 0; n < 5; ++n)
        rows.push_back(row(n));
    writeTable(dir + "/config/all.csv", "100,108,45,60", rows);

    std::vector<double> scans;
    for (int k = 0; k < setup.runs; ++k)
        scans.push_back(scan(sample));
    const double yardstick = median(scans);
    const double one = medianWall(setup.runs, dir, sample, "one.csv", dir + "/one.nc", 2);
    const double all = medianWall(setup.runs, dir, sample, "all.csv", dir + "/all.nc", 2);
    const double single = medianWall(setup.runs, dir, sample, "one.csv", dir + "/one1.nc", 1);
    const bool same = sameContent(dir + "/one.nc", dir + "/one1.nc");

    std::printf("median of %d runs, %ld messages of 16 x 31 points, %s\n", setup.runs, messages, sample.c_str());
    std::printf("ecCodes' scan (handle and shortName), one thread: %.3f s\n", yardstick);
    std::printf("keeping t, two threads:   %.3f s (%.2f x scan; goal 0.75)\n", one, one / yardstick);
    std::printf("keeping all, two threads: %.3f s (%.2f x scan; goal 1.0)\n", all, all / yardstick);
    std::printf("keeping t, one thread:    %.3f s (%.2f x scan); outputs the same: %s\n", single, single / yardstick,
                same ? "yes" : "NO");
    if (!keep)
        shell("rm -rf " + dir);
    return same ? 0 : 1;
}
