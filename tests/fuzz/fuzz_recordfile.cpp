// A fixed-record reader (KV_FUZZ_LAYOUT: cpefsReader or grapsCmReader) on a
// shrunken grid: its own record order, fill rule and compressed-stream rules,
// but 7 x 5 points, three levels, three upper-air and two surface variables,
// so that a whole file is 1540 bytes and the fuzzer reaches its end, its
// short forms and its bzip2 damage quickly. bzip2 content is named .bz2.
#include "harness.h"

#include "logging/trace.h"
#include "readers/recordreader.h"

namespace {

RecordLayout shrunken(RecordLayout layout)
{
    layout.nlon = 7;
    layout.nlat = 5;
    layout.levels.resize(3);
    layout.vars3d.resize(3);
    layout.vars2d.resize(2);
    return layout;
}

class ShortRecordReader : public RecordFileReader {
public:
    ShortRecordReader() : RecordFileReader(shrunken(KV_FUZZ_LAYOUT::layout())) {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const fuzz::InputFile input(data, size, fuzz::nameFor(data, size, "run.dat"));
    g_collect_number = 0;
    g_forcastTime = -1;
    ShortRecordReader reader;
    fuzz::guarded([&] { reader.readFile(input.path()); });
    return 0;
}
