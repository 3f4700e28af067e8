// Speed and peak memory of the GRIB conversion, against ecCodes itself.
//
//     build/bench/bench_convert [runs, default 5] [directory to keep]
//
// Makes a 0.25-degree global GRIB 2 file (1440 x 721 points; t, r, u, v and
// gh on 26 pressure levels; 16-bit simple packing) and its .gz and .bz2
// copies in a temporary directory, then prints the median over `runs` of:
// the time ecCodes takes to decode the values of every message on one
// thread (the yardstick); the wall time and peak memory of converting the
// 130 fields to the area 80..137 E, 12..60 N; of converting t on 5 levels
// only; of the area conversion on one thread and on every core, whose
// outputs must be the same; of the area conversion of the compressed copies,
// whose outputs must equal the plain one; and of a conversion of the file's
// first message alone (what any run costs: starting, ecCodes' tables, the
// output). Ratios are printed beside the goals.
#include "benchrun.h"
#include "globalsample.h"

#include <grib_api.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace bench;

// The sample, and its first message alone in `firstPath`.
void makeSample(const std::string& path, const std::string& firstPath)
{
    std::ofstream out(path, std::ios::binary);
    std::ofstream first(firstPath, std::ios::binary);
    forEachGlobalField(-1, [&](const std::string& message, bool isFirst) {
        out.write(message.data(), static_cast<std::streamsize>(message.size()));
        if (isFirst)
            first.write(message.data(), static_cast<std::streamsize>(message.size()));
    });
}

// Decodes the values of every message, one after the other.
double decodeAll(const std::string& path)
{
    const auto start = std::chrono::steady_clock::now();
    FILE* in = std::fopen(path.c_str(), "rb");
    int err = 0;
    std::vector<double> values;
    while (grib_handle* h = grib_handle_new_from_file(nullptr, in, &err)) {
        size_t n = 0;
        grib_get_size(h, "values", &n);
        values.resize(n);
        grib_get_double_array(h, "values", values.data(), &n);
        grib_handle_delete(h);
    }
    std::fclose(in);
    return seconds(start);
}

Run medianRun(int runs, const std::string& dir, const std::string& input, const std::string& table,
              const std::string& output, int threads = 0)
{
    std::vector<double> wall, peak;
    for (int k = 0; k < runs; ++k) {
        const Run r = convert(dir, input, table, output, threads);
        wall.push_back(r.wall);
        peak.push_back(r.peakMiB);
    }
    return {median(wall), median(peak)};
}

}  // namespace

int main(int argc, char** argv)
{
    const Setup setup = setUp(argc, argv);
    const int runs = setup.runs;
    const bool keep = argc > 2;
    const std::string& dir = setup.dir;
    const std::string sample = dir + "/global.grib2";
    makeSample(sample, dir + "/first.grib2");
    shell("gzip -k -1 " + sample + " && bzip2 -k -1 " + sample);

    writeTable(dir + "/config/area.csv", "", globalRows());
    writeTable(dir + "/config/select.csv", "", {globalRow(0, "850;700;500;300;200")});

    std::vector<double> decode;
    for (int k = 0; k < runs; ++k)
        decode.push_back(decodeAll(sample));
    const double yardstick = median(decode);

    const Run area = medianRun(runs, dir, sample, "area.csv", dir + "/area.nc");
    const Run area1 = medianRun(runs, dir, sample, "area.csv", dir + "/area1.nc", 1);
    const bool sameThreads = sameContent(dir + "/area.nc", dir + "/area1.nc");
    const Run first = medianRun(runs, dir, dir + "/first.grib2", "area.csv", dir + "/first.nc");
    const Run select = medianRun(runs, dir, sample, "select.csv", dir + "/select.nc");
    const Run gz = medianRun(runs, dir, sample + ".gz", "area.csv", dir + "/gz.nc");
    const Run bz2 = medianRun(runs, dir, sample + ".bz2", "area.csv", dir + "/bz2.nc");
    const bool same = sameContent(dir + "/area.nc", dir + "/gz.nc") && sameContent(dir + "/area.nc", dir + "/bz2.nc");

    // The data kept: 130 fields of 229 x 193 points in double precision,
    // and the output in single precision.
    const double keptMiB = 130.0 * 229 * 193 * (8 + 4) / 1048576.0;
    std::printf("median of %d runs, %s\n", runs, sample.c_str());
    std::printf("ecCodes decode of every message, one thread: %.3f s\n", yardstick);
    std::printf("area conversion:      %.3f s (%.2f x decode; goal 0.8)  peak %.0f MiB (%.2f x kept %.0f MiB; goal 1.5)\n",
                area.wall, area.wall / yardstick, area.peakMiB, area.peakMiB / keptMiB, keptMiB);
    std::printf("area conversion, one thread: %.3f s (%.2f x decode); outputs the same: %s\n", area1.wall,
                area1.wall / yardstick, sameThreads ? "yes" : "NO");
    std::printf("selective conversion: %.3f s (%.2f x decode; goal 0.1)\n", select.wall, select.wall / yardstick);
    std::printf("first message alone:  %.3f s (%.2f x decode)  peak %.0f MiB\n", first.wall, first.wall / yardstick,
                first.peakMiB);
    std::printf(".gz:  %.3f s  peak %.0f MiB (%.2f x plain; goal 1.25)\n", gz.wall, gz.peakMiB, gz.peakMiB / area.peakMiB);
    std::printf(".bz2: %.3f s  peak %.0f MiB (%.2f x plain; goal 1.25)\n", bz2.wall, bz2.peakMiB,
                bz2.peakMiB / area.peakMiB);
    std::printf("compressed outputs equal the plain one: %s\n", same ? "yes" : "NO");
    if (!keep)
        shell("rm -rf " + dir);
    return same && sameThreads ? 0 : 1;
}
