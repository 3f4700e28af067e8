// What the benchmarks share: timing, the program run as a child, its tables
// and the comparison of its outputs.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace bench {

// A benchmark's command line, `[runs, default 5] [directory to keep]`: the
// runs, and the directory (a new one under /tmp when none is given) that
// holds the program, its library and its log settings.
struct Setup {
    int runs = 5;
    std::string dir;
};
Setup setUp(int argc, char** argv);

double seconds(std::chrono::steady_clock::time_point since);
double median(std::vector<double> v);
int shell(const std::string& command);

struct Run {
    double wall = 0;
    double peakMiB = 0;
};

// The program in `dir` on one input, as a child on `threads` threads (0: as
// many as the environment says): wall time and peak resident memory. A
// failed conversion ends the benchmark.
Run convert(const std::string& dir, const std::string& input, const std::string& table, const std::string& output,
            int threads);

// A table: the shipped one's eight header lines, the area row replaced
// when `areaRow` is not empty, then the rows.
void writeTable(const std::string& path, const std::string& areaRow, const std::vector<std::string>& rows);

// Two outputs hold the same dimensions, variables, attributes and values:
// their dumps agree but for the file's name and the run's history line.
bool sameContent(const std::string& a, const std::string& b);

}  // namespace bench
