// Damaged inputs of every kind, run through the program: each one ends with
// its own status and a message on standard error, never with a crash or a
// hang, and an output that was there before is either left byte for byte as
// it was or replaced by a complete new file.
#include "support/gribfiles.h"
#include "support/modelfiles.h"
#include "support/ncfile.h"
#include "support/programdir.h"
#include "support/tables.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <grib_api.h>
#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

namespace {

struct BadCase {
    const char* name;
    QByteArray bytes;
    int status;           // the exit status the program must end with
    const char* message;  // text standard error must hold
    QString inputName = "input.dat";
};

// A small field inside the tables' area.
GribField smallField(int edition, const std::string& name = "t", long level = 850)
{
    GribField f;
    f.edition = edition;
    f.shortName = name;
    f.level = level;
    f.firstLon = 80;
    f.firstLat = 60;
    f.step = 5;
    f.ni = 12;
    f.nj = 10;
    fillPattern(f);
    return f;
}

QByteArray withBytes(QByteArray bytes, int at, const QByteArray& replacement)
{
    return bytes.replace(at, replacement.size(), replacement);
}

QByteArray u32be(uint32_t value)
{
    const char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, 4);
}

// Where a section of a GRIB 2 message starts.
int sectionAt(const QByteArray& g2, int number)
{
    int pos = 16;
    while (pos + 5 <= g2.size() && g2[pos + 4] != char(number)) {
        const uint32_t length = uint32_t(uint8_t(g2[pos])) << 24 | uint32_t(uint8_t(g2[pos + 1])) << 16 |
                                uint32_t(uint8_t(g2[pos + 2])) << 8 | uint8_t(g2[pos + 3]);
        pos += static_cast<int>(length);
    }
    return pos;
}

uint64_t le(const QByteArray& bytes, int at, int width)
{
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | uint8_t(bytes[at + i]);
    return value;
}

// A netCDF-4 file whose HDF5 global heap (where the dimension lists live)
// gives an object another size: its last object 285 MB, which the HDF5
// library copies out of a heap of a few kilobytes when it reads the object,
// or the free space after it none, on which the library walks the heap for
// ever.
enum class HeapDamage { OversizedObject, EmptyFreeSpace };
QByteArray withDamagedHeap(const QByteArray& nc, HeapDamage damage)
{
    const int heap = nc.indexOf("GCOL");
    if (heap < 0 || heap + 16 > nc.size())
        return {};
    const uint64_t end = std::min<uint64_t>(heap + le(nc, heap + 8, 8), nc.size());
    int last = -1;
    uint64_t pos = heap + 16;
    for (; pos + 16 <= end && le(nc, int(pos), 2) != 0; pos += 16 + (le(nc, int(pos) + 8, 8) + 7) / 8 * 8)
        last = int(pos);
    if (damage == HeapDamage::EmptyFreeSpace)
        return pos + 16 <= end ? withBytes(nc, int(pos), QByteArray(16, 0)) : QByteArray();
    if (last < 0)
        return {};
    const char size[8] = {8, 0, 0, 0x11, 0, 0, 0, 0};
    return withBytes(nc, last + 8, QByteArray(size, 8));
}

// One of ecCodes' bundled samples as it stands.
QByteArray sampleMessage(const char* sample)
{
    return takeMessage(grib_handle_new_from_samples(nullptr, sample));
}

// A message packed again by ecCodes in another way (a packingType).
QByteArray repacked(const QByteArray& message, const char* packingType)
{
    grib_handle* h = grib_handle_new_from_message_copy(nullptr, message.constData(), static_cast<size_t>(message.size()));
    if (!h)
        return {};
    size_t length = std::strlen(packingType);
    if (grib_set_string(h, "packingType", packingType, &length) != 0) {
        grib_handle_delete(h);
        return {};
    }
    return takeMessage(h);
}

// An edition-1 reduced-grid message whose first row counts no points: the
// list of points per row starts at the grid section's octet 5, after the
// 8-byte indicator and the product section.
QByteArray withEmptyFirstRow(const QByteArray& g1)
{
    const int grid = 8 + (uint8_t(g1[8]) << 16 | uint8_t(g1[9]) << 8 | uint8_t(g1[10]));
    return withBytes(g1, grid + uint8_t(g1[grid + 4]) - 1, QByteArray(2, '\0'));
}

// A netCDF file built by `define` (in define mode) and `fill` (in data mode).
QByteArray netcdfBytes(const QString& dir, const std::function<void(int)>& define,
                       const std::function<void(int)>& fill = nullptr, int format = NC_NETCDF4)
{
    const QString path = dir + "/made.nc";
    QFile::remove(path);
    int nc = -1;
    if (nc_create(path.toUtf8().constData(), format | NC_CLOBBER, &nc) != NC_NOERR)
        return {};
    define(nc);
    nc_enddef(nc);
    if (fill)
        fill(nc);
    nc_close(nc);
    const QByteArray bytes = readAll(path);
    QFile::remove(path);
    return bytes;
}

int defAxis(int nc, const char* name, size_t length, const char* longName, int* dim)
{
    nc_def_dim(nc, name, length, dim);
    int var = -1;
    nc_def_var(nc, name, NC_FLOAT, 1, dim, &var);
    if (longName)
        nc_put_att_text(nc, var, "long_name", std::strlen(longName), longName);
    return var;
}

void putFloats(int nc, const char* name, const std::vector<float>& values)
{
    int var = -1;
    if (nc_inq_varid(nc, name, &var) == NC_NOERR)
        nc_put_var_float(nc, var, values.data());
}

class BadInput : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_program = new ProgramDir;
        const QStringList rows = {variableRow("t", "Isobaric surface", "", "TMP"),
                                  variableRow("u", "", "", "U"), variableRow("t2", "", "", "T2"),
                                  variableRow("tbb", "", "", "TBB"), variableRow("dbz", "", "", "DBZ")};
        for (const char* type : {"grib", "cpefs", "grapscm", "cctv_ec", "cpas_bin", "latlon", "tjwrf_nc"}) {
            s_program->writeConfig(QString("%1.csv").arg(type), tableText(QString(",0,%1,2.0").arg(type), "80,137,12,60", rows));
            s_program->writeConfig(QString("%1-merge.csv").arg(type),
                                   tableText(QString(",1,%1,2.0").arg(type), "80,137,12,60", rows));
        }
        // The output every case starts from: a complete file of an earlier run.
        writeBytes(s_program->file("good.grib"), gribMessage(smallField(2)));
        const RunResult r = s_program->run({"-i", s_program->file("good.grib"), "-o", s_program->file("before.nc"),
                                            "-s", "grib.csv"});
        s_before = new QByteArray(readAll(s_program->file("before.nc")));
        // Said by every test (a failed assertion here would only skip them).
        if (r.exitCode != 0 || s_before->isEmpty())
            s_setUpFailure = "the earlier output could not be made: " + r.err.toStdString();
    }
    void SetUp() override { ASSERT_TRUE(s_setUpFailure.empty()) << s_setUpFailure; }
    static void TearDownTestSuite()
    {
        delete s_program;
        delete s_before;
    }

    // Runs the program on the case's input with the given table, over a
    // copy of the earlier output.
    void convert(const BadCase& c, const QString& table)
    {
        const QString input = s_program->file(c.inputName);
        ASSERT_TRUE(writeBytes(input, c.bytes));
        check(c, {"-i", input, "-o", output(), "-s", table});
        QFile::remove(input);
    }

    // Runs the program with the arguments over a copy of the earlier output.
    void check(const BadCase& c, const QStringList& arguments) { check(c, arguments, *s_before); }

    // As above over an earlier output of the given bytes.
    void check(const BadCase& c, const QStringList& arguments, const QByteArray& before)
    {
        SCOPED_TRACE(c.name);
        QFile::remove(output());
        QFile::remove(output() + ".tmp");
        ASSERT_TRUE(writeBytes(output(), before));
        const RunResult r = s_program->run(arguments, QString(), 30000);
        EXPECT_FALSE(r.crashed) << r.err.toStdString();
        EXPECT_EQ(r.exitCode, c.status) << r.err.toStdString();
        // A failed -p or -u job says why on standard output, as its other lines.
        const QString said = c.status == 1 ? r.out + r.err : r.err;
        EXPECT_TRUE(said.contains(QString::fromUtf8(c.message)))
            << "standard error: " << r.err.toStdString() << "\nstandard output: " << r.out.toStdString();
        if (c.status != 0) {
            EXPECT_TRUE(readAll(output()) == before) << "the earlier output changed";
        } else {
            NcFile nc(output());
            EXPECT_TRUE(nc.ok()) << "the new output cannot be read";
        }
        EXPECT_FALSE(QFile::exists(output() + ".tmp")) << "the lock was left behind";
    }

    static QString output() { return s_program->file("out.nc"); }

    static ProgramDir* s_program;
    static QByteArray* s_before;
    static inline std::string s_setUpFailure;
};

ProgramDir* BadInput::s_program = nullptr;
QByteArray* BadInput::s_before = nullptr;

}  // namespace

TEST_F(BadInput, Tables)
{
    const QString row = variableRow("t", "Isobaric surface", "", "TMP");
    const std::vector<BadCase> cases = {
        {"empty table", "", 255, "too old"},
        {"title line only", "title\n", 255, "too old"},
        {"settings row without a version", tableText(",0", "80,137,12,60", {row}), 255, "too old"},
        {"version too old", tableText(",0,grib,1.0", "80,137,12,60", {row}), 255, "too old"},
        {"version too new", tableText(",0,grib,9.0", "80,137,12,60", {row}), 255, "too new"},
        {"area of three numbers", tableText(",0,grib,2.0", "80,137,12", {row}), 255, "area"},
        {"area of words", tableText(",0,grib,2.0", "east,west,south,north", {row}), 255, "area"},
        {"table ending in its settings row", tableText(",0,grib,2.0", "80,137,12,60", {}).left(60), 255, "too old"},
        {"binary bytes", QByteArray("\x00\xff\xfe\x01GRIB\x00\x00\x80", 12).repeated(50), 255, "too old"},
        {"variable row of five columns", tableText(",0,grib,2.0", "80,137,12,60", {"t,T,Isobaric surface,,x"}), 255,
         ""},
        {"area of a billion cells", tableText(",0,grib,2.0", "-1e9,1e9,-1e9,1e9", {row}), 3, "cannot be placed"},
    };
    const QString input = s_program->file("good.grib");
    for (const BadCase& c : cases) {
        s_program->writeConfig("bad.csv", c.bytes);
        check(c, {"-i", input, "-o", output(), "-s", "bad.csv"});
    }
    check({"missing table", "", 255, "read  config error"}, {"-i", input, "-o", output(), "-s", "nosuch.csv"});
}

TEST_F(BadInput, TableUpgrades)
{
    const std::vector<BadCase> cases = {
        {"row of ten fields", "t\ns\n,0,grib,2.0\na\n80,137,12,60\ng\nc\nt,T,Isobaric surface,pl,TMP,850,A,K,,\n", 1,
         "config file format error"},
        {"binary bytes", QByteArray("\x00\xff,\xfe\x01\n", 6).repeated(40), 1, "config file format error"},
        {"empty old table", "", 0, ""},
    };
    for (const BadCase& c : cases) {
        ASSERT_TRUE(writeBytes(s_program->file("old.csv"), c.bytes));
        check(c, {"-u", "old.csv"});
    }
    check({"missing old table", "", 1, "old.csv"}, {"-u", "nosuch-old.csv"});
}

TEST_F(BadInput, GribFiles)
{
    const QByteArray g2 = gribMessage(smallField(2));
    const QByteArray g1 = gribMessage(smallField(1));
    const QByteArray ones(8, '\xff');
    const QByteArray secondCutShort = "at byte " + QByteArray::number(g2.size()) + " claims";
    const QByteArray farCutShort = "at byte 70001 claims";
    const QByteArray grouped = repacked(g2, "grid_complex_spatial_differencing");
    ASSERT_TRUE(grouped.startsWith("GRIB"));
    GribField masked = smallField(2);
    masked.values[7] = 9999;
    const QByteArray reduced = sampleMessage("reduced_gg_pl_32_grib1");
    ASSERT_TRUE(reduced.startsWith("GRIB"));
    const std::vector<BadCase> cases = {
        {"empty file", "", 3, "holds no GRIB message"},
        {"magic only", "GRIB", 255, "ecCodes"},
        {"edition 2 cut after its indicator section", g2.left(16), 255, "is cut short"},
        {"edition 2 cut in the middle", g2.left(g2.size() / 2), 255, "is cut short"},
        {"edition 2 cut before its end marker", g2.left(g2.size() - 4), 255, "is cut short"},
        {"edition 2 with a damaged end marker", withBytes(g2, g2.size() - 4, "7778"), 255, "is damaged"},
        {"edition 2 with a section length off by three", withBytes(g2, 16, u32be(24)), 255, "is damaged"},
        {"edition 2 with section 1 numbered 4", withBytes(g2, 20, "\x04"), 255, "has section 4 after section 0"},
        {"edition 2 with bytes after 7777 inside its length", withBytes(g2 + QByteArray(4, '\0'), 12, u32be(g2.size() + 4)),
         255, "has section 0 after section 7"},
        {"edition 2 length of 2^64 - 1", withBytes(g2, 8, ones), 255, "claims 18446744073709551615 bytes"},
        {"edition 2 length one past the file", withBytes(g2, 12, u32be(g2.size() + 1)), 255, "is cut short"},
        {"edition 2 length of zero", withBytes(g2, 8, QByteArray(8, '\0')), 255, "ecCodes"},
        {"edition 3", withBytes(g2, 7, "\x03"), 255, "ecCodes"},
        {"edition 1 cut after its indicator section", g1.left(8), 255, "is cut short"},
        {"edition 1 cut in the middle", g1.left(g1.size() / 2), 255, "is cut short"},
        {"edition 1 length of 2^24 - 1", withBytes(g1, 4, ones.left(3)), 255, "ecCodes"},
        // Ni and Nj of a latitude/longitude grid: octets 31 to 38 of section 3.
        {"edition 2 grid of 2^31 - 1 columns", withBytes(g2, sectionAt(g2, 3) + 30, u32be(0x7ffffffe)), 3,
         "has a grid of 2147483646 x 10 but 120 points"},
        {"edition 2 grid of 2^31 - 1 rows", withBytes(g2, sectionAt(g2, 3) + 34, u32be(0x7ffffffe)), 3,
         "has a grid of 12 x 2147483646 but 120 points"},
        {"edition 2 grid of no rows", withBytes(g2, sectionAt(g2, 3) + 34, u32be(0)), 3,
         "has a grid of 12 x 0 but 120 points"},
        {"edition 2 grid of 2^31 - 1 points and its bitmap of 120 bits",
         withBytes(gribMessage(masked), sectionAt(gribMessage(masked), 3) + 6, u32be(0x7fffffff)), 255,
         "holds 120 bits for 2147483647 points"},
        {"edition 2 field coding 2^31 - 1 values on 120 points", withBytes(g2, sectionAt(g2, 5) + 5, u32be(0x7fffffff)),
         255, "codes 2147483647 values for 120 points"},
        {"edition 2 packed by groups", grouped, 0, ""},
        // Octets 32 to 35 of section 5 count the groups, octet 37 gives the
        // bits of a group width.
        {"edition 2 packed in 2^31 - 1 groups", withBytes(grouped, sectionAt(grouped, 5) + 31, u32be(0x7fffffff)), 255,
         "packs 120 values in 2147483647 groups"},
        {"edition 2 packed with group widths of 40 bits", withBytes(grouped, sectionAt(grouped, 5) + 36, "\x28"), 255,
         "fields of more than 32 bits"},
        {"edition 2 packed by groups cut inside its values",
         withBytes(grouped.left(sectionAt(grouped, 7) + 20) + "7777", 12,
                   u32be(static_cast<uint32_t>(sectionAt(grouped, 7) + 24))),
         255, "is damaged"},
        {"edition 2 field taking the bitmap of an earlier field it does not have",
         withBytes(g2, sectionAt(g2, 6) + 5, "\xfe"), 255, "takes the bitmap of an earlier field"},
        {"edition 1 reduced grid with a row of no points", withEmptyFirstRow(reduced), 3,
         "has a reduced grid with a row of no points"},
        {"garbage before a message", QByteArray(1000, 'x') + g2, 0, ""},
        {"a message and a TIDE product of an empty first section", g2 + "TIDE" + QByteArray(60, '\0'), 255,
         "the TIDE product at byte"},
        {"garbage before a truncated message", QByteArray(70001, 'x') + g2.left(100), 255, farCutShort.constData()},
        {"a message and a truncated one", g2 + g1.left(40), 255, secondCutShort.constData()},
        {"text without a message", QByteArray("no grib here\n").repeated(100), 3, "holds no GRIB message"},
    };
    for (const BadCase& c : cases)
        convert({c.name, c.bytes, c.status, c.message, "input.grib"}, "grib.csv");

    const QByteArray gz = gzipBytes(g2 + g1);
    const QByteArray bz = bzip2Bytes(g2 + g1);
    const std::vector<BadCase> compressed = {
        {"gz that is not gzip, read as it stands", g2, 0, "is not gzip-compressed", "input.grib.gz"},
        // Damaged or cut short: nothing of the input is used, whatever came
        // before the damage.
        {"gz cut in the middle", gz.left(gz.size() / 2), 255, "is damaged (", "input.grib.gz"},
        {"gz cut after its last message", gz.left(gz.size() - 4), 255, "unexpected end of file", "input.grib.gz"},
        {"gz with a byte changed", withBytes(gz, gz.size() / 2, QByteArray(1, char(gz[gz.size() / 2] ^ 0x10))), 255,
         "is damaged (", "input.grib.gz"},
        {"gz of a truncated message", gzipBytes(g2.left(100)), 255, "is cut short", "input.grib.gz"},
        {"gz with garbage after the stream", gz + QByteArray(100, 'z'), 0, "", "input.grib.gz"},
        {"gz header only", gz.left(10), 255, "is damaged", "input.grib.gz"},
        {"bz2 that is not bzip2", g2, 255, "is damaged", "input.grib.bz2"},
        {"bz2 cut in the middle", bz.left(bz.size() / 2), 255, "is damaged", "input.grib.bz2"},
        {"bz2 with a damaged block", withBytes(bz, bz.size() / 2, "\x55\xaa\x55\xaa"), 255, "is damaged", "input.grib.bz2"},
        {"bz2 magic only", "BZh9", 255, "is damaged", "input.grib.bz2"},
    };
    for (const BadCase& c : compressed)
        convert(c, "grib.csv");

    // Tables generated from damaged files.
    for (const BadCase& c : {BadCase{"probe of a truncated message", g2.left(g2.size() / 2), 255, "is cut short", "probe.grib"},
                             BadCase{"probe of a gz cut short", gz.left(gz.size() - 4), 255, "is damaged", "probe.grib.gz"},
                             BadCase{"probe of a gz that is not gzip, read as it stands", g2, 0, "is not gzip-compressed", "probe.grib.gz"}}) {
        ASSERT_TRUE(writeBytes(s_program->file(c.inputName), c.bytes));
        QFile::remove(s_program->file(c.inputName) + ".csv");
        check(c, {"-p", s_program->file(c.inputName)});
        EXPECT_EQ(QFile::exists(s_program->file(c.inputName) + ".csv"), c.status == 0) << c.name;
    }

    // Paths that are no files are refused before anything reads them: a
    // FIFO would wait for a writer for ever.
    const QString directory = s_program->file("directory.grib"), fifo = s_program->file("fifo.grib");
    ASSERT_TRUE(QDir().mkpath(directory));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const auto& [path, what] : {std::make_pair(directory, "a directory"), std::make_pair(fifo, "a FIFO")}) {
        const std::string refused = QString("is %1, not a file").arg(what).toStdString();
        check({"input that is no file", {}, 3, refused.c_str()}, {"-i", path, "-o", output(), "-s", "grib.csv"});
        check({"input that is no file, among others", {}, 0, refused.c_str()},
              {"-i", path, "-i", s_program->file("good.grib"), "-o", output(), "-s", "grib.csv"});
        check({"probe of a path that is no file", {}, 1, refused.c_str()}, {"-p", path});
    }
}

TEST_F(BadInput, RecordFiles)
{
    const QByteArray bz = bzip2Bytes(records(2, 301 * 181, recordValue));
    const std::vector<std::pair<BadCase, QString>> cases = {
        {{"cpefs empty file", "", 0, "is short"}, "cpefs.csv"},
        {{"cpefs bz2 that is not bzip2", records(1, 100, recordValue), 0, "is short", "input.bz2"}, "cpefs.csv"},
        {{"cpefs bz2 cut in the middle", bz.left(bz.size() / 2), 0, "is short", "input.bz2"}, "cpefs.csv"},
        {{"grapscm bz2 magic only", "BZh9", 0, "is short", "input.bz2"}, "grapscm.csv"},
        {{"grapscm short plain file", records(1, 1000, recordValue), 0, "is short"}, "grapscm.csv"},
    };
    for (const auto& [c, table] : cases)
        convert(c, table);
}

TEST_F(BadInput, CctvFiles)
{
    const QByteArray good = cctvFile("104", "a b c d e 24 850", "", "4 3 100 103 30 32 1 1", std::vector<float>(12, 7.0f));
    const QString name = "echirs_t2_2021061500_024.dat";
    const std::vector<BadCase> cases = {
        {"empty file", "", 3, "shorter than its identification", name},
        {"identification only", good.left(120), 3, "shorter than its header", name},
        {"cut in the second header line", good.left(250), 3, "shorter than its header", name},
        {"grid of 2^20 x 2^20", cctvFile("104", "a b c d e 24 850", "", "1048576 1048576 100 103 30 32 1 1", {1, 2}), 3, "does not fit the file",
         name},
        {"negative grid", cctvFile("104", "a b c d e 24 850", "", "-4 3 100 103 30 32 1 1", {1, 2}), 3, "does not fit the file", name},
        {"unknown format", cctvFile("999", "a b c d e 24 850", "", "4 3 100 103 30 32 1 1", {1, 2}), 3, "format 999", name},
        {"name of no known kind", good, 3, "does not have the form", "other_t2_x.dat"},
        {"fewer values than the grid", good.left(good.size() - 20), 0, "is short: 5 values", name},
        {"wind of fewer values than its two grids", cctvFile("113", "a b c d e 3 10", "1 1 100 101 30 31 2 2", "", {1, 2, 3}),
         3, "", "zc_mwf_wind10_x.dat"},
    };
    for (const BadCase& c : cases)
        convert(c, "cctv_ec.csv");
}

TEST_F(BadInput, CpasFiles)
{
    const std::vector<BadCase> cases = {
        {"five bytes", "short", 3, "shorter than its header", "a.bin"},
        {"header cut", cpasFile(4, 2, 70, 10, 78, 12, 0).left(20), 3, "shorter than its header", "a.bin"},
        {"negative width", cpasFile(-4, 2, 70, 10, 78, 12, 0), 3, "does not fit the file", "a.bin"},
        {"zero height", cpasFile(4, 0, 70, 10, 78, 12, 1), 3, "does not fit the file", "a.bin"},
        {"grid of 2^20 x 2^20", cpasFile(1 << 20, 1 << 20, 70, 10, 78, 12, 0), 3, "does not fit the file", "a.bin"},
        {"records cut in the middle", cpasFile(4, 2, 70, 10, 78, 12, 9, 50), 0, "is short", "a.bin"},
    };
    for (const BadCase& c : cases)
        convert(c, "cpas_bin.csv");
}

TEST_F(BadInput, LatlonFiles)
{
    const std::vector<BadCase> cases = {
        {"header cut", latlonHeader(2, 3, 10, 0, 500, false).left(100), 3, "shorter than its header", "r.bin"},
        {"negative rows", latlonHeader(-2, 3, 10, 0, 500, false) + shorts({1, 2, 3}), 3, "does not fit the file", "r.bin"},
        {"grid of 10^10 cells", latlonHeader(100000, 100000, 1, 0, 1, false) + shorts({1, 2}), 3, "does not fit the file", "r.bin"},
        {"runs past the grid", latlonHeader(2, 3, 1, 1, 1, false) + shorts({1, 1, 4, 7, 8, 9, 10}), 0, "past the grid", "r.bin"},
        {"packed grid of 2^40 cells", latlonHeader(1 << 20, 1 << 20, 1, 1, 1, false) + shorts({-1, -1, -1}), 3, "does not fit the file",
         "r.bin"},
        {"a further level announced but absent", latlonHeader(2, 3, 10, 0, 500, true) + shorts({1, 2, 3, 4, 5, 6}), 0,
         "ends before the level", "r.bin"},
        {"values cut", latlonHeader(2, 3, 10, 0, 500, false) + shorts({1, 2}), 3, "does not fit the file", "r.bin"},
    };
    for (const BadCase& c : cases)
        convert(c, "latlon.csv");
}

TEST_F(BadInput, NetcdfModelFiles)
{
    const QString dir = s_program->path();
    auto model = [&](bool units, bool coordinates, size_t latValues) {
        return netcdfBytes(
            dir,
            [&](int nc) {
                int dims[2];
                if (coordinates) {
                    const float fill = -999.0f;
                    for (int axis : {defAxis(nc, "lat", 3, nullptr, &dims[0]), defAxis(nc, "lon", 4, nullptr, &dims[1])}) {
                        nc_put_att_text(nc, axis, "units", 3, "deg");
                        nc_put_att_float(nc, axis, "_FillValue", NC_FLOAT, 1, &fill);
                    }
                } else {
                    nc_def_dim(nc, "lat", 3, &dims[0]);
                    nc_def_dim(nc, "lon", 4, &dims[1]);
                }
                int var = -1;
                nc_def_var(nc, "t2", NC_FLOAT, 2, dims, &var);
                if (units)
                    nc_put_att_text(nc, var, "units", 1, "K");
                const float fill = -999.0f;
                nc_put_att_float(nc, var, "_FillValue", NC_FLOAT, 1, &fill);
            },
            [&](int nc) {
                putFloats(nc, "lat", std::vector<float>(latValues, 30.0f));
                putFloats(nc, "lon", {100, 101, 102, 103});
                putFloats(nc, "t2", std::vector<float>(12, 280.0f));
            });
    };
    const QByteArray good = model(true, true, 3);
    const QByteArray classic = netcdfBytes(
        dir, [](int nc) { int d; defAxis(nc, "lat", 3, nullptr, &d); }, nullptr, NC_CLASSIC_MODEL);
    const QByteArray cdf5 = netcdfBytes(
        dir, [](int nc) { int d; defAxis(nc, "lat", 3, nullptr, &d); }, nullptr, NC_64BIT_DATA);
    // A variable "t" over "lat": its type follows its name, dimension and
    // empty attribute list at byte 68.
    const QByteArray classicVariable = netcdfBytes(
        dir,
        [](int nc) {
            int d, v;
            nc_def_dim(nc, "lat", 3, &d);
            nc_def_var(nc, "t", NC_FLOAT, 1, &d, &v);
        },
        nullptr, NC_CLASSIC_MODEL);
    ASSERT_TRUE(classic.startsWith("CDF\x01"));
    ASSERT_TRUE(cdf5.startsWith("CDF\x05"));
    ASSERT_EQ(classicVariable.mid(68, 4), u32be(NC_FLOAT));
    // The first dimension's name length follows the magic, the record count
    // and the list's tag and count: 4-byte fields in CDF-1, 8-byte counts in CDF-5.
    const QByteArray longName1 = withBytes(classic, 16, u32be(2816));
    const QByteArray longName5 = withBytes(cdf5, 24, QByteArray(4, '\0') + u32be(2816));
    const QString name = "model_2021061500-012.nc";
    const std::vector<BadCase> cases = {
        {"classic file naming a dimension of 2816 bytes", longName1, 2, "holds a name of 2816 bytes", name},
        {"CDF-5 file naming a dimension of 2816 bytes", longName5, 2, "holds a name of 2816 bytes", name},
        // The global attributes follow the one dimension ("lat", 3) at byte 28.
        {"classic file counting 754974725 global attributes", withBytes(classic, 28, u32be(0x0C) + u32be(0x2d000005)), 2,
         "its header runs past the end of the file", name},
        // An empty list the library takes whatever its tag, before a variable
        // (at byte 44) of 2^30 dimensions.
        {"classic file with a stray tag on no attributes and a variable of 2^30 dimensions",
         withBytes(withBytes(classic, 28, u32be(0x1500)), 52, u32be(0x40000000)), 2,
         "its header runs past the end of the file", name},
        {"classic file with a variable of strings", withBytes(classicVariable, 68, u32be(NC_STRING)), 2,
         "gives a variable the type string", name},
        {"text that is not netCDF", QByteArray("netcdf model {\n").repeated(20), 2, "netCDF", name},
        {"empty file", "", 2, "netCDF", name},
        {"netCDF-4 file cut after 200 bytes", good.left(200), 2, "netCDF", name},
        {"netCDF-4 file cut in the middle", good.left(good.size() / 2), 2, "netCDF", name},
        {"classic file cut", classic.left(classic.size() - 8), 2, "netCDF", name},
        {"variable without units", model(false, true, 3), 2, "Attribute not found", name},
        {"axes without coordinate variables", model(true, false, 3), 3, "no longitude or latitude values", name},
        {"name without a time", good, 0, "no initial time and forecast hour", "model.nc"},
    };
    for (const BadCase& c : cases)
        convert(c, "tjwrf_nc.csv");
}

TEST_F(BadInput, OutputsToMerge)
{
    const QString dir = s_program->path();
    // An output in the writer's layout: `name` (on isobaric surfaces when
    // TMP) over the latitude and longitude axes and, when `further` is not
    // negative, a further dimension of that length, with the writer's
    // attributes but those `spoil` leaves out.
    enum Spoil { None = 0, NoAxisNames = 1, NoFill = 2, NoTimes = 4, NoLonVariable = 8 };
    auto output = [&](int spoil, const char* name = "TMP", int further = -1) {
        const size_t values = 12 * static_cast<size_t>(std::max(further, 1));
        return netcdfBytes(
            dir,
            [&](int nc) {
                int dims[3];
                defAxis(nc, "g0_lat_0", 3, spoil & NoAxisNames ? nullptr : "latitude", &dims[0]);
                if (spoil & NoLonVariable)
                    nc_def_dim(nc, "g0_lon_0", 4, &dims[1]);
                else
                    defAxis(nc, "g0_lon_0", 4, spoil & NoAxisNames ? nullptr : "longitude", &dims[1]);
                if (further >= 0)
                    nc_def_dim(nc, "x", static_cast<size_t>(further), &dims[2]);
                int var = -1;
                nc_def_var(nc, name, NC_FLOAT, further >= 0 ? 3 : 2, dims, &var);
                auto text = [&](const char* attribute, const char* value) {
                    nc_put_att_text(nc, var, attribute, std::strlen(value), value);
                };
                const int zero = 0;
                const float fill = 9999.0f;
                text("long_name", "temperature");
                text("units", "K");
                if (!(spoil & NoTimes)) {
                    text("initial_time", "202106150000");
                    nc_put_att_int(nc, var, "forcast_time", NC_INT, 1, &zero);
                }
                text("nameOfFirstFixedSurface", std::strcmp(name, "TMP") == 0 ? "Isobaric surface" : "");
                text("indicatorOfTypeOfLevel", "");
                if (!(spoil & NoFill))
                    nc_put_att_float(nc, var, "_FillValue", NC_FLOAT, 1, &fill);
                nc_put_att_int(nc, var, "calByKVL", NC_INT, 1, &zero);
            },
            [&](int nc) {
                putFloats(nc, "g0_lat_0", {30, 31, 32});
                putFloats(nc, "g0_lon_0", {100, 101, 102, 103});
                if (further != 0)
                    putFloats(nc, name, std::vector<float>(values, 280.0f));
            });
    };
    // An output as `edit` (given the open file, in define mode, and its
    // variable count) leaves it; `edit` says how many variables it changed.
    auto edited = [&](const QByteArray& before, const std::function<int(int, int)>& edit) {
        const QString path = dir + "/edited.nc";
        if (!writeBytes(path, before))
            return QByteArray();
        int nc = -1, nvars = 0;
        EXPECT_EQ(nc_open(path.toUtf8().constData(), NC_WRITE, &nc), NC_NOERR);
        nc_redef(nc);
        nc_inq_nvars(nc, &nvars);
        EXPECT_GT(edit(nc, nvars), 0) << "nothing was changed";
        EXPECT_EQ(nc_close(nc), NC_NOERR);
        const QByteArray bytes = readAll(path);
        QFile::remove(path);
        return bytes;
    };
    // Each variable's `name` attribute made 64 values: only the first counts.
    auto manyValues = [&](const char* name) {
        return edited(*s_before, [name](int nc, int nvars) {
            int replaced = 0;
            for (int var = 0; var < nvars; ++var) {
                double first = 0;
                nc_type type = NC_NAT;
                if (nc_inq_atttype(nc, var, name, &type) != NC_NOERR ||
                    nc_get_att_double(nc, var, name, &first) != NC_NOERR)
                    continue;
                const std::vector<double> values(64, first);
                replaced += nc_put_att_double(nc, var, name, type, values.size(), values.data()) == NC_NOERR;
            }
            return replaced;
        });
    };
    // An output of the field on the isobaric levels 850 and 500, every level
    // then made NaN.
    QStringList levelRow = variableRow("t", "Isobaric surface", "", "TMP").split(",");
    levelRow[14] = "850;500";
    ASSERT_TRUE(writeBytes(s_program->file("levels.grib"),
                           gribMessage(smallField(2, "t", 850)) + gribMessage(smallField(2, "t", 500))));
    s_program->writeConfig("grib-levels.csv", tableText(",0,grib,2.0", "80,137,12,60", {levelRow.join(",")}));
    s_program->writeConfig("grib-levels-merge.csv", tableText(",1,grib,2.0", "80,137,12,60", {levelRow.join(",")}));
    const RunResult levelRun = s_program->run({"-i", s_program->file("levels.grib"), "-o", s_program->file("levels.nc"),
                                               "-s", "grib-levels.csv"});
    ASSERT_EQ(levelRun.exitCode, 0) << levelRun.err.toStdString();
    const QByteArray nanLevels = edited(readAll(s_program->file("levels.nc")), [](int nc, int nvars) {
        nc_enddef(nc);
        int replaced = 0;
        for (int var = 0; var < nvars; ++var) {
            size_t length = 0;
            char text[64] = {};
            int dim = -1;
            if (nc_inq_attlen(nc, var, "long_name", &length) != NC_NOERR || length >= sizeof text ||
                nc_get_att_text(nc, var, "long_name", text) != NC_NOERR || std::strcmp(text, "isobaric level") != 0 ||
                nc_inq_vardimid(nc, var, &dim) != NC_NOERR || nc_inq_dimlen(nc, dim, &length) != NC_NOERR)
                continue;
            const std::vector<float> values(length, std::nanf(""));
            replaced += nc_put_var_float(nc, var, values.data()) == NC_NOERR;
        }
        return replaced;
    });
    const std::vector<BadCase> cases = {
        {"output with 64 KVL marks per variable", manyValues("calByKVL"), 0, ""},
        {"output with 64 forecast times per variable", manyValues("forcast_time"), 0, ""},
        {"output that is not netCDF", QByteArray("not a netCDF file\n").repeated(30), 2, "netCDF"},
        {"empty output", "", 2, "netCDF"},
        {"output cut in the middle", s_before->left(s_before->size() / 2), 2, "netCDF"},
        {"output cut after its signature", s_before->left(8), 2, "netCDF"},
        {"output with an object of its HDF5 heap past the heap",
         withDamagedHeap(*s_before, HeapDamage::OversizedObject), 2, "the netCDF library fails on its header"},
        {"output whose HDF5 heap has free space of no bytes", withDamagedHeap(*s_before, HeapDamage::EmptyFreeSpace),
         2, "the netCDF library does not finish reading its header within 10 s"},
        {"output whose axes have no names", output(NoAxisNames), 2, "Attribute not found"},
        {"output variable without a fill value", output(NoFill), 2, "Attribute not found"},
        {"output variable without its time attributes", output(NoTimes), 2, "Attribute not found"},
        {"output in the writer's layout", output(None, "U"), 0, ""},
        // Variables the table names that cannot be read back end the run;
        // those it no longer names are left out.
        {"output variable over a longitude without a coordinate variable", output(NoLonVariable), 2,
         "out.nc: variable TMP has no longitude or latitude values"},
        {"output variable over a further dimension of two entries", output(None, "TMP", 2), 2,
         "variable TMP does not have the shape of its axes (dimensions 3 x 4 x 2, axes 3 x 4)"},
        {"output variable over an empty further dimension", output(None, "TMP", 0), 2, "variable TMP has no values"},
        {"output variable the table does not name, of another shape", output(None, "OTHER", 2), 0, ""},
    };
    for (const BadCase& c : cases)
        check(c, {"-i", s_program->file("good.grib"), "-o", BadInput::output(), "-s", "grib-merge.csv"}, c.bytes);
    check({"output whose isobaric levels are not numbers", nanLevels, 0, "is not a level number"},
          {"-i", s_program->file("levels.grib"), "-o", BadInput::output(), "-s", "grib-levels-merge.csv"}, nanLevels);
}
