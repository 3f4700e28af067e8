// The checks of a GRIB message's bytes before ecCodes is given it: what
// ecCodes would take as it stands and then read, write or allocate past its
// bounds for. Standard C++ only, so that the checks can be tested and fuzzed
// on bytes alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Reads up to `n` bytes at `offset` of a source into `buffer`; returns how
// many it read (fewer at the source's end, 0 past it or on an error).
using GribByteReader = std::function<size_t(uint64_t offset, unsigned char* buffer, size_t n)>;

// What is wrong with the message ecCodes would read next from a source of
// `size` bytes, read from `from` on; empty when nothing is. The next message
// is the first product magic (GRIB, BUDG, DIAG, TIDE) from `from` on, as
// ecCodes finds it. Caught are: a message claiming more bytes than the
// source holds from its start, a pseudo-GRIB product whose first section is
// shorter than its own length field, a GRIB 2 message whose sections do not
// lead in their order to its end marker (ecCodes' multi-field reading then
// frees a message it goes on reading), and GRIB 2 fields whose value count,
// bitmap or group packing does not fit their grid and their sections.
// Offsets in the text are counted from `base`.
std::string gribMessageFault(const GribByteReader& read, uint64_t from, uint64_t size, uint64_t base);

// What the checks found of a message they let through. `plain` when it is a
// GRIB message starting right at `from`, of edition 1 (the ordinary form,
// with a grid description) or 2, that ends with its end marker within the
// source, at `end`: ecCodes reads such a message from memory exactly as
// from the file. `fields` is the number of its fields (data sections).
struct GribShape {
    bool plain = false;
    uint64_t end = 0;
    int fields = 0;
};
std::string gribMessageFault(const GribByteReader& read, uint64_t from, uint64_t size, uint64_t base,
                             GribShape& shape);

// Where ecCodes stops reading when it takes the next message from memory:
// the source of `size` bytes from `from` on. ecCodes reads a GRIB message of
// edition 1 or 2 to the end its indicator section tells (or, for an
// edition-1 message of the large form, the end it works out from the
// lengths of its sections), possibly past `size`, and nothing after it. In
// every other case the answer is `size`: no product, another product first
// (a pseudo-GRIB one, or BUFR, HDF5 or WRAP, which ecCodes also takes from
// memory), another edition, or lengths that ecCodes' own arithmetic would
// read on from to the source's end with.
uint64_t gribMessageEnd(const GribByteReader& read, uint64_t from, uint64_t size);

// Whether the next message from `from` on is a GRIB 1 message without a grid
// description section, which ecCodes reads only where it knows the grid by
// its catalogue number: `grid` receives that number (octet 7 of section 1)
// and `end` where the message ends (as gribMessageEnd).
bool gribOneWithoutGrid(const GribByteReader& read, uint64_t from, uint64_t size, int& grid, uint64_t& end);
