// Reading GRIB messages into the store: keys, table filter, area cut,
// members, times and the compressed forms.
#include "readers/gribmessages.h"
#include "readers/gribtest.h"
#include "support/fatalend.h"

#include <QFile>

#include <pty.h>
#include <unistd.h>

#include <cmath>

namespace {

const QString kIsobaric = "Isobaric surface";

// A 1-degree field over 70..150 E, 70..0 N, north to south.
GribField eastAsia(const std::string& name = "t", long level = 850)
{
    GribField f;
    f.shortName = name;
    f.level = level;
    f.firstLon = 70;
    f.firstLat = 70;
    f.ni = 81;
    f.nj = 71;
    fillPattern(f);
    return f;
}

// Value of the input at a longitude and latitude, or NaN when it has no point there.
double inputAt(const GribField& f, double lon, double lat)
{
    for (long k = 0; k < f.ni * f.nj; ++k) {
        double plon = pointLon(f, k);
        if (std::fabs(std::remainder(plon - lon, 360.0)) < 1e-6 && std::fabs(pointLat(f, k) - lat) < 1e-6)
            return f.values[static_cast<size_t>(k)];
    }
    return std::nan("");
}

// Ten 0.25-degree fields over 70..150 E, 70..0 N of 270 kB each: together
// larger than the pieces a compressed input is decoded in.
std::vector<QByteArray> largeMessages()
{
    std::vector<QByteArray> messages;
    for (long level : {1000, 925, 850, 700, 500, 400, 300, 250, 200, 100}) {
        GribField f = eastAsia("t", level);
        f.step = 0.25;
        f.ni = 321;
        f.nj = 281;
        fillPattern(f, static_cast<double>(level));
        messages.push_back(gribMessage(f));
    }
    return messages;
}

QByteArray joined(const std::vector<QByteArray>& messages, size_t from, size_t to)
{
    QByteArray out;
    for (size_t m = from; m < to; ++m)
        out += messages[m];
    return out;
}

// The same records of temperature, in the same order.
void expectSameTemperatures(const gribReader& got, const gribReader& expected, const std::string& what)
{
    const auto& want = expected.m_cache[0].at("t_Isobaric surface_");
    const auto it = got.m_cache[0].find("t_Isobaric surface_");
    ASSERT_NE(it, got.m_cache[0].end()) << what;
    ASSERT_EQ(it->second.size(), want.size()) << what;
    for (size_t k = 0; k < want.size(); ++k) {
        EXPECT_EQ(it->second[k].level, want[k].level) << what;
        EXPECT_EQ(it->second[k].data, want[k].data) << what;
        EXPECT_EQ(it->second[k].lon, want[k].lon) << what;
        EXPECT_EQ(it->second[k].lat, want[k].lat) << what;
    }
}

}  // namespace

TEST_F(GribTest, MultiFieldMessagesGiveEachField)
{
    useTable("80,137,12,60", {variableRow("t", kIsobaric, "", "TMP")});
    GribField t500 = eastAsia("t", 500);
    fillPattern(t500, 40);
    const QByteArray multi =
        multiFieldMessage({gribMessage(eastAsia("t", 850)), gribMessage(t500), gribMessage(eastAsia("t", 300))});
    for (const QString& name : {QString("multi.grib2"), QString("multi.grib2.gz")}) {
        gribReader r;
        r.readFile(file(name, name.endsWith(".gz") ? gzipBytes(multi + multi) : multi + multi));
        const auto* t = records(r, "t_Isobaric surface_");
        ASSERT_NE(t, nullptr) << name.toStdString();
        ASSERT_EQ(t->size(), 6u) << name.toStdString();
        EXPECT_EQ((*t)[0].level, 850);
        EXPECT_EQ((*t)[1].level, 500);
        EXPECT_EQ((*t)[2].level, 300);
        EXPECT_EQ((*t)[4].level, 500);
        EXPECT_NE((*t)[0].data, (*t)[1].data);
        EXPECT_EQ((*t)[1].data, (*t)[4].data);
    }
}

TEST_F(GribTest, CutsTheAreaOnTheInputGridWithRowsFromTheStartLatitude)
{
    useTable("80,137,12,60", {variableRow("t", kIsobaric, "", "TMP")});
    const GribField f = eastAsia();
    gribReader r;
    EXPECT_TRUE(r.readFile(file("a.grib2", gribMessage(f))));

    const auto* t = records(r, "t_Isobaric surface_");
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->size(), 1u);
    const p_data& rec = t->front();
    ASSERT_EQ(rec.lon.size(), 58u);
    ASSERT_EQ(rec.lat.size(), 49u);
    ASSERT_EQ(rec.data.size(), 58u * 49u);
    EXPECT_DOUBLE_EQ(rec.lon.front(), 80.0);
    EXPECT_DOUBLE_EQ(rec.lon.back(), 137.0);
    EXPECT_DOUBLE_EQ(rec.lat.front(), 12.0);
    EXPECT_DOUBLE_EQ(rec.lat.back(), 60.0);
    for (size_t j = 0; j < rec.lat.size(); ++j)
        for (size_t i = 0; i < rec.lon.size(); ++i)
            ASSERT_EQ(rec.data[j * rec.lon.size() + i], inputAt(f, rec.lon[i], rec.lat[j]))
                << "at " << rec.lon[i] << "," << rec.lat[j];

    EXPECT_EQ(rec.factorShortName, "t");
    EXPECT_EQ(rec.factorLongName, "Temperature");
    EXPECT_EQ(rec.nameOfFirstFixedSurface, "Isobaric surface");
    EXPECT_EQ(rec.typedoflevels, "");
    EXPECT_EQ(rec.level, 850);
    EXPECT_EQ(rec.prop_units, "K");
    EXPECT_EQ(rec.prop_initial_time, "202612081200");
    EXPECT_EQ(rec.forecastTime, 0);
    EXPECT_FLOAT_EQ(rec.prop_fillValue, 9999.0f);
    EXPECT_EQ(rec.dimDx, 8);
    EXPECT_EQ(rec.gribEdition, 2);
    EXPECT_FALSE(rec.readout);
    EXPECT_FALSE(rec.isFi);
}

TEST_F(GribTest, CellsTheInputDoesNotCoverHoldTheFillValue)
{
    useTable("80,137,12,60", {variableRow("t", kIsobaric, "", "TMP")});
    GribField f;
    f.firstLon = 100;
    f.firstLat = 40;
    f.ni = 11;
    f.nj = 11;
    fillPattern(f);
    f.values[0] = 9999.0;  // a missing point inside the input
    gribReader r;
    r.readFile(file("part.grib2", gribMessage(f)));
    const auto* t = records(r, "t_Isobaric surface_");
    ASSERT_NE(t, nullptr);
    const p_data& rec = t->front();
    const size_t nx = rec.lon.size();
    auto at = [&](double lon, double lat) {
        return rec.data[static_cast<size_t>(std::lround(lat - 12)) * nx + static_cast<size_t>(std::lround(lon - 80))];
    };
    EXPECT_EQ(at(80, 12), 9999.0);
    EXPECT_EQ(at(137, 60), 9999.0);
    EXPECT_EQ(at(99, 35), 9999.0);
    EXPECT_EQ(at(100, 40), 9999.0);  // missing in the input
    EXPECT_EQ(at(101, 40), f.values[1]);
    EXPECT_EQ(at(110, 30), f.values[static_cast<size_t>(10 * 11 + 10)]);
}

TEST_F(GribTest, LongitudesMatchAcrossTheTwoConventionsTheAntimeridianAndTheSeam)
{
    // Global 1-degree grids in either convention, on areas in either
    // convention, across the antimeridian (an end smaller than the start)
    // and round the globe, where both columns of the seam meridian take its
    // values: every cell holds the input's value at its meridian.
    const struct {
        int edition;
        double firstLon;
        const char* area;
        double lastAreaLon;
    } cases[] = {
        {2, 0, "-20,20,0,10", 20},      {1, -180, "170,190,0,10", 190}, {2, 0, "170,-170,0,10", 190},
        {1, -180, "170,-170,0,10", 190}, {2, 0, "350,10,0,10", 370},    {2, 0, "-180,180,0,10", 180},
        {1, -180, "-180,180,0,10", 180}, {1, -180, "0,360,0,10", 360},   {2, 0, "0,360,0,10", 360},
        {2, 0, "179,-180,0,10", 180},
    };
    for (const auto& c : cases) {
        GribField global;
        global.edition = c.edition;
        global.firstLon = c.firstLon;
        global.firstLat = 10;
        global.ni = 360;
        global.nj = 11;
        fillPattern(global);
        useTable(c.area, {variableRow("t", kIsobaric, "", "TMP"), variableRow("t", "", "pl", "TMP")});
        gribReader r;
        r.readFile(file("global.grib", gribMessage(global)));
        const auto* t = records(r, c.edition == 1 ? "t__pl" : "t_Isobaric surface_");
        ASSERT_NE(t, nullptr) << c.area;
        const p_data& rec = t->front();
        ASSERT_EQ(rec.lon.back(), c.lastAreaLon) << c.area;
        for (size_t j = 0; j < rec.lat.size(); ++j)
            for (size_t i = 0; i < rec.lon.size(); ++i)
                ASSERT_EQ(rec.data[j * rec.lon.size() + i], inputAt(global, rec.lon[i], rec.lat[j]))
                    << c.area << " from " << c.firstLon << " at " << rec.lon[i];
    }
}

TEST_F(GribTest, OnlyMessagesWithATableRowAreKeptUnderTheirKeys)
{
    useTable("80,137,12,60", {variableRow("t", kIsobaric, "", "TMP"), variableRow("r", "", "pl", "RH"),
                              variableRow("199", kIsobaric, "", "X")});
    GribField t850 = eastAsia("t", 850), t500 = eastAsia("t", 500), gh = eastAsia("gh", 500);
    GribField r1 = eastAsia("r", 700);
    r1.edition = 1;
    GribField unknown = eastAsia("", 300);
    unknown.parameterNumber = 199;
    gribReader r;
    r.readFile(file("mix.grib", gribMessage(t850) + gribMessage(gh) + gribMessage(r1) +
                                    gribMessage(t500) + gribMessage(unknown)));

    EXPECT_EQ(r.m_cache[0].size(), 3u);
    const auto* t = records(r, "t_Isobaric surface_");
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->size(), 2u);
    EXPECT_EQ((*t)[0].level, 850);  // file order
    EXPECT_EQ((*t)[1].level, 500);
    // GRIB 1: no surface name, the level type from the message.
    const auto* rh = records(r, "r__pl");
    ASSERT_NE(rh, nullptr);
    EXPECT_EQ(rh->front().prop_level_indicator, 100);
    EXPECT_EQ(rh->front().gribEdition, 1);
    // "unknown" is matched by its parameter name.
    const auto* x = records(r, "199_Isobaric surface_");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->front().factorLongName, "199");
    EXPECT_EQ(records(r, "gh_Isobaric surface_"), nullptr);
}

TEST_F(GribTest, MembersFillTheirSlotsAndRaiseTheCount)
{
    useTable("80,137,12,60", {variableRow("t", kIsobaric, "", "TMP")});
    QByteArray bytes;
    for (long m : {0, 3, 1, 2}) {
        GribField f = eastAsia();
        f.member = m;
        f.forecastTime = m == 3 ? 48 : 24;
        fillPattern(f, 100 * static_cast<double>(m));
        bytes += gribMessage(f);
    }
    GribField outside = eastAsia();
    outside.member = 150;
    outside.forecastTime = 12;
    bytes += gribMessage(outside);

    gribReader r;
    r.readFile(file("ens.grib2", bytes));
    EXPECT_EQ(g_collect_number, 3);
    EXPECT_EQ(g_forcastTime, 48);
    for (int m = 0; m <= 3; ++m) {
        const auto* t = records(r, "t_Isobaric surface_", m);
        ASSERT_NE(t, nullptr) << m;
        EXPECT_EQ(t->size(), 1u);
        EXPECT_EQ(t->front().perturbationNumber, m);
    }
    for (int m = 4; m < kMemberSlots; ++m)
        EXPECT_TRUE(r.m_cache[m].empty()) << m;
}

TEST_F(GribTest, CompressedFormsGiveTheSameStore)
{
    useTable("80,137,12,60", {variableRow("t", kIsobaric, "", "TMP")});
    const std::vector<QByteArray> messages = largeMessages();
    const QByteArray plain = joined(messages, 0, messages.size());

    gribReader ref;
    ASSERT_TRUE(ref.readFile(file("a.grib2", plain)));
    ASSERT_EQ(records(ref, "t_Isobaric surface_")->size(), messages.size());

    // Several gzip members or bzip2 streams in a row read as one, wherever
    // they part: in a message's indicator section, in its values, between
    // two messages.
    const int inHead = messages[0].size() + 10, inValues = plain.size() * 2 / 3, between = joined(messages, 0, 8).size();
    auto members = [&](QByteArray (*compress)(const QByteArray&)) {
        return compress(plain.left(inHead)) + compress(plain.mid(inHead, inValues - inHead)) +
               compress(plain.mid(inValues, between - inValues)) + compress(plain.mid(between));
    };
    struct Case {
        QString name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"a.grib2.gz", gzipBytes(plain)},
        {"a.grib2.GZ", gzipBytes(plain)},
        {"a.grib2.bz2", bzip2Bytes(plain)},
        {"members.gz", members(gzipBytes)},
        {"streams.bz2", members(bzip2Bytes)},
    };
    for (const Case& c : cases) {
        gribReader r;
        EXPECT_TRUE(r.readFile(file(c.name, c.bytes))) << c.name.toStdString();
        expectSameTemperatures(r, ref, c.name.toStdString());
    }

    // Upper-case ".BZ2" is not a bzip2 name: the bytes are taken as GRIB and hold no message.
    gribReader upper;
    upper.readFile(file("a.grib2.BZ2", bzip2Bytes(plain)));
    EXPECT_TRUE(upper.m_cache[0].empty());
}

TEST_F(GribTest, ReadingShowsOneProgressLinePerInputOnlyOnATerminal)
{
    useTable("80,137,12,60", {variableRow("t", kIsobaric, "", "TMP")});
    const QByteArray three = gribMessage(eastAsia("t", 850)) + gribMessage(eastAsia("t", 700)) +
                             gribMessage(eastAsia("t", 500));
    const QString plain = file("a.grib2", three), packed = file("b.grib2.gz", gzipBytes(three));
    gribReader r;
    ::testing::internal::CaptureStderr();
    r.readFile(plain);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    int terminal = -1, terminalEnd = -1;
    if (openpty(&terminal, &terminalEnd, nullptr, nullptr, nullptr) != 0)
        GTEST_SKIP() << "no pseudo-terminal to read on";
    const int saved = dup(2);
    dup2(terminalEnd, 2);
    r.readFile(plain);
    r.readFile(packed);
    dup2(saved, 2);
    close(saved);
    close(terminalEnd);
    QByteArray shown;
    char buffer[4096];
    for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;)
        shown.append(buffer, static_cast<int>(n));
    close(terminal);
    // The terminal ends lines with "\r\n"; each ends in the input's last state.
    const QStringList lines = QString::fromLocal8Bit(shown).split("\r\n");
    ASSERT_EQ(lines.size(), 3) << shown.toStdString();
    EXPECT_TRUE(lines[0].endsWith("\ra.grib2: 3 messages read, 100%")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith("\rb.grib2.gz: 3 messages read, 100%")) << lines[1].toStdString();
    EXPECT_EQ(lines[2], "");
}

// A damaged or cut compressed input ends the run where the damage is met,
// after the messages before it were read, never past it.
TEST_F(GribTest, DamagedCompressedStreamsEndTheRunAtTheDamage)
{
    useTable("80,137,12,60", {variableRow("t", kIsobaric, "", "TMP")});
    const std::vector<QByteArray> messages = largeMessages();
    auto part = [&](size_t from, size_t to) { return joined(messages, from, to); };
    // Damage early in a bzip2 stream, before it has given anything.
    auto damagedBzip2 = [](QByteArray bz) {
        for (int k = 20; k < 60; ++k)
            bz[k] = static_cast<char>(bz[k] ^ 0x5a);
        return bz;
    };
    const QByteArray gz = gzipBytes(part(0, 1)) + gzipBytes(part(1, 2));
    const QByteArray bz = bzip2Bytes(part(0, 1)) + bzip2Bytes(part(1, 2));
    // A gzip member whose deflate data starts with a block of no valid type,
    // or whose check value is wrong.
    auto badBlock = [](QByteArray member) {
        member[10] = 0x07;
        return member;
    };
    auto badCheck = [](QByteArray member) {
        member[member.size() - 8] = static_cast<char>(member[member.size() - 8] ^ 0x5a);
        return member;
    };
    QByteArray unended = messages[3];
    unended.replace(unended.size() - 4, 4, "xxxx");
    QByteArray corrupt = bz;
    for (int k = bzip2Bytes(part(0, 1)).size() + 100; k < corrupt.size() - 10; k += 7)
        corrupt[k] = static_cast<char>(corrupt[k] ^ 0x5a);
    struct Case {
        QString name;
        QByteArray bytes;
        size_t kept;  // the messages before the damage; 0: at most the first
    };
    const Case cases[] = {
        {"cut.gz", gz.left(gz.size() - 40), 0},
        {"cut.bz2", bz.left(bz.size() - 40), 0},
        {"bad.bz2", corrupt, 0},
        // Members and streams of several messages, damaged after some.
        {"third-cut.gz", gzipBytes(part(0, 4)) + gzipBytes(part(4, 7)) + gzipBytes(part(7, 10)).left(30), 7},
        {"second-damaged.bz2", bzip2Bytes(part(0, 4)) + damagedBzip2(bzip2Bytes(part(4, 10))), 4},
        // Damage within the first 10 MiB decoded, after several messages:
        // each message before it is kept.
        {"bad-block.gz", gzipBytes(part(0, 6)) + badBlock(gzipBytes(part(6, 10))), 6},
        {"bad-check.gz", badCheck(gzipBytes(part(0, 6))) + gzipBytes(part(6, 10)), 6},
        // A message that would end the run in a sound stream, damage more
        // than a megabyte after it.
        {"bad-message.gz", gzipBytes(part(0, 3) + unended + part(4, 9)) + badBlock(gzipBytes(part(9, 10))), 3},
    };
    for (const Case& c : cases) {
        gribReader r;
        std::string ended;
        ::testing::internal::CaptureStderr();
        try {
            r.readFile(file(c.name, c.bytes));
        } catch (const FatalError& e) {
            EXPECT_EQ(e.status(), 255);
            ended = e.message().toStdString();
        }
        ::testing::internal::GetCapturedStderr();
        EXPECT_NE(ended.find(c.name.toStdString() + " is damaged ("), std::string::npos) << c.name.toStdString() << ": " << ended;
        // Read so far: some of the messages before the damage, as they are
        // (the damage is met while the stream is decoded ahead of them).
        const auto* t = records(r, "t_Isobaric surface_");
        const size_t read = t ? t->size() : 0;
        EXPECT_LE(read, c.kept == 0 ? 1u : c.kept) << c.name.toStdString();
        if (read == 0)
            continue;
        gribReader before;
        ASSERT_TRUE(before.readFile(file("before.grib2", part(0, read))));
        expectSameTemperatures(r, before, c.name.toStdString());
    }
}

// A message claiming more than the decompressed input holds ends the run as
// in a plain file, before any of its claim is taken; one that the input
// holds but that would take more than can be held at once ends it too.
TEST_F(GribTest, MessagesClaimingMoreThanCanBeHeldEndTheRunUnread)
{
    useTable("80,137,12,60", {variableRow("t", kIsobaric, "", "TMP")});
    QByteArray absurd = gribMessage(eastAsia());
    const QByteArray length = QByteArray::fromHex("4000000000000000");  // 2^62
    absurd.replace(8, 8, length);
    const std::string cutShort = "is cut short: the GRIB message at byte 0 claims 4611686018427387904 bytes, only " +
                                 std::to_string(absurd.size()) + " are left";
    // 2 GiB and 1 MiB of zeros in gzip members of 1 MiB, after the
    // indicator section of a message claiming 1000 bytes more than the most
    // held at once.
    QByteArray head = QByteArray("GRIB\0\0\0\2", 8) + QByteArray(8, '\0');
    const uint64_t claimed = GribMessages::kMaxHeld + 1000;
    for (int i = 0; i < 8; ++i)
        head[8 + i] = static_cast<char>(claimed >> (56 - 8 * i));
    const QByteArray zeros(1 << 20, '\0');
    const QByteArray huge = gzipBytes(head + zeros) + gzipBytes(zeros).repeated(2048);
    struct Case {
        QString name;
        QByteArray bytes;
        std::string said;
    };
    const Case cases[] = {
        {"absurd.grib2", absurd, cutShort},
        {"absurd.grib2.gz", gzipBytes(absurd), cutShort},
        {"absurd.grib2.bz2", bzip2Bytes(absurd), cutShort},
        {"huge.grib2.gz", huge, "cannot be read: the GRIB message at byte 0 would take more than 2147483648 bytes"},
    };
    for (const Case& c : cases) {
        const QString path = file(c.name, c.bytes);
        EXPECT_TRUE(endsRun([&] { gribReader().readFile(path); }, 255, c.name.toStdString() + " " + c.said))
            << c.name.toStdString();
    }
}

TEST_F(GribTest, MissingInputFilesReadNothing)
{
    useTable("80,137,12,60", {variableRow("t", kIsobaric, "", "TMP")});
    for (const char* name : {"none.grib2", "none.gz", "none.bz2"}) {
        gribReader r;
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(r.readFile(m_dir.path() + "/" + name));
        EXPECT_NE(::testing::internal::GetCapturedStderr().find(name), std::string::npos);
        EXPECT_TRUE(r.m_cache[0].empty());
    }
}

TEST(GribAreaCut, GridSizesAndNearestCells)
{
    std::vector<double> lon = {80.0, 80.26, 80.37, 137.0, 137.2, 79.8}, lat = {12, 12, 12.12, 60, 60, 12};
    std::vector<double> values = {1, 2, 3, 4, 5, 6};
    std::vector<double> outLon, outLat, out;
    const float area[4] = {80, 12, 137, 60};
    ASSERT_TRUE(gribReader::dataConvert(lon, lat, values, outLon, outLat, out, area, 0.25f, 0.25f, -1));
    ASSERT_EQ(outLon.size(), 229u);
    ASSERT_EQ(outLat.size(), 193u);
    ASSERT_EQ(out.size(), 229u * 193u);
    // 79.8 rounds to column -1 and is dropped; 80.26 goes to column 1, 80.37 to column 1 of row 0
    // (12.12 rounds to row 0) and replaces it.
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 3);
    EXPECT_EQ(out[2], -1);
    EXPECT_EQ(out[192 * 229 + 228], 4);  // 137.2 rounds to column 229, outside: dropped
    EXPECT_FLOAT_EQ(static_cast<float>(outLon[228]), 137.0f);

    // Counts single precision leaves a hair below a whole number keep the
    // grid's last column and row: 15 degrees by 0.15, 9 by 0.09, 30 by 0.3.
    for (const float step : {0.15f, 0.09f, 0.3f, 0.36f}) {
        const float span = std::round(100 * step) / 1.0f;
        const float grid[4] = {100, 10, 100 + span, 10 + span};
        AreaGrid g;
        ASSERT_TRUE(g.define(grid, step, step)) << step;
        EXPECT_EQ(g.columns(), 101) << step;
        EXPECT_EQ(g.rows(), 101) << step;
    }

    // Areas that give no grid, or an absurd one, are refused without allocating.
    const float reversed[4] = {80, 60, 137, 12};
    EXPECT_FALSE(gribReader::dataConvert(lon, lat, values, outLon, outLat, out, reversed, 0.25f, 0.25f, -1));
    const float beyondATurn[4] = {137, 12, -300, 60};
    EXPECT_FALSE(gribReader::dataConvert(lon, lat, values, outLon, outLat, out, beyondATurn, 0.25f, 0.25f, -1));
    EXPECT_FALSE(gribReader::dataConvert(lon, lat, values, outLon, outLat, out, area, 1e-6f, 1e-6f, -1));
    EXPECT_FALSE(gribReader::dataConvert(lon, lat, values, outLon, outLat, out, area, NAN, NAN, -1));

    // A lowered limit refuses the 229 x 193 area above it and takes it back
    // at it; 0 restores the program's own.
    const std::pair<long long, bool> limits[] = {{229LL * 193 - 1, false}, {229LL * 193, true}, {0, true}};
    for (const auto& [limit, accepted] : limits) {
        AreaGrid::setMaxCells(limit);
        EXPECT_EQ(gribReader::dataConvert(lon, lat, values, outLon, outLat, out, area, 0.25f, 0.25f, -1), accepted)
            << limit;
    }
    EXPECT_EQ(AreaGrid::maxCells(), kMaxAreaCells);
}

TEST(GribAreaCut, ColumnsOfALongitudeAcrossTheAntimeridianAndRoundTheGlobe)
{
    // A point goes to its nearest column (halves upward), tried as given and
    // one turn east and west; only where the cells reach round the globe
    // does a meridian have two columns, one at each end.
    const struct {
        float area[4];
        float step;
        long long columns;
        double lon;
        std::vector<long long> expected;
    } cases[] = {
        {{170, 0, -170, 10}, 2.5f, 9, -175, {6}},
        {{170, 0, -170, 10}, 2.5f, 9, 168.75, {0}},
        {{170, 0, -170, 10}, 2.5f, 9, -168.75, {}},
        {{-180, 0, 180, 10}, 1, 361, 180, {360, 0}},
        {{-180, 0, 180, 10}, 1, 361, 179.5, {360, 0}},
        {{-180, 0, 180, 10}, 1, 361, -179.5, {1}},
        {{0, 0, 360, 10}, 1, 361, 0, {0, 360}},
        {{0, 0, 360, 10}, 1, 361, -180, {180}},
        {{-180, 0, 180, 10}, 0.7f, 515, 180, {514, 0}},
        // Cells that end where the turn ends keep one column per point,
        // also when single precision leaves a step that divides the turn a
        // hair long.
        {{0, 0, 359.75f, 10}, 0.25f, 1440, 359.875, {0}},
        {{0, 0, 359.9f, 10}, 0.1f, 3600, 359.95, {3599}},
    };
    for (const auto& c : cases) {
        AreaGrid grid;
        ASSERT_TRUE(grid.define(c.area, c.step, c.step)) << c.area[0] << ".." << c.area[2];
        EXPECT_EQ(grid.columns(), c.columns) << c.area[0] << ".." << c.area[2];
        long long found[kMaxColumnsOfAPoint];
        const int n = grid.columnsOf(c.lon, found);
        EXPECT_EQ(std::vector<long long>(found, found + n), c.expected)
            << c.lon << " on " << c.area[0] << ".." << c.area[2] << " by " << c.step;
    }
}
