// Reading a conversion table: settings, area, rows, keys and the rejections.
#include "support/fatalend.h"
#include "support/programdir.h"
#include "support/tables.h"
#include "table/csvfileparser.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kSettings = ",0,grib,2.0,,,,,,,";
const QString kArea = "80,137,12,60,,,,";

class ParserTest : public ::testing::Test {
protected:
    QString writeTable(const QByteArray& text)
    {
        const QString path = m_dir.path() + "/table.csv";
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
        return path;
    }

    int load(const QByteArray& text) { return m_parser.load(writeTable(text)); }

    QTemporaryDir m_dir;
    CsvFileParser m_parser;
};

// A row with its output name, level list and derived switch.
QString levelsRow(const QString& name, const QString& surface, const QString& out, const QString& levels,
                  const QString& derived = "0")
{
    QStringList f = variableRow(name, surface, "", out).split(',');
    f[7] = derived;
    f[14] = levels;
    return f.join(',');
}

}  // namespace

TEST_F(ParserTest, SettingsAndAreaRows)
{
    ASSERT_EQ(load(tableText(",1,cpefs,2.0,,,,,,,", kArea, {})), 0);
    EXPECT_TRUE(m_parser.m_overWrite);
    EXPECT_EQ(m_parser.m_fileType, "cpefs");
    EXPECT_FLOAT_EQ(m_parser.m_config_version, 2.0f);
    // Both starts, then both ends.
    EXPECT_FLOAT_EQ(m_parser.m_area[0], 80.0f);
    EXPECT_FLOAT_EQ(m_parser.m_area[1], 12.0f);
    EXPECT_FLOAT_EQ(m_parser.m_area[2], 137.0f);
    EXPECT_FLOAT_EQ(m_parser.m_area[3], 60.0f);
    EXPECT_EQ(m_parser.m_areaStep, 0.0f);

    // The fifth field: the area's spacing.
    ASSERT_EQ(load(tableText(kSettings, "80,137,12,60, 0.03 ,,,", {})), 0);
    EXPECT_FLOAT_EQ(m_parser.m_areaStep, 0.03f);

    ASSERT_EQ(load(tableText(",0,,2,", " -10.5,30.25,-5,5 ", {})), 0);
    EXPECT_EQ(m_parser.m_areaStep, 0.0f);
    EXPECT_FALSE(m_parser.m_overWrite);
    EXPECT_EQ(m_parser.m_fileType, "");
    EXPECT_FLOAT_EQ(m_parser.m_area[0], -10.5f);
    EXPECT_FLOAT_EQ(m_parser.m_area[1], -5.0f);
    EXPECT_FLOAT_EQ(m_parser.m_area[2], 30.25f);
    EXPECT_FLOAT_EQ(m_parser.m_area[3], 5.0f);

    // Only exactly "1" switches overwriting on.
    ASSERT_EQ(load(tableText(", 1,grib,2.0", kArea, {})), 0);
    EXPECT_FALSE(m_parser.m_overWrite);
}

TEST_F(ParserTest, RowColumnsAndTheirDefaults)
{
    QStringList full;
    full << "t" << "Temperature" << "Isobaric surface" << "pl" << "温度" << "0.5" << "-3" << "1"
         << "lcc" << "TMP" << "Air temperature" << "degC" << "2.5" << "-273.15" << "850;500" << "4"
         << "0" << "extra" << "fields";
    const QString sparse = variableRow("r", "", "", "RH");
    ASSERT_EQ(load(tableText(kSettings, kArea, {full.join(","), sparse})), 0);

    const CSV_FILE* t = m_parser.find("t_Isobaric surface_pl");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->oldFactorName, "t");
    EXPECT_EQ(t->oldDesc, "Temperature");
    EXPECT_EQ(t->nameOfFirstFixedSurface, "Isobaric surface");
    EXPECT_EQ(t->typedoflevels, "pl");
    EXPECT_FLOAT_EQ(t->amplification_before, 0.5f);
    EXPECT_FLOAT_EQ(t->offset_before, -3.0f);
    EXPECT_EQ(t->isfigure, 1);
    EXPECT_EQ(t->touying, "lcc");
    EXPECT_EQ(t->newFactorName, "TMP");
    EXPECT_EQ(t->newDesc, "Air temperature");
    EXPECT_EQ(t->newUnit, "degC");
    EXPECT_FLOAT_EQ(t->amplification, 2.5f);
    EXPECT_FLOAT_EQ(t->offset, -273.15f);
    EXPECT_EQ(t->levels, "850;500");
    EXPECT_EQ(t->isCompress, 4);
    EXPECT_EQ(t->writeSw, 0);
    ASSERT_NE(m_parser.findfr("TMP_Isobaric surface_pl"), nullptr);
    EXPECT_EQ(m_parser.findfr("TMP_Isobaric surface_pl")->oldFactorName, "t");

    // Empty surface and level type: two underscores, as GRIB 1 keys have.
    const CSV_FILE* r = m_parser.find("r__");
    ASSERT_NE(r, nullptr);
    EXPECT_FLOAT_EQ(r->amplification_before, 1.0f);
    EXPECT_FLOAT_EQ(r->offset_before, 0.0f);
    EXPECT_FLOAT_EQ(r->amplification, 1.0f);
    EXPECT_FLOAT_EQ(r->offset, 0.0f);
    EXPECT_EQ(r->isCompress, 0);
    EXPECT_EQ(r->isfigure, 0);
    EXPECT_EQ(m_parser.getCsvStruct().size(), 2u);
}

TEST_F(ParserTest, BlanksAroundCellsAndLevelsAreTrimmed)
{
    QStringList f = variableRow("t", "s", "", "T").split(",");
    f[5] = " 0.5 ";
    f[9] = " TMP ";
    f[12] = "\t2 ";
    f[14] = " 850 ; 500 ";
    f[15] = "4.0";
    f[16] = "";
    QStringList g = variableRow("r", "s", "", "R").split(",");
    g[14] = "850;;500;";
    ASSERT_EQ(load(tableText(kSettings, kArea, {f.join(","), g.join(",")})), 0);
    const CSV_FILE* t = m_parser.find("t_s_");
    ASSERT_NE(t, nullptr);
    EXPECT_FLOAT_EQ(t->amplification_before, 0.5f);
    EXPECT_EQ(t->newFactorName, "TMP");
    EXPECT_NE(m_parser.findfr("TMP_s_"), nullptr);
    EXPECT_FLOAT_EQ(t->amplification, 2.0f);
    EXPECT_EQ(t->levels, "850;500");
    EXPECT_EQ(t->isCompress, 4);
    EXPECT_EQ(t->writeSw, 1);
    // Empty parts of a level list stay where they are.
    EXPECT_EQ(m_parser.find("r_s_")->levels, "850;;500;");
}

TEST_F(ParserTest, KeysAreTrimmedOfBlanksAtTheEndsOnly)
{
    ASSERT_EQ(load(tableText(kSettings, kArea, {variableRow(" 2t", "Height above ground", "sfc ", "T2")})),
              0);
    EXPECT_NE(m_parser.find("2t_Height above ground_sfc"), nullptr);
    EXPECT_EQ(m_parser.find(" 2t_Height above ground_sfc "), nullptr);
}

TEST_F(ParserTest, WindowsLineEndsReadLikeUnixOnes)
{
    const QStringList rows = {variableRow("t", "Isobaric surface", "", "TMP"),
                              variableRow("gh", "Isobaric surface", "", "HGT")};
    ASSERT_EQ(load(tableText(",1,latlon,2.0,,,,,,,", kArea, rows, "\r\n")), 0);
    const CSV_STRUCT windows = m_parser.m_ocsv;
    const QString type = m_parser.m_fileType;
    EXPECT_TRUE(m_parser.m_overWrite);

    CsvFileParser unix;
    ASSERT_EQ(unix.load(writeTable(tableText(",1,latlon,2.0,,,,,,,", kArea, rows))), 0);
    EXPECT_EQ(type, unix.m_fileType);
    ASSERT_EQ(windows.size(), unix.m_ocsv.size());
    for (const auto& [key, row] : unix.m_ocsv) {
        ASSERT_EQ(windows.count(key), 1u) << key;
        EXPECT_EQ(windows.at(key).writeSw, row.writeSw);
        EXPECT_EQ(windows.at(key).newFactorName, row.newFactorName);
    }
    EXPECT_EQ(windows.at("gh_Isobaric surface_").writeSw, 1);
}

TEST_F(ParserTest, DuplicateKeysKeepTheFirstRow)
{
    const QStringList rows = {variableRow("t", "Isobaric surface", "", "TMP"),
                              variableRow("t", "Isobaric surface", "", "TEMP"),
                              variableRow("tt", "Isobaric surface", "", "TMP")};
    ASSERT_EQ(load(tableText(kSettings, kArea, rows)), 0);
    ASSERT_NE(m_parser.find("t_Isobaric surface_"), nullptr);
    EXPECT_EQ(m_parser.find("t_Isobaric surface_")->newFactorName, "TMP");
    // The second row is reachable only through its output name.
    ASSERT_NE(m_parser.findfr("TEMP_Isobaric surface_"), nullptr);
    EXPECT_EQ(m_parser.findfr("TEMP_Isobaric surface_")->oldFactorName, "t");
    ASSERT_NE(m_parser.findfr("TMP_Isobaric surface_"), nullptr);
    EXPECT_EQ(m_parser.findfr("TMP_Isobaric surface_")->oldFactorName, "t");
}

TEST_F(ParserTest, EachLoadStartsFromAnEmptyInputMap)
{
    ASSERT_EQ(load(tableText(kSettings, kArea, {variableRow("a", "s", "", "A")})), 0);
    ASSERT_EQ(load(tableText(kSettings, kArea, {variableRow("b", "s", "", "B")})), 0);
    EXPECT_EQ(m_parser.find("a_s_"), nullptr);
    EXPECT_NE(m_parser.find("b_s_"), nullptr);
}

TEST_F(ParserTest, MissingFileReturnsMinusOne)
{
    EXPECT_EQ(m_parser.load(m_dir.path() + "/none.csv"), -1);
}

TEST_F(ParserTest, RejectedTablesEndWithStatus255)
{
    struct Case {
        const char* what;
        QByteArray text;
        const char* message;
    };
    const QString row = variableRow("t", "s", "", "T");
    QByteArray emptySettings = tableText(kSettings, kArea, {row});
    emptySettings.replace(kSettings.toUtf8() + "\n", "\n");
    auto withCell = [&](int column, const char* text) {
        QStringList f = row.split(",");
        f[column] = text;
        return tableText(kSettings, kArea, {f.join(",")});
    };
    QByteArray emptyArea = tableText(kSettings, kArea, {row});
    emptyArea.replace(kArea.toUtf8() + "\n", "  \n");
    const Case cases[] = {
        {"version 2.1", tableText(",0,grib,2.1,,,", kArea, {row}), "version is too new"},
        {"version 1.0", tableText(",0,grib,1.0,,,", kArea, {row}), "version is too old"},
        {"settings row of three fields", tableText(",0,grib", kArea, {row}), "version is too old"},
        {"empty settings row", emptySettings, "version is too old"},
        {"empty area row", emptyArea, "unknown config area format"},
        {"three area fields", tableText(kSettings, "80,137,12", {row}), "unknown config area format"},
        {"area field not a number", tableText(kSettings, "80,137,north,60", {row}),
         "unknown config area format"},
        {"spacing not a number", tableText(kSettings, "80,137,12,60,fine", {row}),
         "the fifth field, the spacing in degrees, is \"fine\""},
        {"spacing of 0", tableText(kSettings, "80,137,12,60,0", {row}), "the spacing in degrees, is \"0\""},
        {"negative spacing", tableText(kSettings, "80,137,12,60,-0.5", {row}), "is \"-0.5\"; a number above 0"},
        {"row of sixteen fields", tableText(kSettings, kArea, {row.section(',', 0, 15)}),
         "version is too old"},
        {"row of sixteen fields, its line", tableText(kSettings, kArea, {row, row.section(',', 0, 15)}),
         "line 10 has 16 fields, 17 expected"},
        // A numeric cell that is neither empty nor a number, named by line and column.
        {"abc", withCell(5, "abc"), "line 9, column 6 .scale before the derivations.: \"abc\" is not a number"},
        {"1..5", withCell(6, "1..5"), "line 9, column 7 .offset before the derivations.: \"1..5\" is not a number"},
        {"yes", withCell(7, "yes"), "line 9, column 8 .derived by the program.: \"yes\" is not a number"},
        {"x", withCell(12, "x"), "line 9, column 13 .scale when writing.: \"x\" is not a number"},
        {"1e", withCell(13, "1e"), "line 9, column 14 .offset when writing.: \"1e\" is not a number"},
        {"nan", withCell(13, "nan"), "line 9, column 14 .offset when writing.: \"nan\" is not a number"},
        {"1e39", withCell(12, "1e39"), "line 9, column 13 .scale when writing.: \"1e39\" is out of range"},
        {"5OO", withCell(14, "850; 5OO"), "line 9, column 15 .output levels.: \"5OO\" is not a number"},
        {"many", withCell(15, "many"), "line 9, column 16 .deflate level.: \"many\" is not a number"},
        {"1.5", withCell(16, "1.5"), "line 9, column 17 .write switch.: \"1.5\" is not a whole number"},
        // Two input keys writing one name on other level lists.
        {"one name, two level lists",
         tableText(kSettings, kArea,
                   {levelsRow("t", "Isobaric surface", "t", "500;850"), levelsRow("t", "Tropopause", "t", "")}),
         "lines 9 and 10 both write t, with the level lists \"500;850\" and \"\""},
    };
    for (const Case& c : cases) {
        const QString path = writeTable(c.text);
        EXPECT_TRUE(endsRun([&] { m_parser.load(path); }, 255, c.message)) << c.what;
    }
}

TEST_F(ParserTest, FurtherRowsOfAnInputKeyGetKeysOfTheirOwn)
{
    ASSERT_EQ(load(tableText(kSettings, kArea,
                             {levelsRow("t", "Isobaric surface", "t", "500;850"),
                              levelsRow("t", "Isobaric surface", "TMP", "850"),
                              levelsRow("t", "Isobaric surface", "t", "700"),
                              // Other keys may share a name over one list, however spelled.
                              levelsRow("tt", "Isobaric surface", "t", "500.0; 850"),
                              levelsRow("dpt", "", "TD", "850"), levelsRow("td", "", "TD", "500", "1")})),
              0);
    EXPECT_EQ(m_parser.find("t_Isobaric surface_")->newFactorName, "t");
    EXPECT_EQ(m_parser.find("t_Isobaric surface_")->levels, "500;850");
    const CSV_FILE* tmp = m_parser.find("t as TMP_Isobaric surface_");
    ASSERT_NE(tmp, nullptr);
    EXPECT_EQ(tmp->storeName, "t as TMP");
    EXPECT_EQ(m_parser.findfr("TMP_Isobaric surface_")->storeName, "t as TMP");
    EXPECT_EQ(m_parser.sharedInputKeys(),
              (std::map<std::string, std::string>{{"t as TMP_Isobaric surface_", "t_Isobaric surface_"}}));

    // Each further row gets its copy of the key's fields, in every member.
    std::vector<CachedData> store(kMemberSlots);
    for (int64_t member : {0, 3}) {
        p_data f;
        f.factorShortName = "t";
        f.nameOfFirstFixedSurface = "Isobaric surface";
        f.level = 850;
        f.perturbationNumber = member;
        f.data = {1, 2};
        insertRecord(f, store.data());
    }
    m_parser.copySharedInputs(store.data());
    for (int member : {0, 3}) {
        const std::vector<p_data>& copies = store[member].at("t as TMP_Isobaric surface_");
        ASSERT_EQ(copies.size(), 1u);
        EXPECT_EQ(variableKey(copies.front()), "t as TMP_Isobaric surface_");
        EXPECT_EQ(copies.front().data, std::vector<double>({1, 2}));
    }
    EXPECT_EQ(store[1].size(), 0u);
}

TEST(ParserEndToEnd, TooNewTableEndsTheRunOnStandardError)
{
    ProgramDir program;
    program.writeConfig("new.csv", tableText(",0,grib,2.1,,,,,,,", kArea, {}));
    const RunResult r = program.run({"-i", "a.grb", "-o", program.file("out/x.nc"), "-s", "new.csv"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_TRUE(r.err.contains("config file version is too new for this program")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(program.file("out/x.nc")));
}

TEST(ParserEndToEnd, RowsArePrintedAsTheyAreLoaded)
{
    ProgramDir program;
    program.writeConfig("t.csv", tableText(",0,cctv_ec,2.0", kArea,
                                           {variableRow("t", "Isobaric surface", "", "TMP"),
                                            variableRow("gh", "", "", "HGT")}));
    const RunResult r = program.run({"-i", "a", "-o", program.file("x.nc"), "-s", "t.csv"});
    const QStringList lines = r.outLines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], "key:t_Isobaric surface_@");
    EXPECT_EQ(lines[1], "key:gh__@");
}
