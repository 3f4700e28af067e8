#include "benchrun.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

Setup setUp(int argc, char** argv)
{
    Setup s;
    s.runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    char pattern[] = "/tmp/kvbench-XXXXXX";
    s.dir = argc > 2 ? std::string(argv[2]) : std::string(mkdtemp(pattern));
    shell("mkdir -p " + s.dir + "/config && cp " KELVANE_EXE " " KELVANE_PROGRAM_DIR "/libcumulex.so " + s.dir +
          " && cp " KELVANE_CONFIG_DIR "/log.ini " + s.dir + "/config/");
    return s;
}

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int shell(const std::string& command)
{
    return std::system(command.c_str());
}

Run convert(const std::string& dir, const std::string& input, const std::string& table, const std::string& output,
            int threads)
{
    std::remove(output.c_str());
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            _exit(126);
        if (threads > 0)
            setenv("OMP_NUM_THREADS", std::to_string(threads).c_str(), 1);
        execl((dir + "/kelvane").c_str(), "kelvane", "-i", input.c_str(), "-o", output.c_str(), "-s",
              table.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    wait4(child, &status, 0, &usage);
    Run r;
    r.wall = seconds(start);
    r.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the conversion of %s failed (status %d)\n", input.c_str(), WEXITSTATUS(status));
        std::exit(1);
    }
    return r;
}

void writeTable(const std::string& path, const std::string& areaRow, const std::vector<std::string>& rows)
{
    std::ifstream header(KELVANE_CONFIG_DIR "/default.csv");
    std::ofstream out(path);
    std::string line;
    for (int k = 0; k < 8 && std::getline(header, line); ++k)
        out << (k == 4 && !areaRow.empty() ? areaRow : line) << "\n";
    for (const std::string& row : rows)
        out << row << "\n";
}

bool sameContent(const std::string& a, const std::string& b)
{
    for (const std::string& path : {a, b})
        shell("ncdump " + path + " | sed 1d | grep -v ':history = ' > " + path + ".cdl");
    const bool same = shell("cmp -s " + a + ".cdl " + b + ".cdl") == 0;
    shell("rm -f " + a + ".cdl " + b + ".cdl");
    return same;
}

}  // namespace bench
