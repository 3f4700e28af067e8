// The upgrade of an older-layout table, then the parsing of what it wrote.
#include "harness.h"

#include "table/csvfileparser.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const fuzz::InputFile old(data, size, "old.csv");
    const QString upgraded = old.path() + ".new.csv";
    CsvFileParser parser;
    fuzz::guarded([&] {
        if (parser.update_config_file(old.path()) == 0)
            CsvFileParser().load(upgraded);
    });
    QFile::remove(upgraded);
    return 0;
}
