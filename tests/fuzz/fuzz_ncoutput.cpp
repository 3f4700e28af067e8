// The read-back of an existing output file, as a run with the overwrite
// switch on does it, for one member or for three (chosen by the input's
// size, so that every input is read both ways across mutations).
#include "harness.h"

#include "readers/ncinput.h"
#include "readers/ncreader.h"

#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    fuzz::keepNetcdfOpen();
    if (fuzz::hdf5HeapMishandled(data, size))
        return 0;
    // Variables whose values would take more than 64 MiB are refused as too
    // large for memory, well inside libFuzzer's allocation limit.
    NcInput::setMemoryLimit(size_t(64) << 20);
    static const bool loaded = [] {
        fuzz::loadTable("grib", true,
                        {fuzz::row("t", "Isobaric surface", "", "TMP", "1000;850;500"),
                         fuzz::row("2t", "Specified height level above ground", "", "T2M"),
                         fuzz::row("u", "Isobaric surface", "", "U", "1000;850;500")});
        return true;
    }();
    (void)loaded;

    const fuzz::InputFile output(data, size, "output.nc");
    g_forcastTime = -1;
    g_collect_number = size % 2 == 0 ? 0 : 2;
    auto store = std::make_unique<CachedData[]>(kMemberSlots);
    fuzz::guarded([&] { ncReader().read(output.path().toStdString(), store.get()); });
    return 0;
}
