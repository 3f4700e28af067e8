// One fixed-layout model-file reader, chosen at build time by its file type
// (KV_FUZZ_TYPE) and the file name it expects (KV_FUZZ_NAME); bzip2
// content is named .bz2.
#include "harness.h"

#include "model/basereader.h"
#include "readers/ncinput.h"
#include "readers/readerfactory.h"

#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    static const bool loaded = [] {
        fuzz::loadTable(KV_FUZZ_TYPE, false,
                        {fuzz::row("u", "", "", "U"), fuzz::row("t2", "", "", "T2"), fuzz::row("tbb", "", "", "TBB"),
                         fuzz::row("dbz", "", "", "DBZ")});
        return true;
    }();
    (void)loaded;
    // The values kept of a file are bounded at 64 MiB, well inside
    // libFuzzer's allocation limit: latlon levels take a few bytes of the
    // file for up to 2^26 cells each.
    NcInput::setMemoryLimit(size_t(64) << 20);

    const fuzz::InputFile input(data, size, fuzz::nameFor(data, size, KV_FUZZ_NAME));
    g_collect_number = 0;
    g_forcastTime = -1;
    std::unique_ptr<baseReader> reader(createReader(readerKindFor(KV_FUZZ_TYPE)));
    fuzz::guarded([&] { reader->readFile(input.path()); });
    return 0;
}
