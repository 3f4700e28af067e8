#include "readers/simplepacking.h"

#include <grib_api.h>

namespace {

// The `bits`-bit number starting `bit` bits into `data`, most significant
// bit first.
uint64_t packedNumber(const unsigned char* data, uint64_t bit, long bits)
{
    const unsigned char* p = data + bit / 8;
    const unsigned skip = static_cast<unsigned>(bit % 8);
    const unsigned bytes = (skip + static_cast<unsigned>(bits) + 7) / 8;
    uint64_t v = 0;
    for (unsigned i = 0; i < bytes; ++i)
        v = (v << 8) | p[i];
    v >>= bytes * 8 - skip - static_cast<unsigned>(bits);
    return v & ((uint64_t(1) << bits) - 1);
}

}  // namespace

double packingScale(long exponent, long base)
{
    double scale = 1.0;
    for (; exponent < 0; ++exponent)
        scale /= static_cast<double>(base);
    for (; exponent > 0; --exponent)
        scale *= static_cast<double>(base);
    return scale;
}

bool simplePackingOf(grib_handle* h, size_t points, SimplePacking& out)
{
    long edition = 0, bitmap = 1, template5 = -1, bits = -1, binary = 0, decimal = 0, offset = 0, values = 0;
    if (grib_get_long(h, "editionNumber", &edition) != 0 || edition != 2 ||
        grib_get_long(h, "dataRepresentationTemplateNumber", &template5) != 0 || template5 != 0 ||
        grib_get_long(h, "bitmapPresent", &bitmap) != 0 || bitmap != 0 ||
        grib_get_long(h, "bitsPerValue", &bits) != 0 || bits < 0 || bits > 32 ||
        grib_get_long(h, "binaryScaleFactor", &binary) != 0 ||
        grib_get_long(h, "decimalScaleFactor", &decimal) != 0 ||
        grib_get_long(h, "offsetBeforeData", &offset) != 0 || offset < 0 ||
        grib_get_long(h, "numberOfValues", &values) != 0 || values < 0 || static_cast<size_t>(values) != points ||
        grib_get_double(h, "referenceValue", &out.reference) != 0)
        return false;
    // Scales far beyond any field's would only loop.
    if (binary < -1100 || binary > 1100 || decimal < -400 || decimal > 400)
        return false;
    const void* message = nullptr;
    size_t length = 0;
    if (grib_get_message(h, &message, &length) != 0 || !message)
        return false;
    const uint64_t needed = (static_cast<uint64_t>(values) * static_cast<uint64_t>(bits) + 7) / 8;
    if (static_cast<uint64_t>(offset) > length || needed > length - static_cast<uint64_t>(offset))
        return false;
    out.data = static_cast<const unsigned char*>(message) + offset;
    out.count = static_cast<size_t>(values);
    out.bits = bits;
    out.binaryScale = packingScale(binary, 2);
    out.decimalScale = packingScale(-decimal, 10);
    return true;
}

void unpackAt(const SimplePacking& packing, const std::vector<int>& points, std::vector<double>& values)
{
    if (packing.bits == 0) {
        values.assign(points.size(), packing.reference);
        return;
    }
    values.resize(points.size());
    for (size_t k = 0; k < points.size(); ++k) {
        const uint64_t number =
            packedNumber(packing.data, static_cast<uint64_t>(points[k]) * static_cast<uint64_t>(packing.bits),
                         packing.bits);
        values[k] = (static_cast<double>(number) * packing.binaryScale + packing.reference) * packing.decimalScale;
    }
}
