// The checks of a GRIB message's bytes alone, and where ecCodes would stop
// reading it, without ecCodes or the rest of the converter: from the input's
// start, and from after every end marker, where the reader asks for the
// message that follows a sound one.
#include "readers/gribdamage.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const GribByteReader read = [data, size](uint64_t offset, unsigned char* buffer, size_t n) -> size_t {
        if (offset >= size)
            return 0;
        const size_t got = std::min<uint64_t>(n, size - offset);
        std::memcpy(buffer, data + offset, got);
        return got;
    };
    // Every fault completes "<file> ..." in the reader's message; ecCodes
    // reads no message that ends before where it starts reading.
    auto check = [&](uint64_t from, uint64_t base) {
        const std::string fault = gribMessageFault(read, from, size, base);
        if (!fault.empty() && fault.rfind("is damaged: ", 0) != 0 && fault.rfind("is cut short: ", 0) != 0)
            std::abort();
        if (gribMessageEnd(read, from, size) < from)
            std::abort();
    };
    check(0, 0);
    size_t starts = 0;
    for (size_t i = 0; i + 4 <= size && starts < 16; ++i) {
        if (std::memcmp(data + i, "7777", 4) == 0) {
            check(i + 4, i);
            ++starts;
        }
    }
    return 0;
}
