// Time and peak memory of reading a large GRIB file into the store.
//
//     build/bench/bench_gribreader [messages [points-per-side]]
//
// Writes a GRIB 2 file of `messages` fields of side x side points (default
// 300 messages of 1000 x 1000) to a temporary directory, reads it with the
// GRIB reader on an area that keeps every point, and prints the read time,
// the size of the kept fields and the peak resident memory of the process.
#include "readers/gribreader.h"
#include "scripts/gribsample.h"
#include "table/csvfileparser.h"
#include "table/tableformat.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

long peakKiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int messages = argc > 1 ? std::atoi(argv[1]) : 300;
    const long side = argc > 2 ? std::atol(argv[2]) : 1000;
    QTemporaryDir dir;

    // One message encoded once and repeated at every level.
    GribField f;
    f.firstLon = 0;
    f.firstLat = 0;
    f.step = 0.01;
    f.southToNorth = true;
    f.ni = side;
    f.nj = side;
    f.values.resize(static_cast<size_t>(side * side));
    for (size_t k = 0; k < f.values.size(); ++k)
        f.values[k] = 200.0 + static_cast<double>(k % 1000);
    const QString gribPath = dir.path() + "/big.grib2";
    {
        QFile out(gribPath);
        if (!out.open(QIODevice::WriteOnly))
            return 1;
        for (int m = 0; m < messages; ++m) {
            f.level = 1000 - m;
            std::string error;
            const std::string bytes = makeGribMessage(f, &error);
            if (!error.empty()) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return 1;
            }
            out.write(bytes.data(), static_cast<qint64>(bytes.size()));
        }
    }
    const long afterWriting = peakKiB();

    const QString tablePath = dir.path() + "/table.csv";
    {
        QFile table(tablePath);
        if (!table.open(QIODevice::WriteOnly))
            return 1;
        QTextStream out(&table);
        out.setCodec("UTF-8");
        const double last = static_cast<double>(side - 1) * f.step;
        tableformat::writeHeader(out, ",0,grib,2.0", ",,,,", QString("0,%1,0,%1").arg(last));
        out << "t,,Isobaric surface,,,,,0,0,T,,,,,,0,1\n";
    }
    if (CsvFileParser::getInstance()->load(tablePath) != 0)
        return 1;

    gribReader reader;
    const auto start = std::chrono::steady_clock::now();
    reader.readFile(gribPath);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    size_t kept = 0;
    for (const auto& [key, fields] : reader.m_cache[0])
        for (const p_data& field : fields)
            kept += field.data.size() * sizeof(double);
    std::printf("messages %d of %ld points: read in %.2f s (%.1f messages/s)\n", messages, side * side, seconds,
                messages / seconds);
    std::printf("kept fields %.1f MiB; peak resident %.1f MiB (%.1f MiB before reading)\n", kept / 1048576.0,
                peakKiB() / 1024.0, afterWriting / 1024.0);
    return 0;
}
