// The checks of a GRIB message's bytes, on messages built here byte by
// byte: every fault they name, and the sound forms they must let through.
#include "readers/gribdamage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void put(Bytes& b, size_t at, uint64_t value, int width)
{
    for (int i = 0; i < width; ++i)
        b[at + i] = static_cast<unsigned char>(value >> (8 * (width - 1 - i)));
}

Bytes text(const char* s)
{
    return Bytes(s, s + std::strlen(s));
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A GRIB 2 section: its length, its number, then `body` (from octet 6 on).
Bytes section(int number, const Bytes& body)
{
    Bytes s(5);
    put(s, 0, 5 + body.size(), 4);
    s[4] = static_cast<unsigned char>(number);
    return s + body;
}

// A section claiming `length` bytes, whatever it holds.
Bytes withLength(Bytes s, uint64_t length)
{
    put(s, 0, length, 4);
    return s;
}

// A grid of `points` points (octets 7 to 10 of section 3).
Bytes grid(uint64_t points)
{
    Bytes body(9);
    put(body, 1, points, 4);
    return section(3, body);
}

// Simple packing (template 5.0) of `values` values.
Bytes simple(uint64_t values)
{
    Bytes body(16);
    put(body, 0, values, 4);
    return section(5, body);
}

// Packing by groups: template 5.2, or 5.3 with its order and octets.
struct Groups {
    int templateNumber = 2;
    uint64_t values = 4, groups = 2;
    unsigned referenceBits = 8, widthReference = 0, widthBits = 4;
    uint64_t lengthReference = 1;
    unsigned lengthIncrement = 1;
    uint64_t lastLength = 2;
    unsigned lengthBits = 4, order = 0, octets = 0;
};

Bytes grouped(const Groups& g)
{
    Bytes s(g.templateNumber == 3 ? 49 : 47);
    put(s, 0, s.size(), 4);
    s[4] = 5;
    put(s, 5, g.values, 4);
    put(s, 9, static_cast<uint64_t>(g.templateNumber), 2);
    s[19] = static_cast<unsigned char>(g.referenceBits);
    put(s, 31, g.groups, 4);
    s[35] = static_cast<unsigned char>(g.widthReference);
    s[36] = static_cast<unsigned char>(g.widthBits);
    put(s, 37, g.lengthReference, 4);
    s[41] = static_cast<unsigned char>(g.lengthIncrement);
    put(s, 42, g.lastLength, 4);
    s[46] = static_cast<unsigned char>(g.lengthBits);
    if (g.templateNumber == 3) {
        s[47] = static_cast<unsigned char>(g.order);
        s[48] = static_cast<unsigned char>(g.octets);
    }
    return s;
}

// The data of the default Groups: two 8-bit references, widths 3 and 2,
// scaled lengths 1 (1 + 1 = 2 values) and the last group's 2, then 10 bits
// of values in 2 octets.
const Bytes kGroupData = {7, 9, 0x32, 0x10, 0, 0};

Bytes bitmap(int indicator, const Bytes& bits = {})
{
    return section(6, Bytes{static_cast<unsigned char>(indicator)} + bits);
}

Bytes data(const Bytes& bytes)
{
    return section(7, bytes);
}

// A GRIB 2 message of the given sections after section 1, its length in
// the indicator section counting `extra` more bytes than it has.
Bytes grib2(const Bytes& sections, int64_t extra = 0, const char* marker = "7777")
{
    Bytes head = text("GRIB") + Bytes{0, 0, 0, 2} + Bytes(8);
    Bytes m = head + section(1, Bytes(16)) + sections + text(marker);
    put(m, 8, static_cast<uint64_t>(static_cast<int64_t>(m.size()) + extra), 8);
    return m;
}

// A sound field of 16 points.
Bytes field(const Bytes& packing = simple(16), const Bytes& map = bitmap(255), const Bytes& values = Bytes(4))
{
    return section(4, Bytes(4)) + packing + map + data(values);
}

Bytes grib1(uint32_t length, size_t size)
{
    Bytes m = text("GRIB") + Bytes{0, 0, 0, 1};
    put(m, 4, length, 3);
    m.resize(size);
    return m;
}

Bytes product(const char* magic, uint32_t first)
{
    Bytes p = text(magic) + Bytes(60);
    put(p, 4, first, 3);
    return p;
}

// A source of the given bytes.
GribByteReader readerOf(const Bytes& bytes)
{
    return [&bytes](uint64_t offset, unsigned char* buffer, size_t n) -> size_t {
        if (offset >= bytes.size())
            return 0;
        const size_t got = std::min<uint64_t>(n, bytes.size() - offset);
        std::memcpy(buffer, bytes.data() + offset, got);
        return got;
    };
}

std::string fault(const Bytes& bytes, uint64_t from = 0, uint64_t base = 0)
{
    return gribMessageFault(readerOf(bytes), from, bytes.size(), base);
}

}  // namespace

TEST(GribDamage, MessagesAndProducts)
{
    const Bytes sound = grib2(grid(16) + field());
    const std::string soundSize = std::to_string(sound.size());
    const Bytes garbage(70001, 'x');
    struct Case {
        const char* name;
        Bytes bytes;
        std::string fault;
        uint64_t from = 0, base = 0;
    };
    const std::vector<Case> cases = {
        {"empty source", {}, ""},
        {"bytes without a magic", text("no grib here, no product at all"), ""},
        {"magic alone", text("GRIB"), ""},
        {"sound edition 2", sound, ""},
        {"sound edition 2 after garbage", garbage + sound, ""},
        {"two fields, the second taking the first one's bitmap",
         grib2(grid(16) + field(simple(16), bitmap(0, Bytes(2))) + field(simple(16), bitmap(254))), ""},
        {"a second grid for the second field",
         grib2(grid(16) + field() + grid(4) + field(simple(4), bitmap(0, Bytes(1)))), ""},
        {"edition 2 cut short", Bytes(sound.begin(), sound.end() - 1),
         "is cut short: the GRIB message at byte 0 claims " + soundSize + " bytes, only " +
             std::to_string(sound.size() - 1) + " are left"},
        {"edition 2 claiming 2^64 - 1 bytes", grib2(grid(16) + field(), -static_cast<int64_t>(sound.size()) - 1),
         "is cut short: the GRIB message at byte 0 claims 18446744073709551615 bytes, only " + soundSize +
             " are left"},
        {"cut short after a window of garbage", garbage + Bytes(sound.begin(), sound.begin() + 60),
         "is cut short: the GRIB message at byte 70001 claims " + soundSize + " bytes, only 60 are left"},
        {"magic straddling the first look", Bytes(14, 'x') + Bytes(sound.begin(), sound.begin() + 30),
         "is cut short: the GRIB message at byte 14 claims " + soundSize + " bytes, only 30 are left"},
        {"the second message, counted from a base", sound + Bytes(sound.begin(), sound.begin() + 40),
         "is cut short: the GRIB message at byte " + std::to_string(1000 + sound.size()) + " claims " + soundSize +
             " bytes, only 40 are left",
         sound.size(), 1000},
        {"edition 1 sound", grib1(100, 100), ""},
        {"edition 1 cut short", grib1(100, 99), "is cut short: the GRIB message at byte 0 claims 100 bytes, only 99 are left"},
        {"edition 1 of the large form", grib1(0x800064, 99), ""},
        {"edition 3", Bytes{'G', 'R', 'I', 'B', 0, 0, 0, 3} + Bytes(8, 0xff), ""},
        {"TIDE of an empty first section", product("TIDE", 0),
         "is damaged: the TIDE product at byte 0 has a first section of 0 bytes"},
        {"BUDG of a first section of 2 bytes after a message", sound + product("BUDG", 2),
         "is damaged: the BUDG product at byte " + soundSize + " has a first section of 2 bytes", sound.size()},
        {"DIAG of a first section of 3 bytes", product("DIAG", 3), ""},
        {"section 4 after section 1", grib2(field()),
         "is damaged: the GRIB message at byte 0 has section 4 after section 1 at byte 37"},
        {"section 1 twice", grib2(section(1, Bytes(16)) + grid(16) + field()),
         "is damaged: the GRIB message at byte 0 has section 1 after section 1 at byte 37"},
        {"end marker after section 5", grib2(grid(16) + section(4, Bytes(4)) + simple(16)),
         "is damaged: the GRIB message at byte 0 ends after section 5"},
        {"bytes between the last section and the end marker", grib2(grid(16) + field() + Bytes(5)),
         "is damaged: the GRIB message at byte 0 has section 0 after section 7 at byte " +
             std::to_string(sound.size() - 4)},
        {"damaged end marker", grib2(grid(16) + field(), 0, "7778"),
         "is damaged: the sections of the GRIB message at byte 0 do not end with its end marker at byte " +
             std::to_string(sound.size() - 4)},
        {"damaged end marker, counted from a base", grib2(grid(16) + field(), 0, "7778"),
         "is damaged: the sections of the GRIB message at byte 500 do not end with its end marker at byte " +
             std::to_string(500 + sound.size() - 4),
         0, 500},
        {"section of 4 bytes", grib2(Bytes{0, 0, 0, 4, 3} + field()),
         "is damaged: section 3 of the GRIB message at byte 0 claims 4 bytes, past the message's end"},
        {"section past the message's end", grib2(Bytes{0, 0, 1, 0, 3} + field()),
         "is damaged: section 3 of the GRIB message at byte 0 claims 256 bytes, past the message's end"},
        {"data section over the end marker",
         grib2(grid(16) + section(4, Bytes(4)) + simple(16) + bitmap(255) + withLength(data(Bytes(4)), 13)),
         "is damaged: section 7 of the GRIB message at byte 0 claims 13 bytes, past the message's end"},
        {"more values than points", grib2(grid(16) + field(simple(17))),
         "is damaged: field 1 of the GRIB message at byte 0 codes 17 values for 16 points"},
        {"bitmap of fewer bits than points", grib2(grid(17) + field(simple(16), bitmap(0, Bytes(2)))),
         "is damaged: the bitmap of field 1 of the GRIB message at byte 0 holds 16 bits for 17 points"},
        {"bitmap of an earlier field that has none",
         grib2(grid(16) + field() + field(simple(16), bitmap(254))),
         "is damaged: field 2 of the GRIB message at byte 0 takes the bitmap of an earlier field, and no earlier "
         "field has one"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fault(c.bytes, c.from, c.base), c.fault) << c.name;
}

TEST(GribDamage, FieldsPackedByGroups)
{
    auto with = [](auto change) {
        Groups g;
        change(g);
        return g;
    };
    const Groups plain;
    const Groups differenced = with([](Groups& g) {
        g.templateNumber = 3;
        g.order = 1;
        g.octets = 2;
    });
    const Bytes prefix(4);  // order 1: two values of 2 octets ahead of the groups
    struct Case {
        const char* name;
        Groups groups;
        Bytes data;
        std::string fault;  // after "field 1 of the GRIB message at byte 0 "
    };
    const std::vector<Case> cases = {
        {"sound", plain, kGroupData, ""},
        {"sound with spatial differencing", differenced, prefix + kGroupData, ""},
        // 2 references of 5 bits: the widths start on the next octet, not
        // among the set bits after them.
        {"references ending inside an octet", with([](Groups& g) { g.referenceBits = 5; }),
         Bytes{0xff, 0xff, 0x32, 0x10, 0, 0}, ""},
        // Widths 3 and 2 in 3 bits each: the lengths start on the next octet.
        {"widths ending inside an octet", with([](Groups& g) { g.widthBits = 3; }), Bytes{7, 9, 0x68, 0x10, 0, 0},
         ""},
        {"order 0 spatial differencing", with([](Groups& g) { g.templateNumber = 3; }), kGroupData, ""},
        {"fields of 33 bits", with([](Groups& g) { g.widthBits = 33; }), kGroupData,
         "packs its groups with fields of more than 32 bits"},
        {"spatial differencing of order 3", with([](Groups& g) {
             g.templateNumber = 3;
             g.order = 3;
             g.octets = 2;
         }),
         kGroupData, "has spatial differencing of order 3 in 2 octets"},
        {"spatial differencing in 5 octets", with([](Groups& g) {
             g.templateNumber = 3;
             g.order = 2;
             g.octets = 5;
         }),
         kGroupData, "has spatial differencing of order 2 in 5 octets"},
        {"data shorter than the differencing values", differenced, Bytes(3),
         "ends inside its spatial differencing values"},
        {"no groups", with([](Groups& g) { g.groups = 0; }), kGroupData, "packs 4 values in 0 groups"},
        {"more groups than values", with([](Groups& g) { g.groups = 5; }), kGroupData, "packs 4 values in 5 groups"},
        {"data ending in the references", plain, Bytes(1), "ends inside its group references"},
        {"data ending before the widths", plain, Bytes(2), "ends inside its group widths"},
        {"data ending before the lengths", plain, Bytes(3), "ends inside its group lengths"},
        {"a group 34 bits wide", with([](Groups& g) { g.widthReference = 31; }), kGroupData,
         "has a group of values 34 bits wide"},
        {"groups of more values than the field", with([](Groups& g) { g.lastLength = 10; }), kGroupData,
         "has groups of more than its 4 values"},
        {"groups of fewer values than the field", with([](Groups& g) { g.lastLength = 1; }), kGroupData,
         "has groups of 3 values, not 4"},
        {"values past the section", plain, Bytes(kGroupData.begin(), kGroupData.begin() + 4),
         "packs 10 bits of values in 0"},
    };
    for (const Case& c : cases) {
        const Bytes message = grib2(grid(4) + section(4, Bytes(4)) + grouped(c.groups) + bitmap(255) + data(c.data));
        const std::string expected =
            c.fault.empty() ? std::string() : "is damaged: field 1 of the GRIB message at byte 0 " + c.fault;
        EXPECT_EQ(fault(message), expected) << c.name;
    }
}

namespace {

// An edition-1 message of the large form: its indicator section codes
// `coded` (the length in units of 120 bytes, with the large-form bit), then
// a section 1 of `section1` bytes whose flags announce sections 2 and 3 of
// the given lengths (none when 0), and section 4 of `section4` bytes.
Bytes largeGrib1(uint32_t coded, uint32_t section1, uint32_t section2, uint32_t section3, uint32_t section4)
{
    Bytes m = text("GRIB") + Bytes{0, 0, 0, 1};
    put(m, 4, 0x800000 | coded, 3);
    Bytes s1(std::max<uint32_t>(section1, 8));
    put(s1, 0, section1, 3);
    s1[7] = static_cast<unsigned char>((section2 ? 0x80 : 0) | (section3 ? 0x40 : 0));
    m = m + s1;
    for (uint32_t length : {section2, section3}) {
        if (length) {
            Bytes s(std::max<uint32_t>(length, 3));
            put(s, 0, length, 3);
            m = m + s;
        }
    }
    Bytes s4(3);
    put(s4, 0, section4, 3);
    return m + s4;
}

uint64_t messageEnd(const Bytes& bytes, uint64_t from = 0)
{
    return gribMessageEnd(readerOf(bytes), from, bytes.size());
}

}  // namespace

// How far ecCodes reads for a message from memory: what a compressed input
// must hold of it (and no less) before ecCodes is given it.
TEST(GribDamage, WhereEcCodesStopsReading)
{
    const Bytes sound = grib2(grid(16) + field());
    const Bytes garbage(70001, 'x');
    const uint64_t kTail = 1000;  // bytes of the source after the message
    const Bytes tail(kTail, 'z');
    Bytes claimingAll = sound;
    put(claimingAll, 8, UINT64_MAX, 8);
    Bytes cutLarge = largeGrib1(3, 28, 10, 0, 100);
    cutLarge.resize(cutLarge.size() - 2);
    struct Case {
        const char* name;
        Bytes bytes;
        uint64_t end;  // UINT64_MAX - 1 for "the source's size"
        uint64_t from = 0;
    };
    const uint64_t kSize = UINT64_MAX - 1;
    const std::vector<Case> cases = {
        {"empty source", {}, kSize},
        {"no product", text("no grib here at all"), kSize},
        {"edition 2", sound + tail, sound.size()},
        {"edition 2 after garbage", garbage + sound + tail, garbage.size() + sound.size()},
        {"the second message", sound + sound + tail, 2 * sound.size(), sound.size()},
        {"edition 2 claiming more than the source", Bytes(sound.begin(), sound.end() - 10), sound.size()},
        {"edition 2 claiming 2^64 - 1 after garbage", Bytes(5, 'x') + claimingAll, UINT64_MAX},
        {"edition 2 claiming less than its indicator section", grib2(grid(16) + field(), -static_cast<int64_t>(sound.size()) + 15) + tail, kSize},
        {"edition 2 cut in its indicator section", Bytes(sound.begin(), sound.begin() + 12), kSize},
        {"BUFR in the garbage before", text("xxBUFR") + sound + tail, kSize},
        {"HDF5 in the garbage before", text("\x89HDF") + sound + tail, kSize},
        {"WRAP just before the message", text("WRAP") + sound + tail, kSize},
        {"BUFR after the message's start", sound + text("BUFR") + tail, sound.size()},
        {"edition 1", grib1(100, 100) + tail, 100},
        {"edition 1 claiming less than its indicator section", grib1(7, 100) + tail, kSize},
        {"edition 3", Bytes{'G', 'R', 'I', 'B', 0, 0, 0, 3} + Bytes(8, 0) + tail, kSize},
        {"pseudo-GRIB product", product("DIAG", 3) + tail, kSize},
        // Section 4 shorter than 120 bytes: 3 units of 120 bytes, less section
        // 4's length, and the end marker.
        {"edition 1 of the large form", largeGrib1(3, 28, 0, 0, 100) + tail, 3 * 120 - 100 + 4},
        {"edition 1 of the large form with sections 2 and 3", largeGrib1(3, 28, 10, 20, 100) + tail, 3 * 120 - 100 + 4},
        {"edition 1 of the large form whose section 4 tells the length", largeGrib1(3, 28, 0, 0, 200) + tail,
         0x800000 | 3},
        {"edition 1 of the large form coding no length", largeGrib1(0, 28, 0, 0, 4) + tail, 8 + 28 + 3},
        {"edition 1 of the large form shorter than its sections", largeGrib1(1, 28, 200, 0, 100) + tail, kSize},
        {"edition 1 of the large form with a section 1 of 7 bytes", largeGrib1(3, 7, 0, 0, 100) + tail, kSize},
        {"edition 1 of the large form with a section 2 of 2 bytes", largeGrib1(3, 28, 2, 0, 100) + tail, kSize},
        {"edition 1 of the large form cut in its sections", cutLarge, kSize},
    };
    for (const Case& c : cases)
        EXPECT_EQ(messageEnd(c.bytes, c.from), c.end == kSize ? c.bytes.size() : c.end) << c.name;
}
