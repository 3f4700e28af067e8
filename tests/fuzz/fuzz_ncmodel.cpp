// The netCDF model reader over one file, as each of the three netCDF file
// types in turn (chosen by the input's size, so that every input is read as
// each of them across mutations).
#include "harness.h"

#include "readers/ncinput.h"
#include "readers/tjwrfncreader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    fuzz::keepNetcdfOpen();
    if (fuzz::hdf5HeapMishandled(data, size))
        return 0;
    // Variables whose values would take more than 64 MiB are refused as too
    // large for memory, well inside libFuzzer's allocation limit.
    NcInput::setMemoryLimit(size_t(64) << 20);
    static const char* const kTypes[] = {"tjwrf_nc", "nc", "geps_nc"};
    static int loadedType = -1;
    const int type = static_cast<int>(size % 3);
    if (type != loadedType) {
        fuzz::loadTable(kTypes[type], false,
                        {fuzz::row("t", "", "", "TMP", "1000;850;500"), fuzz::row("u", "", "", "U", "1000;850;500"),
                         fuzz::row("t2", "", "", "T2")});
        loadedType = type;
    }

    const fuzz::InputFile input(data, size, "model_2021061500-012.nc");
    g_collect_number = 0;
    g_forcastTime = -1;
    TjwrfNcReader reader;
    fuzz::guarded([&] { reader.readFile(input.path()); });
    return 0;
}
