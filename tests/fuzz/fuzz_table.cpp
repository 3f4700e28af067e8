// The conversion-table parser over arbitrary text, with lookups of every
// row it keeps.
#include "harness.h"

#include "table/csvfileparser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const fuzz::InputFile table(data, size, "table.csv");
    CsvFileParser parser;
    fuzz::guarded([&] {
        if (parser.load(table.path()) != 0)
            return;
        for (const auto& [key, row] : parser.m_ocsv) {
            parser.find(key);
            parser.findfr(row.newFactorName + "_" + row.nameOfFirstFixedSurface + "_" + row.typedoflevels);
        }
    });
    return 0;
}
