// Values of single points of a field packed the simplest way (edition 2,
// template 5.0, no bitmap), read straight from the message: ecCodes
// unpacks the whole field even when a few points are asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct grib_handle;

struct SimplePacking {
    const unsigned char* data = nullptr;  // first byte of the packed numbers
    size_t count = 0;                     // numbers packed
    long bits = 0;                        // bits per number, 0 for a constant field
    double reference = 0;
    double binaryScale = 1;   // 2 to the binary scale factor
    double decimalScale = 1;  // 10 to minus the decimal scale factor
};

// The packing of the message when it is this one, its numbers lie within
// the message and there are `points` of them; false otherwise.
bool simplePackingOf(grib_handle* h, size_t points, SimplePacking& out);

// The values at `points` (indexes below out.count), worked out as ecCodes
// works them out: (number * binaryScale + reference) * decimalScale.
void unpackAt(const SimplePacking& packing, const std::vector<int>& points, std::vector<double>& values);

// 10 or 2 to the power `exponent`, by repeated multiplication or division as
// ecCodes forms its scales, so that the values come out the same to the bit.
double packingScale(long exponent, long base);
