// Upgrading a table of the older layout to the current one.
#include "support/fatalend.h"
#include "support/programdir.h"
#include "table/csvfileparser.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Lines 7 and 8 of the shipped table: the column titles and descriptions.
QStringList shippedColumnLines()
{
    QFile f(KELVANE_CONFIG_DIR "/default.csv");
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
    return {lines.value(6), lines.value(7)};
}

QByteArray oldTable(const QString& settings, const QStringList& rows)
{
    QString text = "old title\n"
                   "settings header\n" +
                   settings +
                   "\n"
                   "area header\n"
                   "  80,137,12,60 \n"
                   "group header\n"
                   "column header\n";
    for (const QString& row : rows)
        text += row + "\n";
    return text.toUtf8();
}

QStringList fileLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.endsWith('\n'));
    QStringList lines = QString::fromUtf8(bytes).split('\n');
    lines.removeLast();
    return lines;
}

class UpgradeTest : public ::testing::Test {
protected:
    QString writeOld(const QByteArray& text)
    {
        const QString path = m_dir.path() + "/old.csv";
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
        return path;
    }

    QTemporaryDir m_dir;
    CsvFileParser m_parser;
};

}  // namespace

TEST_F(UpgradeTest, WritesTheCurrentLayout)
{
    const QByteArray old = oldTable(",0,grib,2.0", {
        "t,Temperature,Isobaric surface,pl,TMP,850,Air temperature,K,,,1000;850",
        "sp,Surface pressure,Ground or water surface,x,SFPRES,0,Pressure,hPa,0.01,-5,,3",
        "tp,Total precipitation,,x,TP,0,Precipitation,mm,1000,0.5,,0,0",
        "",
    });
    const QString path = writeOld(old);
    ASSERT_EQ(m_parser.update_config_file(path), 0);

    const QStringList columns = shippedColumnLines();
    const QStringList expected = {
        "模式转NC配置文件,,,,,,,",
        "程序设置,重写开关,文件类型,配置文件版本,,,,,,,,,,,,,",
        ",0,grib,2.0,,,,,,",
        "开始经度,结束经度,开始纬度,结束纬度,,,,,,,,,,,,,",
        "80,137,12,60,,,,,,",
        "原变量名,,,,,,,,,新变量名,,,,,,,",
        columns[0],
        columns[1],
        "t,Temperature,Isobaric surface,,,,,0,0,TMP,Air temperature,K,1,0,1000;850,9,1",
        "sp,Surface pressure,Ground or water surface,,,,,0,0,SFPRES,Pressure,hPa,0.01,-5,,3,1",
        "tp,Total precipitation,,,,,,0,0,TP,Precipitation,mm,1000,0.5,,0,0",
    };
    EXPECT_EQ(fileLines(path + ".new.csv"), expected);
    // The old file is left as it was.
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), old);
}

TEST_F(UpgradeTest, UpgradedTableLoadsOnceItsVersionIsTwo)
{
    const QString path = writeOld(oldTable(",1,cpefs,1.0", {
        "t,Temperature,Isobaric surface,pl,TMP,850,Air temperature,K,0.5,1,1000;850",
    }));
    ASSERT_EQ(m_parser.update_config_file(path), 0);
    EXPECT_TRUE(m_parser.m_ocsv.empty());

    // The version stays 1.0: the parser rejects the table until it is edited.
    EXPECT_TRUE(endsRun([&] { CsvFileParser().load(path + ".new.csv"); }, 255, "version is too old"));

    QFile f(path + ".new.csv");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray text = f.readAll();
    f.close();
    text.replace(",1,cpefs,1.0,", ",1,cpefs,2.0,");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
    f.close();

    CsvFileParser parser;
    ASSERT_EQ(parser.load(path + ".new.csv"), 0);
    EXPECT_EQ(parser.m_fileType, "cpefs");
    EXPECT_TRUE(parser.m_overWrite);
    // Upgraded rows have no level type yet.
    const CSV_FILE* t = parser.find("t_Isobaric surface_");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->newFactorName, "TMP");
    EXPECT_FLOAT_EQ(t->amplification, 0.5f);
    EXPECT_FLOAT_EQ(t->offset, 1.0f);
    EXPECT_EQ(t->levels, "1000;850");
    EXPECT_EQ(t->isCompress, 9);
    EXPECT_EQ(t->writeSw, 1);
}

TEST_F(UpgradeTest, ShortRowStopsTheUpgradeAndKeepsTheRowsBefore)
{
    const QString path = writeOld(oldTable(",0,grib,2.0", {
        "t,T,Isobaric surface,pl,TMP,850,T,K,,,",
        "r,R,Isobaric surface,pl,RH,850,R,%,,",
        "u,U,Isobaric surface,pl,U,850,U,m/s,,,",
    }));
    EXPECT_EQ(m_parser.update_config_file(path), -1);
    const QStringList lines = fileLines(path + ".new.csv");
    ASSERT_EQ(lines.size(), 9);
    EXPECT_TRUE(lines[8].startsWith("t,T,Isobaric surface,"));
}

TEST_F(UpgradeTest, MissingOldTableFails)
{
    EXPECT_EQ(m_parser.update_config_file(m_dir.path() + "/none.csv"), -1);
    EXPECT_FALSE(QFile::exists(m_dir.path() + "/none.csv.new.csv"));
}

TEST(UpgradeEndToEnd, StatusesAndRelativePath)
{
    ProgramDir program;
    QTemporaryDir work;
    QFile old(work.path() + "/legacy.csv");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(oldTable(",0,grib,2.0", {"t,T,Isobaric surface,pl,TMP,850,T,K,,,"}));
    old.close();

    // The path is taken against the working directory, not config/.
    RunResult r = program.run({"-u", "legacy.csv", "-i", "ignored"}, work.path());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(QFile::exists(work.path() + "/legacy.csv.new.csv"));
    EXPECT_FALSE(QFile::exists(program.configFile("legacy.csv.new.csv")));

    r = program.run({"-u", "missing.csv"}, work.path());
    EXPECT_EQ(r.exitCode, 1);

    ASSERT_TRUE(old.open(QIODevice::Append));
    old.write("short,row\n");
    old.close();
    r = program.run({"-u", "legacy.csv"}, work.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.outLines().contains("config file format error"));
}
