#include "globalsample.h"

#include "scripts/gribsample.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace bench {

namespace {

const long kLevels[] = {1000, 975, 950, 925, 900, 850, 800, 750, 700, 650, 600, 550, 500,
                        450,  400, 350, 300, 250, 200, 150, 100, 70,  50,  30,  20,  10};
const char* kNames[] = {"t", "r", "u", "v", "gh"};
const char* kOutputs[] = {"TMP", "RH", "EDA", "VV", "HGT"};

}  // namespace

void forEachGlobalField(long member, const std::function<void(const std::string& message, bool first)>& each)
{
    GribField f;
    f.firstLon = 0;
    f.firstLat = 90;
    f.step = 0.25;
    f.ni = 1440;
    f.nj = 721;
    f.bitsPerValue = 16;
    f.member = member;
    f.values.resize(static_cast<size_t>(f.ni * f.nj));
    for (size_t n = 0; n < 5; ++n) {
        for (long level : kLevels) {
            f.shortName = kNames[n];
            f.level = level;
            for (long j = 0; j < f.nj; ++j)
                for (long i = 0; i < f.ni; ++i)
                    f.values[static_cast<size_t>(j * f.ni + i)] =
                        100.0 * n + level / 10.0 + 10.0 * std::sin(i * 0.01) * std::cos(j * 0.02);
            std::string error;
            const std::string message = makeGribMessage(f, &error);
            if (message.empty()) {
                std::fprintf(stderr, "cannot make the sample: %s\n", error.c_str());
                std::exit(1);
            }
            each(message, n == 0 && level == kLevels[0]);
        }
    }
}

std::string globalRow(size_t n, const std::string& levels)
{
    return std::string(kNames[n]) + ",x,Isobaric surface,,x,,,0,0," + kOutputs[n] + ",x,,,," + levels + ",0,1";
}

std::vector<std::string> globalRows()
{
    std::string all;
    for (long level : kLevels)
        all += (all.empty() ? "" : ";") + std::to_string(level);
    std::vector<std::string> rows;
    for (size_t n = 0; n < 5; ++n)
        rows.push_back(globalRow(n, all));
    return rows;
}

}  // namespace bench
