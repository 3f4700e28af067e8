#include "readers/gribdamage.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Messages usually follow each other directly: the search looks at the
// indicator section's 16 bytes first, and scans further in larger windows
// only past bytes between messages.
constexpr size_t kHead = 16;
constexpr size_t kWindow = 65536;

// The product magics ecCodes takes a GRIB handle from; it reads the first
// one it meets after the current position, whatever follows.
bool isMagic(const unsigned char* p)
{
    // Tried at every byte searched: the first byte alone rules out most.
    if (p[0] != 'G' && p[0] != 'B' && p[0] != 'D' && p[0] != 'T')
        return false;
    return std::memcmp(p, "GRIB", 4) == 0 || std::memcmp(p, "BUDG", 4) == 0 || std::memcmp(p, "DIAG", 4) == 0 ||
           std::memcmp(p, "TIDE", 4) == 0;
}

uint64_t bigEndian32(const unsigned char* p)
{
    return uint64_t(p[0]) << 24 | uint64_t(p[1]) << 16 | uint64_t(p[2]) << 8 | p[3];
}

std::string number(uint64_t value)
{
    return std::to_string(value);
}

// The total length the indicator section of a GRIB message claims, 0 when it
// does not tell one: another product, an unknown edition, or the edition-1
// large-message form, whose length ecCodes works out from the sections.
uint64_t claimedLength(const unsigned char* head, size_t have)
{
    if (have < 8 || std::memcmp(head, "GRIB", 4) != 0)
        return 0;
    if (head[7] == 1) {
        const uint32_t length = uint32_t(head[4]) << 16 | uint32_t(head[5]) << 8 | head[6];
        return (length & 0x800000u) ? 0 : length;
    }
    if (head[7] == 2 && have >= 16) {
        uint64_t length = 0;
        for (int i = 8; i < 16; ++i)
            length = length << 8 | head[i];
        return length;
    }
    return 0;
}

// Whether a GRIB 2 section may follow another: 1 first, then 2 to 7 in
// order, where 2, 3 or 4 may start a further field after 7, and the end
// marker (8) after 7.
bool mayFollow(int previous, int section)
{
    switch (previous) {
    case 0: return section == 1;
    case 1: return section == 2 || section == 3;
    case 7: return section == 2 || section == 3 || section == 4 || section == 8;
    default: return section == previous + 1 && section <= 7;
    }
}

// Bits of a big-endian bit stream, as GRIB packs its numbers.
class BitReader {
public:
    BitReader(const unsigned char* data, uint64_t size) : m_data(data), m_bits(size * 8) {}
    // `width` bits (at most 32) from the current position; false past the end.
    bool take(unsigned width, uint64_t& value)
    {
        if (width > 32 || m_pos + width > m_bits)
            return false;
        value = 0;
        for (unsigned i = 0; i < width; ++i, ++m_pos)
            value = value << 1 | ((m_data[m_pos / 8] >> (7 - m_pos % 8)) & 1u);
        return true;
    }
    bool skip(uint64_t bits)
    {
        if (bits > m_bits - m_pos)
            return false;
        m_pos += bits;
        return true;
    }
    void toOctet() { m_pos = std::min(m_bits, (m_pos + 7) / 8 * 8); }
    uint64_t left() const { return m_bits - m_pos; }

private:
    const unsigned char* m_data;
    uint64_t m_bits;
    uint64_t m_pos = 0;
};

// Whether the widths and lengths of `groups` groups (read from `widths` and
// `lengths`) add up to the section's `values`, in the bits `left` after
// them; empty when they do.
std::string groupSizesFault(const std::vector<unsigned char>& packing, uint64_t groups, BitReader widths,
                            BitReader lengths, uint64_t left)
{
    const uint64_t values = bigEndian32(&packing[5]);
    const unsigned widthReference = packing[35], widthBits = packing[36];
    const uint64_t lengthReference = bigEndian32(&packing[37]);
    const unsigned lengthIncrement = packing[41];
    const uint64_t lastLength = bigEndian32(&packing[42]);
    const unsigned lengthBits = packing[46];
    uint64_t total = 0, packed = 0;
    for (uint64_t g = 0; g < groups; ++g) {
        uint64_t width = 0, length = 0;
        widths.take(widthBits, width);
        lengths.take(lengthBits, length);
        width += widthReference;
        length = g + 1 == groups ? lastLength : lengthReference + length * lengthIncrement;
        if (width > 32)
            return "has a group of values " + number(width) + " bits wide";
        total += length;
        if (total > values)
            return "has groups of more than its " + number(values) + " values";
        packed += width * length;
    }
    if (total != values)
        return "has groups of " + number(total) + " values, not " + number(values);
    if (packed > left)
        return "packs " + number(packed) + " bits of values in " + number(left);
    return std::string();
}

// What is wrong with the data section (`data`, after its 5-byte head) of a
// field packed by groups (data representation templates 5.2 and 5.3, given
// by section 5 in `packing`); empty when nothing is. ecCodes takes the
// group count, widths and lengths as they stand and decodes past the
// section, or past its values, when they do not add up.
std::string groupPackingFault(const std::vector<unsigned char>& packing, const std::vector<unsigned char>& data)
{
    const int templateNumber = packing[9] << 8 | packing[10];
    const uint64_t values = bigEndian32(&packing[5]);
    const unsigned referenceBits = packing[19];
    const uint64_t groups = bigEndian32(&packing[31]);
    const unsigned widthBits = packing[36];
    const unsigned lengthBits = packing[46];
    if (referenceBits > 32 || widthBits > 32 || lengthBits > 32)
        return "packs its groups with fields of more than 32 bits";
    BitReader bits(data.data(), data.size());
    if (templateNumber == 3) {
        const unsigned order = packing[47], octets = packing[48];
        // Order 0 (as ecCodes writes a field packed again) has no values
        // ahead of the groups.
        if (order > 2 || octets > 4)
            return "has spatial differencing of order " + number(order) + " in " + number(octets) + " octets";
        if (order > 0 && !bits.skip(uint64_t(order + 1) * octets * 8))
            return "ends inside its spatial differencing values";
    }
    if (groups == 0 || groups > values)
        return "packs " + number(values) + " values in " + number(groups) + " groups";
    // The group references, then the widths, then the lengths, each array
    // starting on an octet.
    if (!bits.skip(groups * referenceBits))
        return "ends inside its group references";
    bits.toOctet();
    const BitReader widths = bits;
    if (!bits.skip(groups * widthBits))
        return "ends inside its group widths";
    bits.toOctet();
    const BitReader lengths = bits;
    if (!bits.skip(groups * lengthBits))
        return "ends inside its group lengths";
    bits.toOctet();
    return groupSizesFault(packing, groups, widths, lengths, bits.left());
}

// The start of the next product from `from` on and its first bytes.
struct ProductHead {
    uint64_t start = 0;
    unsigned char bytes[kHead] = {};
    size_t have = 0;  // bytes read of `bytes`
};

// Finds the first product magic from `from` on; false when there is none,
// or when the source stops giving bytes before one.
bool findProduct(const GribByteReader& read, uint64_t from, uint64_t size, ProductHead& head)
{
    std::vector<unsigned char> window(kHead);
    for (uint64_t pos = from; pos < size;) {
        const size_t n = read(pos, window.data(), window.size());
        if (n < 4)
            return false;
        for (size_t i = 0; i + 4 <= n; ++i) {
            if (isMagic(&window[i])) {
                head.start = pos + i;
                if (i + kHead <= n) {
                    std::memcpy(head.bytes, &window[i], kHead);
                    head.have = kHead;
                } else {
                    head.have = read(head.start, head.bytes, kHead);
                }
                return true;
            }
        }
        pos += n - 3;  // a magic may straddle two windows
        if (window.size() < kWindow)
            window.resize(kWindow);
    }
    return false;
}

// Whether a product that ecCodes takes from memory besides the GRIB ones
// (BUFR, HDF5, WRAP) starts in [from, before).
bool otherProductBefore(const GribByteReader& read, uint64_t from, uint64_t before)
{
    if (from >= before)
        return false;
    std::vector<unsigned char> window(kWindow);
    for (uint64_t pos = from; pos < before;) {
        const size_t n = read(pos, window.data(), static_cast<size_t>(std::min<uint64_t>(window.size(), before + 3 - pos)));
        if (n < 4)
            return false;
        for (size_t i = 0; i + 4 <= n && pos + i < before; ++i) {
            const unsigned char* p = &window[i];
            if (std::memcmp(p, "BUFR", 4) == 0 || std::memcmp(p, "\x89HDF", 4) == 0 || std::memcmp(p, "WRAP", 4) == 0)
                return true;
        }
        pos += n - 3;
    }
    return false;
}

bool bigEndian24(const GribByteReader& read, uint64_t at, uint64_t& value)
{
    unsigned char b[3];
    if (read(at, b, 3) != 3)
        return false;
    value = uint64_t(b[0]) << 16 | uint64_t(b[1]) << 8 | b[2];
    return true;
}

// The end of the edition-1 message of the large form at `start`, whose
// indicator section holds `coded`: ecCodes reads the lengths of sections 1
// to 4 in turn, and the length of section 4 tells how the total is coded.
// 0 when the source ends in the sections, or when a length is too short
// for what ecCodes has read by then, so that it reads on to the end.
uint64_t largeGrib1End(const GribByteReader& read, uint64_t start, uint64_t coded)
{
    uint64_t length = 0;
    unsigned char flags = 0;
    if (!bigEndian24(read, start + 8, length) || length < 8 || read(start + 15, &flags, 1) != 1)
        return 0;
    uint64_t pos = start + 8 + length;
    for (const unsigned char present : {0x80, 0x40}) {
        if (!(flags & present))
            continue;
        if (!bigEndian24(read, pos, length) || length < 3)
            return 0;
        pos += length;
    }
    uint64_t section4 = 0;
    if (!bigEndian24(read, pos, section4))
        return 0;
    pos += 3;
    const uint64_t total = section4 < 120 ? (coded & 0x7fffff) * 120 - section4 + 4 : coded;
    if (total == 0)
        return pos;
    if (total < pos - start)
        return 0;
    return total > UINT64_MAX - start ? UINT64_MAX : start + total;
}

// The fields of one GRIB 2 message as its sections go by, and what is
// wrong with them.
class FieldWalk {
public:
    FieldWalk(const GribByteReader& read, std::string at) : m_read(read), m_at(std::move(at)) {}

    // What is wrong with section `number` of `length` bytes at `pos`; empty
    // when nothing is.
    std::string section(int number, uint64_t pos, uint64_t length)
    {
        switch (number) {
        case 3: {
            // The grid's points, which the fields up to the next grid cover.
            unsigned char count[4];
            m_points = length >= 10 && m_read(pos + 6, count, 4) == 4 ? bigEndian32(count) : 0;
            return std::string();
        }
        case 4: ++m_field; return std::string();
        case 5: return representation(pos, length);
        case 6: return bitmap(pos, length);
        case 7: ++m_dataSections; return data(pos, length);
        default: return std::string();
        }
    }

    int dataSections() const { return m_dataSections; }

private:
    std::string fieldText() const { return "field " + number(m_field) + " of the GRIB message at byte " + m_at; }

    std::string representation(uint64_t pos, uint64_t length)
    {
        m_packing.assign(std::min<uint64_t>(length, 49), 0);
        if (m_read(pos, m_packing.data(), m_packing.size()) != m_packing.size())
            m_packing.clear();
        // ecCodes sizes the values by this count before it reads them.
        const uint64_t values = m_packing.size() >= 9 ? bigEndian32(&m_packing[5]) : 0;
        if (m_points > 0 && values > m_points)
            return "is damaged: " + fieldText() + " codes " + number(values) + " values for " + number(m_points) +
                   " points";
        return std::string();
    }

    // ecCodes reads a bitmap bit for every point of the grid, however short
    // the section, and copies the bitmap of an earlier field (indicator 254)
    // of another size over the message when there is none.
    std::string bitmap(uint64_t pos, uint64_t length)
    {
        unsigned char indicator = 255;
        if (length < 6 || m_read(pos + 5, &indicator, 1) != 1)
            return std::string();
        if (indicator == 254 && !m_bitmapDefined)
            return "is damaged: " + fieldText() + " takes the bitmap of an earlier field, and no earlier field has one";
        if (indicator == 0 && (length - 6) * 8 < m_points)
            return "is damaged: the bitmap of " + fieldText() + " holds " + number((length - 6) * 8) + " bits for " +
                   number(m_points) + " points";
        m_bitmapDefined = m_bitmapDefined || indicator == 0;
        return std::string();
    }

    // Fields packed by groups: the section must hold what its groups need.
    std::string data(uint64_t pos, uint64_t length)
    {
        const int templateNumber = m_packing.size() >= 47 ? m_packing[9] << 8 | m_packing[10] : -1;
        if (!((templateNumber == 2 || (templateNumber == 3 && m_packing.size() >= 49)) && length > 5))
            return std::string();
        std::vector<unsigned char> bytes(length - 5);
        if (m_read(pos + 5, bytes.data(), bytes.size()) != bytes.size())
            return std::string();
        const std::string fault = groupPackingFault(m_packing, bytes);
        return fault.empty() ? fault : "is damaged: " + fieldText() + " " + fault;
    }

    const GribByteReader& m_read;
    const std::string m_at;
    int m_field = 0;
    int m_dataSections = 0;
    bool m_bitmapDefined = false;
    uint64_t m_points = 0;                 // of the grid of the last section 3
    std::vector<unsigned char> m_packing;  // the first 49 octets of the last section 5
};

// Walks the sections of the GRIB 2 message of `claimed` bytes at `start`:
// each starts with its length (4 bytes) and number.
std::string sectionsFault(const GribByteReader& read, uint64_t start, uint64_t claimed, uint64_t base,
                          const std::string& at, int& dataSections)
{
    const uint64_t end = start + claimed;
    uint64_t pos = start + kHead;
    int previous = 0;
    FieldWalk fields(read, at);
    for (;;) {
        unsigned char section[5];
        const size_t got = read(pos, section, end - pos < 5 ? end - pos : 5);
        if (got >= 4 && std::memcmp(section, "7777", 4) == 0 && pos + 4 == end) {
            dataSections = fields.dataSections();
            if (mayFollow(previous, 8))
                return std::string();
            return "is damaged: the GRIB message at byte " + at + " ends after section " + number(previous);
        }
        if (got < 5)
            return "is damaged: the sections of the GRIB message at byte " + at +
                   " do not end with its end marker at byte " + number(base + end - 4);
        const uint64_t length = bigEndian32(section);
        const int sectionNumber = section[4];
        if (!mayFollow(previous, sectionNumber))
            return "is damaged: the GRIB message at byte " + at + " has section " + number(sectionNumber) +
                   " after section " + number(previous) + " at byte " + number(base + pos);
        if (length < 5 || length > end - 4 - pos)
            return "is damaged: section " + number(sectionNumber) + " of the GRIB message at byte " + at + " claims " +
                   number(length) + " bytes, past the message's end";
        const std::string fault = fields.section(sectionNumber, pos, length);
        if (!fault.empty())
            return fault;
        pos += length;
        previous = sectionNumber;
    }
}

}  // namespace

std::string gribMessageFault(const GribByteReader& read, uint64_t from, uint64_t size, uint64_t base)
{
    GribShape shape;
    return gribMessageFault(read, from, size, base, shape);
}

std::string gribMessageFault(const GribByteReader& read, uint64_t from, uint64_t size, uint64_t base,
                             GribShape& shape)
{
    shape = GribShape();
    ProductHead head;
    if (!findProduct(read, from, size, head))
        return std::string();
    const std::string at = number(base + head.start);
    // The other products start with a 3-byte section length that counts
    // itself; ecCodes reads one shorter than that to the end of the source
    // into a small buffer.
    if (head.have >= 7 && std::memcmp(head.bytes, "GRIB", 4) != 0) {
        const uint32_t first = uint32_t(head.bytes[4]) << 16 | uint32_t(head.bytes[5]) << 8 | head.bytes[6];
        if (first < 3)
            return "is damaged: the " + std::string(reinterpret_cast<const char*>(head.bytes), 4) +
                   " product at byte " + at + " has a first section of " + number(first) + " bytes";
        return std::string();
    }
    const uint64_t claimed = claimedLength(head.bytes, head.have);
    if (claimed == 0)
        return std::string();
    if (claimed > size - head.start)
        return "is cut short: the GRIB message at byte " + at + " claims " + number(claimed) + " bytes, only " +
               number(size - head.start) + " are left";
    if (head.bytes[7] != 2) {
        // Edition 1: octet 8 of section 1 tells whether a grid description
        // follows.
        unsigned char marker[4] = {};
        shape.plain = head.start == from && head.have >= 16 && (head.bytes[15] & 0x80) != 0 && claimed >= 12 &&
                      read(head.start + claimed - 4, marker, 4) == 4 && std::memcmp(marker, "7777", 4) == 0;
        shape.end = head.start + claimed;
        shape.fields = 1;
        return std::string();
    }
    const std::string fault = sectionsFault(read, head.start, claimed, base, at, shape.fields);
    shape.plain = fault.empty() && head.start == from;
    shape.end = head.start + claimed;
    return fault;
}

uint64_t gribMessageEnd(const GribByteReader& read, uint64_t from, uint64_t size)
{
    ProductHead head;
    if (!findProduct(read, from, size, head) || otherProductBefore(read, from, head.start) || head.have < 8 ||
        std::memcmp(head.bytes, "GRIB", 4) != 0)
        return size;
    const uint64_t coded = uint64_t(head.bytes[4]) << 16 | uint64_t(head.bytes[5]) << 8 | head.bytes[6];
    if (head.bytes[7] == 1 && (coded & 0x800000)) {
        const uint64_t end = largeGrib1End(read, head.start, coded);
        return end == 0 ? size : end;
    }
    // ecCodes has read the indicator section (8 bytes in edition 1, 16 in
    // edition 2) when it reads the rest of the claimed length.
    const uint64_t claimed = claimedLength(head.bytes, head.have);
    if (claimed < (head.bytes[7] == 1 ? 8u : kHead))
        return size;
    return claimed > UINT64_MAX - head.start ? UINT64_MAX : head.start + claimed;
}

bool gribOneWithoutGrid(const GribByteReader& read, uint64_t from, uint64_t size, int& grid, uint64_t& end)
{
    ProductHead head;
    // Section 1 starts after the 8 bytes of the indicator; its octet 8 says
    // whether the grid description follows.
    if (!findProduct(read, from, size, head) || head.have < 16 || std::memcmp(head.bytes, "GRIB", 4) != 0 ||
        head.bytes[7] != 1 || (head.bytes[15] & 0x80) != 0)
        return false;
    grid = head.bytes[14];
    end = gribMessageEnd(read, from, size);
    return end > head.start && end <= size;
}
