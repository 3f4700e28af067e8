// Writing a conversion table from a GRIB file (-p).
#include "readers/gribtest.h"
#include "support/programdir.h"

#include <QFile>

namespace {

QStringList lines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList l = QString::fromUtf8(f.readAll()).split('\n');
    if (!l.isEmpty() && l.last().isEmpty())
        l.removeLast();
    return l;
}

GribField small(const std::string& name, long level, int edition = 2,
                const std::string& typeOfLevel = "isobaricInhPa")
{
    GribField f;
    f.edition = edition;
    f.shortName = name;
    f.level = level;
    f.typeOfLevel = typeOfLevel;
    f.firstLon = 100;
    f.firstLat = 30;
    f.ni = 3;
    f.nj = 3;
    fillPattern(f);
    return f;
}

}  // namespace

TEST_F(GribTest, ProbeWritesOneRowPerVariableAndSurface)
{
    GribField unknown = small("", 300);
    unknown.parameterNumber = 199;
    GribField m0 = small("u", 850), m1 = small("u", 850);
    m0.member = 0;
    m1.member = 1;
    const QByteArray bytes = gribMessage(small("t", 850)) + gribMessage(small("t", 500)) +
                             gribMessage(small("r", 850)) + gribMessage(small("t", 700)) +
                             gribMessage(small("t", 700, 1)) + gribMessage(small("t", 0, 1, "surface")) +
                             gribMessage(unknown) + gribMessage(m0) + gribMessage(m1);
    const QString path = file("probe.grib", bytes);

    gribReader r;
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(r.fileProbe(path, path + ".csv"));
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("lala2\n", 0), 0u) << out;
    EXPECT_NE(out.find("name:Temperature\n"), std::string::npos);
    EXPECT_NE(out.find("pname:199\n"), std::string::npos);

    QFile shipped(KELVANE_CONFIG_DIR "/default.csv");
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    const QStringList shippedLines = QString::fromUtf8(shipped.readAll()).split('\n');

    const QStringList got = lines(path + ".csv");
    ASSERT_EQ(got.size(), 13);
    EXPECT_EQ(got[0], "模式转NC配置文件,,,,,,,");
    EXPECT_EQ(got[1], "程序设置,重写开关,文件类型,配置文件版本,,,,,,,,,,,,,");
    EXPECT_EQ(got[2], ",0,grib,2.0,,,,,,,");
    EXPECT_EQ(got[3], "开始经度,结束经度,开始纬度,结束纬度,,,,");
    EXPECT_EQ(got[4], "80,137,12,60,,,,");
    EXPECT_EQ(got[5], "原变量名,,,,,,,,,新变量名,,,,,,,");
    EXPECT_EQ(got[6], shippedLines[6]);
    EXPECT_EQ(got[7], shippedLines[7]);
    // Ascending group key; GRIB 1 rows have no surface and take the first message's level type.
    EXPECT_TRUE(got[8].startsWith("199,unknown,Isobaric surface,,,,,0,0,199,unknown,")) << got[8].toStdString();
    EXPECT_TRUE(got[8].endsWith(",,,300,0,1"));
    EXPECT_EQ(got[9], "r,Relative humidity,Isobaric surface,,,,,0,0,r,Relative humidity,%,,,850,0,1");
    EXPECT_EQ(got[10], "t,Temperature,,pl,,,,0,0,t,Temperature,K,,,700;0,0,1");
    EXPECT_EQ(got[11], "t,Temperature,Isobaric surface,,,,,0,0,t,Temperature,K,,,850;500;700,0,1");
    EXPECT_EQ(got[12], "u,U component of wind,Isobaric surface,,,,,0,0,u,U component of wind,m s**-1,,,850;850,0,1");

    CsvFileParser parser;
    ASSERT_EQ(parser.load(path + ".csv"), 0);
    EXPECT_EQ(parser.m_fileType, "grib");
    EXPECT_FLOAT_EQ(parser.m_area[0], 80.0f);
    EXPECT_FLOAT_EQ(parser.m_area[1], 12.0f);
    EXPECT_FLOAT_EQ(parser.m_area[2], 137.0f);
    EXPECT_FLOAT_EQ(parser.m_area[3], 60.0f);
    EXPECT_NE(parser.find("t_Isobaric surface_"), nullptr);
    EXPECT_NE(parser.find("t__pl"), nullptr);
}

TEST_F(GribTest, ProbeOfCompressedInputMatchesThePlainOne)
{
    const QByteArray bytes = gribMessage(small("t", 850)) + gribMessage(small("t", 500));
    const QString plain = file("p.grib2", bytes);
    gribReader a;
    ASSERT_TRUE(a.fileProbe(plain, plain + ".csv"));
    for (const QString& name : {QString("p.grib2.gz"), QString("p.grib2.bz2")}) {
        const QString path = file(name, name.endsWith(".gz") ? gzipBytes(bytes) : bzip2Bytes(bytes));
        gribReader b;
        ::testing::internal::CaptureStdout();
        EXPECT_TRUE(b.fileProbe(path, path + ".csv"));
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.rfind(name.endsWith(".gz") ? "lala3\n" : "lala2\n", 0), 0u) << out;
        EXPECT_EQ(lines(path + ".csv"), lines(plain + ".csv"));
    }
    // Nothing but the tables is left in the directory.
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files).size(), 6);
}

TEST(GribProbeEndToEnd, WritesTheTableBesideTheFileAndIgnoresLaterOptions)
{
    ProgramDir program;
    GribField f = small("t", 850);
    ASSERT_TRUE(writeBytes(program.file("in.grib2"), gribMessage(f)));
    RunResult r = program.run({"-p", program.file("in.grib2"), "-i", "a", "-o", program.file("o/x.nc")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(program.file("in.grib2.csv")));
    EXPECT_FALSE(QFile::exists(program.file("o")));
    // Nothing is left in the program directory.
    EXPECT_EQ(QDir(program.path()).entryList(QDir::Files), QStringList({"in.grib2", "in.grib2.csv", "kelvane"}));

    // An input that cannot be opened gives a table of header lines and a failure.
    r = program.run({"-p", program.file("none.grib2")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(lines(program.file("none.grib2.csv")).size(), 8);
}
