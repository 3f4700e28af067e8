// The GRIB reader or the table generation (chosen by the input's size, so
// that every input reaches both across mutations) over one file: plain, or
// gzip or bzip2 compressed by its first bytes. Messages are filtered and cut
// by the shipped table.
#include "harness.h"

#include "grids/areacut.h"
#include "readers/gribreader.h"
#include "table/csvfileparser.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    static const bool loaded = [] {
        if (CsvFileParser::getInstance()->load(KELVANE_CONFIG_DIR "/default.csv") != 0) {
            std::fprintf(stderr, "fuzz: the shipped table cannot be loaded\n");
            std::abort();
        }
        return true;
    }();
    (void)loaded;
    // Areas of more than 2^20 cells (8 MiB a field) and messages of more
    // than 2^16 points are refused: a mutated step far finer than its
    // grid's points, or a mutated grid size, otherwise has the reader fill
    // gigabytes for one message of a few bytes.
    AreaGrid::setMaxCells(1LL << 20);
    gribReader::setMaxPoints(1L << 16);

    const fuzz::InputFile input(data, size, fuzz::nameFor(data, size, "input.grib"));
    if (size % 2 == 0) {
        g_collect_number = 0;
        g_forcastTime = -1;
        fuzz::guarded([&] { gribReader().readFile(input.path()); });
    } else {
        const QString table = input.path() + ".csv";
        fuzz::guarded([&] { gribReader().fileProbe(input.path(), table); });
        QFile::remove(table);
    }
    return 0;
}
