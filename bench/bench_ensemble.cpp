// Speed and peak memory of converting an ensemble.
//
//     build/bench/bench_ensemble [runs, default 3] [directory to keep]
//
// Makes a 12-member and a 4-member copy of a 0.25-degree global GRIB 2
// ensemble (1440 x 721 points; t, r, u, v and gh on 26 pressure levels;
// 16-bit simple packing; members 0..11 by product template 4.1, each field
// encoded once and copied with its member number) in a temporary directory,
// then prints the median over `runs` of the wall time and peak memory of
// converting each to the area 80..137 E, 12..60 N on all 26 levels, the
// peak of a conversion of the file's first message alone, the floats the
// output keeps (fields x 229 x 193 x 4 bytes) and the ratio (peak - peak of
// one message) / kept floats beside its goal. The temporary files are
// deleted at the end unless a directory to keep is given.
#include "benchrun.h"
#include "globalsample.h"

#include <grib_api.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace bench;

constexpr double kGoal = 2.2;

// `message` as member `member`: the encoded values are not touched.
std::string asMember(const std::string& message, long member)
{
    grib_handle* h = grib_handle_new_from_message_copy(nullptr, message.data(), message.size());
    const void* bytes = nullptr;
    size_t size = 0;
    if (!h || grib_set_long(h, "perturbationNumber", member) != 0 || grib_get_message(h, &bytes, &size) != 0) {
        std::fprintf(stderr, "cannot make member %ld of the sample\n", member);
        std::exit(1);
    }
    std::string copy(static_cast<const char*>(bytes), size);
    grib_handle_delete(h);
    return copy;
}

// The ensemble of each size in `paths` (members 0..size-1, member by member
// within each field), and the first message alone in `firstPath`.
void makeSamples(const std::vector<std::pair<int, std::string>>& paths, const std::string& firstPath)
{
    std::vector<std::ofstream> outs;
    int members = 0;
    for (const auto& [size, path] : paths) {
        outs.emplace_back(path, std::ios::binary);
        members = std::max(members, size);
    }
    std::ofstream first(firstPath, std::ios::binary);
    forEachGlobalField(0, [&](const std::string& message, bool isFirst) {
        if (isFirst)
            first.write(message.data(), static_cast<std::streamsize>(message.size()));
        for (int m = 0; m < members; ++m) {
            const std::string copy = m == 0 ? message : asMember(message, m);
            for (size_t k = 0; k < paths.size(); ++k)
                if (m < paths[k].first)
                    outs[k].write(copy.data(), static_cast<std::streamsize>(copy.size()));
        }
    });
}

Run medianRun(int runs, const std::string& dir, const std::string& input, const std::string& output)
{
    std::vector<double> wall, peak;
    for (int k = 0; k < runs; ++k) {
        const Run r = convert(dir, input, "area.csv", output, 0);
        wall.push_back(r.wall);
        peak.push_back(r.peakMiB);
    }
    return {median(wall), median(peak)};
}

}  // namespace

int main(int argc, char** argv)
{
    Setup setup = setUp(argc, argv);
    const int runs = argc > 1 ? setup.runs : 3;
    const bool keep = argc > 2;
    const std::string& dir = setup.dir;
    const std::vector<std::pair<int, std::string>> samples = {{12, dir + "/ens12.grib2"}, {4, dir + "/ens4.grib2"}};
    makeSamples(samples, dir + "/first.grib2");

    writeTable(dir + "/config/area.csv", "", globalRows());

    const Run first = medianRun(runs, dir, dir + "/first.grib2", dir + "/first.nc");
    std::printf("median of %d runs, in %s\n", runs, dir.c_str());
    std::printf("first message alone: %.3f s  peak %.0f MiB\n", first.wall, first.peakMiB);
    // Not left in the buffer for the children of the next runs to repeat.
    std::fflush(stdout);
    for (const auto& [members, path] : samples) {
        const Run r = medianRun(runs, dir, path, dir + "/ens" + std::to_string(members) + ".nc");
        const double keptMiB = static_cast<double>(members) * kGlobalFields * 229 * 193 * 4 / 1048576.0;
        std::printf("%2d members: %.3f s  peak %.0f MiB; kept floats %.0f MiB; (peak - one message) / kept = %.2f"
                    " (goal %.1f)\n",
                    members, r.wall, r.peakMiB, keptMiB, (r.peakMiB - first.peakMiB) / keptMiB, kGoal);
        std::fflush(stdout);
    }
    if (!keep)
        shell("rm -rf " + dir);
    return 0;
}
