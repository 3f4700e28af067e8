// The fixed-layout model files, written byte by byte: tables, grids, value
// rules, compressed streams, short files and hostile headers.
#include "readers/cctvecreader.h"
#include "readers/cpasreader.h"
#include "readers/latlonreader.h"
#include "readers/modelfile.h"
#include "readers/ncinput.h"
#include "readers/recordreader.h"
#include "support/gribfiles.h"
#include "support/modelfiles.h"
#include "support/ncfile.h"
#include "support/programdir.h"
#include "support/tables.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <bzlib.h>

#include <cmath>
#include <cstring>
#include <functional>

namespace {

const std::vector<p_data>* entry(const baseReader& r, const std::string& key)
{
    const auto it = r.m_cache[0].find(key);
    return it == r.m_cache[0].end() ? nullptr : &it->second;
}

class ModelFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        g_forcastTime = -1;
    }
    QString file(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir.path() + "/" + name;
        EXPECT_TRUE(writeBytes(path, bytes));
        return path;
    }
    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(ModelFileTest, CompleteGrapsFileGivesEveryVariableAtEveryLevel)
{
    const size_t values = 301 * 181;
    QByteArray bytes = records(282, values, recordValue);
    // A value of 1e30 in record 0 becomes 99999.
    QByteArray huge;
    putF32(huge, 1.0e30f, true);
    bytes.replace(4 * 3, 4, huge);
    const QString path = file("graps.dat", bytes);

    grapsCmReader r;
    ::testing::internal::CaptureStdout();
    r.readFile(path);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "grapes\n2\n");
    EXPECT_EQ(r.m_cache[0].size(), 26u);
    const auto* u = entry(r, "u__");
    ASSERT_NE(u, nullptr);
    ASSERT_EQ(u->size(), 17u);
    EXPECT_EQ((*u)[0].level, 1000);
    EXPECT_EQ((*u)[16].level, 10);
    EXPECT_EQ((*u)[0].data[3], 99999.0);
    EXPECT_FLOAT_EQ((*u)[0].prop_fillValue, 99999.0f);
    EXPECT_EQ((*u)[0].data[2], 2.0);
    EXPECT_EQ((*u)[0].lon.size(), 301u);
    EXPECT_DOUBLE_EQ((*u)[0].lon.back(), 140.0);
    EXPECT_DOUBLE_EQ((*u)[0].lat.back(), 60.0);
    EXPECT_EQ((*u)[0].xnum, 301);
    EXPECT_EQ((*u)[0].ynum, 181);
    // Record 17 is v at 1000; record 272 the first surface variable.
    EXPECT_EQ(entry(r, "v__")->front().data[0], 170.0);
    const auto* ps = entry(r, "ps__");
    ASSERT_NE(ps, nullptr);
    EXPECT_EQ(ps->front().level, 0);
    EXPECT_EQ(ps->front().data[1], 2721.0);
    EXPECT_EQ(entry(r, "tzop__")->front().data[0], 2810.0);
    EXPECT_EQ(g_forcastTime, 0);

    // Read again: every field is appended once more, without a level check.
    r.readFile(path);
    EXPECT_EQ(entry(r, "u__")->size(), 34u);
}

TEST_F(ModelFileTest, ShortCompressedGrapsFileFillsWhatItLacks)
{
    const size_t values = 301 * 181;
    // Two and a half records.
    const QByteArray plain = records(3, values, recordValue).left(static_cast<int>(values * 10));
    const QString path = file("graps.dat.bz2", bzip2Bytes(plain));
    grapsCmReader r;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    r.readFile(path);
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(out.rfind("start read bz2\n", 0), 0u);
    EXPECT_NE(out.find("bz2file read error:4\n"), std::string::npos);
    // Records are kept whatever the stream says; nothing is skipped.
    EXPECT_EQ(entry(r, "u__")->size(), 17u);
    const p_data& third = (*entry(r, "u__"))[2];
    EXPECT_EQ(third.data[0], 20.0);
    EXPECT_EQ(third.data[values / 2 - 1], 20.0 + static_cast<double>((values / 2 - 1) % 7));
    EXPECT_EQ(third.data[values / 2 + 1], 99999.0);
    EXPECT_EQ((*entry(r, "u__"))[3].data[0], 99999.0);
    EXPECT_NE(err.find("graps.dat.bz2"), std::string::npos) << err;
    EXPECT_NE(err.find(std::to_string(282 * values - values * 5 / 2)), std::string::npos) << err;
}

TEST_F(ModelFileTest, ADamagedBzip2StreamIsNotReadPastItsDamage)
{
    const size_t values = 301 * 181;
    QByteArray bz = bzip2Bytes(records(3, values, recordValue));
    bz.replace(bz.size() / 2, 8, QByteArray(8, '\x55'));
    ByteSource source;
    ASSERT_TRUE(source.open(file("damaged.bz2", bz), ByteSource::Kind::Bzip2));
    std::vector<unsigned char> buffer(values * 4);
    int status = BZ_OK;
    size_t total = 0;
    for (int r = 0; r < 3 && status == BZ_OK; ++r)
        total += source.read(buffer.data(), buffer.size(), &status);
    EXPECT_EQ(status, BZ_DATA_ERROR);
    EXPECT_LT(total, 3 * buffer.size());
    // bzip2 must not be asked again: later reads give nothing, with the same status.
    for (int again = 0; again < 3; ++again) {
        int later = BZ_OK;
        EXPECT_EQ(source.read(buffer.data(), buffer.size(), &later), 0u);
        EXPECT_EQ(later, BZ_DATA_ERROR);
    }
}

TEST_F(ModelFileTest, CpefsValueRuleAndShortPlainFile)
{
    const size_t values = 693 * 453;
    QByteArray bytes = records(2, values, recordValue);
    QByteArray special;
    putF32(special, 1.0e10f, true);
    putF32(special, 100000.0f, true);
    bytes.replace(0, 8, special);
    const QString path = file("run", bytes);
    cpefsReader r;
    ::testing::internal::CaptureStderr();
    r.readFile(path);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(r.m_cache[0].size(), 31u);
    const auto* u = entry(r, "u__");
    ASSERT_EQ(u->size(), 19u);
    EXPECT_EQ((*u)[0].data[0], 9999.0);
    EXPECT_EQ((*u)[0].data[1], 100000.0);
    EXPECT_EQ((*u)[1].data[2], 12.0);
    EXPECT_EQ((*u)[2].data[0], 9999.0);  // past the end of the file
    EXPECT_EQ(entry(r, "cloudboth__")->front().data[0], 9999.0);
    EXPECT_NEAR(u->front().lon.back(), 87.36658 + 692 * 0.03816655, 1e-9);
    EXPECT_NE(err.find(std::to_string(353 * values)), std::string::npos) << err;

    // ".gz" is not read.
    cpefsReader gz;
    gz.readFile(file("run.gz", bytes));
    EXPECT_TRUE(gz.m_cache[0].empty());
}

TEST_F(ModelFileTest, CpefsStreamEndingAmongTheLevelsDropsTheRestOfTheVariable)
{
    const size_t values = 693 * 453;
    const QString path = file("run.BZ2", bzip2Bytes(records(21, values, recordValue)));
    cpefsReader r;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    r.readFile(path);
    const std::string out = ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(entry(r, "u__")->size(), 19u);
    // The record that meets the end of the stream is dropped with the variable's other levels.
    ASSERT_NE(entry(r, "v__"), nullptr);
    EXPECT_EQ(entry(r, "v__")->size(), 1u);
    EXPECT_EQ(entry(r, "w__"), nullptr);
    EXPECT_NE(out.find("bz2file read to end:4\n"), std::string::npos);
    // The surface records are kept, holding the fill value.
    ASSERT_NE(entry(r, "psfc__"), nullptr);
    EXPECT_EQ(entry(r, "psfc__")->front().data[0], 9999.0);
}

TEST_F(ModelFileTest, CctvFormatsGridsNamesAndValueRules)
{
    std::vector<float> global(361 * 181, 5.0f);
    global[1] = 2.0e6f;
    cctvEcReader r;
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(r.readFile(file("echirs_t2_2021061500_024.dat",
                                cctvFile("104", "a b c d e 24 999", "", "361 181 0 360 -90 90 1 1", global))));
    const auto* t2 = entry(r, "t2__");
    ASSERT_NE(t2, nullptr);
    EXPECT_EQ(t2->front().level, 1000);
    EXPECT_EQ(t2->front().forecastTime, 24);
    EXPECT_EQ(g_forcastTime, 24);
    EXPECT_EQ(t2->front().lon.size(), 361u);
    EXPECT_DOUBLE_EQ(t2->front().lon.back(), 360.0);
    EXPECT_DOUBLE_EQ(t2->front().lat.front(), -90.0);
    EXPECT_EQ(t2->front().dimDx, 8);
    EXPECT_EQ(t2->front().data[1], 0.0);
    EXPECT_EQ(t2->front().data[0], 5.0);

    // Format 106: degrees Celsius become kelvin, after the replacement.
    cctvEcReader c;
    c.readFile(file("zc_mwf_t2_x.dat", cctvFile("106", "a b c d e 6 850", "0.5 0.5 100 101 30 31", "3 3",
                                                {20, 2.0e6f, 0, 0, 0, 0, 0, 0, 0})));
    const auto* t = entry(c, "t2__");
    ASSERT_NE(t, nullptr);
    EXPECT_DOUBLE_EQ(t->front().data[0], 293.15);
    EXPECT_DOUBLE_EQ(t->front().data[1], 273.15);
    EXPECT_EQ(t->front().level, 850);
    EXPECT_DOUBLE_EQ(t->front().lon[2], 101.0);

    // Format 113: speed and direction.
    cctvEcReader w;
    w.readFile(file("zc_mwf_wind10_x.dat", cctvFile("113", "a b c d e 3 10", "1 1 100 101 30 31 2 2 ", "",
                                                    {1, 2, 3, 4, 90, 180, 270, 360})));
    ASSERT_NE(entry(w, "10ws__"), nullptr);
    ASSERT_NE(entry(w, "10wd__"), nullptr);
    EXPECT_EQ(entry(w, "10ws__")->front().data, std::vector<double>({1, 2, 3, 4}));
    EXPECT_EQ(entry(w, "10wd__")->front().data, std::vector<double>({90, 180, 270, 360}));

    // Format 112 and an unknown format.
    cctvEcReader f;
    f.readFile(file("echirs_r_x.dat", cctvFile("112", "a b c d e 0 500", "1 1 100 101 30 31 2 1", "", {7, 8})));
    EXPECT_EQ(entry(f, "r__")->front().data, std::vector<double>({7, 8}));
    EXPECT_TRUE(f.readFile(file("echirs_q_x.dat", cctvFile("105", "a b c d e 0 500", "", "", {}))));
    EXPECT_EQ(entry(f, "q__"), nullptr);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("104,"), std::string::npos);
    EXPECT_NE(out.find("no function to deal with\n"), std::string::npos);

    cctvEcReader names;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(names.readFile(file("echirs.dat", cctvFile("104", "", "", "", {}))));
    EXPECT_FALSE(names.readFile(file("abc_t2_x.dat", cctvFile("104", "", "", "", {}))));
    const std::string nameOut = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(nameOut.find("listNameParts < 3\n"), std::string::npos);
    EXPECT_NE(nameOut.find("unknow file type\n"), std::string::npos);
}

TEST_F(ModelFileTest, CctvHeadersWithImpossibleSizesFileNothing)
{
    struct Case {
        const char* line3;
        size_t values;
    };
    const Case cases[] = {
        {"1000000 1000000 0 1 0 1 1 1", 4},  // far more than the file holds
        {"0 5 0 1 0 1 1 1", 4},
        {"-3 5 0 1 0 1 1 1", 4},
        {"2147483647 2147483647 0 1 0 1 1 1", 4},
        {"3 3 0 1 0 1 1 1", 4},  // less than half of its values
    };
    for (const Case& c : cases) {
        cctvEcReader r;
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        r.readFile(file("echirs_t_x.dat",
                        cctvFile("104", "a b c d e 0 500", "", c.line3, std::vector<float>(c.values, 1.0f))));
        ::testing::internal::GetCapturedStdout();
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(entry(r, "t__"), nullptr) << c.line3;
        EXPECT_NE(err.find("echirs_t_x.dat"), std::string::npos) << err;
    }
    // A file cut short keeps the values it holds; the rest is the fill value.
    cctvEcReader s;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    s.readFile(file("echirs_t_x.dat", cctvFile("104", "a b c d e 0 500", "", "3 3 0 1 0 1 1 1", {1, 2, 3, 4, 5, 6, 7, 8})));
    ::testing::internal::GetCapturedStdout();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("1 values"), std::string::npos);
    ASSERT_NE(entry(s, "t__"), nullptr);
    EXPECT_EQ(entry(s, "t__")->front().data, std::vector<double>({1, 2, 3, 4, 5, 6, 7, 8, 9999}));

    // A wind file whose direction block is cut short: the rest is the fill value.
    cctvEcReader w;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    w.readFile(file("zc_mwf_wind_x.dat", cctvFile("113", "a b c d e 3 10", "1 1 100 101 30 31 2 2", "", {1, 2, 3, 4, 90})));
    ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_NE(entry(w, "wd__"), nullptr);
    EXPECT_EQ(entry(w, "wd__")->front().data, std::vector<double>({90, 9999, 9999, 9999}));
    EXPECT_NE(err.find("3 values"), std::string::npos) << err;
}

TEST_F(ModelFileTest, CpasHeaderGridAndNineFields)
{
    cpasReader r;
    ::testing::internal::CaptureStdout();
    r.readFile(file("a.bin", cpasFile(400, 300, 70, 10, 150, 60, 9)));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "cpas\n");
    EXPECT_EQ(r.m_cache[0].size(), 9u);
    const p_data& tbb = entry(r, "tbb__")->front();
    ASSERT_EQ(tbb.data.size(), 120000u);
    EXPECT_EQ(tbb.data[0], 8.0);
    EXPECT_EQ(tbb.data[1], 0.0);  // 3e38 becomes 0, not the fill value
    EXPECT_FLOAT_EQ(tbb.prop_fillValue, -999.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(tbb.lon.back()), 70.0f + 399.0f * (80.0f / 400.0f));
    EXPECT_NEAR(tbb.lon.back(), 149.8, 1e-4);
    EXPECT_NEAR(tbb.lat.back(), 59.8333, 1e-3);
    EXPECT_EQ(entry(r, "ztop__")->front().data[0], 0.0);
}

TEST_F(ModelFileTest, CpasShortAndHostileFiles)
{
    cpasReader r;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    r.readFile(file("short.bin", cpasFile(4, 2, 0, 0, 4, 2, 9, 8)));
    const std::string err = ::testing::internal::GetCapturedStderr();
    const p_data& last = entry(r, "tbb__")->front();
    EXPECT_EQ(last.data, std::vector<double>({8, 0, 8, 8, 8, 8, -999, -999}));
    EXPECT_NE(err.find("2 values"), std::string::npos) << err;

    // Cut inside its first record: the values present, then the fill value.
    cpasReader first;
    ::testing::internal::CaptureStderr();
    first.readFile(file("first.bin", cpasFile(4, 2, 0, 0, 4, 2, 1, 8)));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("66 values"), std::string::npos);
    ASSERT_EQ(first.m_cache[0].size(), 9u);
    EXPECT_EQ(entry(first, "ztop__")->front().data, std::vector<double>({0, 0, 0, 0, 0, 0, -999, -999}));
    EXPECT_EQ(entry(first, "tbb__")->front().data, std::vector<double>(8, -999));

    for (const QByteArray& bytes : {cpasFile(1 << 20, 1 << 20, 0, 0, 1, 1, 0), cpasFile(0, 5, 0, 0, 1, 1, 1),
                                    cpasFile(-4, 2, 0, 0, 1, 1, 0), QByteArray("short")}) {
        cpasReader h;
        ::testing::internal::CaptureStderr();
        h.readFile(file("hostile.bin", bytes));
        ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(h.m_cache[0].empty());
    }
    ::testing::internal::GetCapturedStdout();
}

TEST_F(ModelFileTest, LatlonFullAndPackedLevels)
{
    latlonReader r;
    EXPECT_TRUE(r.readFile(file("one.bin", latlonHeader(2, 3, 10, 0, 500, false) + shorts({100, 200, 300, 400, 500, 600}))));
    const p_data& f = entry(r, "dbz__")->front();
    EXPECT_EQ(f.lon, std::vector<double>({110, 111, 112}));
    EXPECT_EQ(f.lat, std::vector<double>({31, 30}));
    EXPECT_EQ(f.data, std::vector<double>({10, 20, 30, 40, 50, 60}));
    EXPECT_EQ(f.level, 500);
    EXPECT_EQ(f.prop_units, "dbz");
    EXPECT_EQ(f.dimDx, 8);

    latlonReader p;
    p.readFile(file("packed.bin", latlonHeader(2, 3, 1, 1, 1000, true) + shorts({0, 1, 2, 5, 6, -1, -1, -1}) +
                                      latlonHeader(2, 3, 2, 1, 3000, false) + shorts({1, 0, 3, 2, 4, 6, -1, -1, -1})));
    const auto* dbz = entry(p, "dbz__");
    ASSERT_NE(dbz, nullptr);
    ASSERT_EQ(dbz->size(), 2u);
    EXPECT_EQ((*dbz)[0].data, std::vector<double>({0, 5, 6, 0, 0, 0}));
    EXPECT_EQ((*dbz)[0].level, 1000);
    EXPECT_EQ((*dbz)[1].data, std::vector<double>({0, 0, 0, 1, 2, 3}));
    EXPECT_EQ((*dbz)[1].level, 3000);
    EXPECT_FALSE(latlonReader().readFile(m_dir.path() + "/none.bin"));
}

TEST_F(ModelFileTest, LatlonDamagedLevelsStayInsideTheGrid)
{
    // A run past the grid's end is cut; a missing terminator ends the level.
    latlonReader r;
    r.readFile(file("past.bin", latlonHeader(2, 3, 1, 1, 1, false) + shorts({1, 1, 4, 7, 8, 9, 10})));
    EXPECT_EQ(entry(r, "dbz__")->front().data, std::vector<double>({0, 0, 0, 0, 7, 8}));

    // Scale 0: fill values and an error; a level cut inside the run's values.
    latlonReader z;
    z.readFile(file("zero.bin", latlonHeader(2, 3, 0, 0, 1, false) + shorts({1, 2, 3, 4, 5, 6})));
    EXPECT_EQ(entry(z, "dbz__")->front().data, std::vector<double>(6, 9999));
    latlonReader cut;
    cut.readFile(file("cut.bin", latlonHeader(2, 3, 1, 1, 1, false) + shorts({0, 0, 6, 1, 2})));
    EXPECT_EQ(entry(cut, "dbz__")->front().data, std::vector<double>({1, 2, 0, 0, 0, 0}));
    // A full level cut short keeps its values.
    latlonReader shortLevel;
    ::testing::internal::CaptureStderr();
    shortLevel.readFile(file("short.bin", latlonHeader(2, 3, 10, 0, 1, false) + shorts({10, 20, 30, 40})));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("2 values"), std::string::npos);
    EXPECT_EQ(entry(shortLevel, "dbz__")->front().data, std::vector<double>({1, 2, 3, 4, 9999, 9999}));

    // Hostile sizes: nothing is filed, nothing is allocated for them.
    for (const QByteArray& bytes : {latlonHeader(100000, 100000, 1, 0, 1, false) + shorts({1, 2}),
                                    latlonHeader(-2, 3, 1, 0, 1, false), latlonHeader(2, 0, 1, 1, 1, false),
                                    latlonHeader(1 << 20, 1 << 20, 1, 1, 1, false) + shorts({-1, -1, -1})}) {
        latlonReader h;
        ::testing::internal::CaptureStderr();
        h.readFile(file("hostile.bin", bytes));
        ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(h.m_cache[0].empty());
    }

    // Packed levels of 1000 x 1000 cells take 262 bytes each: under a bound
    // of 2.5 million values, the third is refused and the first two kept.
    QByteArray packed;
    for (int16_t level = 1; level <= 4; ++level)
        packed += latlonHeader(1000, 1000, 1, 1, level, true) + shorts({-1, -1, -1});
    NcInput::setMemoryLimit(size_t(20) << 20);
    latlonReader bounded;
    ::testing::internal::CaptureStderr();
    bounded.readFile(file("levels.bin", packed));
    const std::string said = ::testing::internal::GetCapturedStderr();
    NcInput::setMemoryLimit(0);
    EXPECT_NE(said.find("a level of 1000 x 1000 values with the levels before it is too large"), std::string::npos)
        << said;
    ASSERT_NE(entry(bounded, "dbz__"), nullptr);
    EXPECT_EQ(entry(bounded, "dbz__")->size(), 2u);
}

TEST(ModelFilesEndToEnd, EachTypeConvertsToNetCdf)
{
    ProgramDir program;
    struct Case {
        QString type, input;
        QByteArray bytes;
        QString variable;
        size_t lons, lats;
    };
    const std::vector<Case> cases = {
        {"cpefs", "run.dat", records(1, 693 * 453, recordValue), "u", 693, 453},
        {"grapscm", "graps.dat", records(1, 301 * 181, recordValue), "u", 301, 181},
        {"cctv_ec", "echirs_t2_2021061500_024.dat",
         cctvFile("104", "a b c d e 24 850", "", "4 3 100 103 30 32 1 1", std::vector<float>(12, 7.0f)), "t2", 4, 3},
        {"cpas_bin", "a.bin", cpasFile(4, 2, 70, 10, 78, 12, 9), "tbb", 4, 2},
        {"latlon", "r.bin", latlonHeader(2, 3, 10, 0, 500, false) + shorts({1, 2, 3, 4, 5, 6}), "dbz", 3, 2},
    };
    for (const Case& c : cases) {
        QStringList row = variableRow(c.variable, "", "", "OUT").split(",");
        program.writeConfig("t.csv", tableText(",0," + c.type + ",2.0", "80,137,12,60", {row.join(",")}));
        ASSERT_TRUE(writeBytes(program.file(c.input), c.bytes));
        const QString out = program.file(c.type + ".nc");
        const RunResult r = program.run({"-i", program.file(c.input), "-o", out, "-s", "t.csv"});
        ASSERT_EQ(r.exitCode, 0) << c.type.toStdString() << ": " << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(" 0 kept")) << c.type.toStdString() << ": " << r.err.toStdString();
        NcFile nc(out);
        ASSERT_NE(nc.variable("OUT"), nullptr) << c.type.toStdString();
        EXPECT_EQ(nc.floats("g0_lon_0").size(), c.lons) << c.type.toStdString();
        EXPECT_EQ(nc.floats("g0_lat_0").size(), c.lats) << c.type.toStdString();
        EXPECT_EQ(nc.floats("OUT").size(), c.lons * c.lats) << c.type.toStdString();
    }
}
