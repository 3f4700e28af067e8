// A conversion run up to the stages this build contains: the table, the
// reader selection, the output directory, and what the log shows.
#include "app/driver.h"
#include "readers/readerfactory.h"
#include "support/programdir.h"
#include "support/tables.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(ReaderSelection, FileTypesAreComparedExactly)
{
    struct Case {
        const char* type;
        ReaderKind kind;
    };
    const Case cases[] = {
        {"", ReaderKind::Grib},         {"grib", ReaderKind::Grib},
        {"GRIB", ReaderKind::Grib},     {"grib2", ReaderKind::Grib},
        {"cpefs", ReaderKind::Cpefs},   {"grapscm", ReaderKind::GrapsCm},
        {"cpas_bin", ReaderKind::CpasBin}, {"cctv_ec", ReaderKind::CctvEc},
        {"latlon", ReaderKind::Latlon}, {"tjwrf_nc", ReaderKind::TjwrfNc},
        {"nc", ReaderKind::TjwrfNc},    {"geps_nc", ReaderKind::TjwrfNc},
        {"Cpefs", ReaderKind::Grib},    {" nc", ReaderKind::Grib},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readerKindFor(c.type), c.kind) << c.type;
    EXPECT_STREQ(readerClassName(ReaderKind::Grib), "gribReader");
    EXPECT_STREQ(readerClassName(ReaderKind::TjwrfNc), "TjwrfNcReader");
}

TEST(MakeDirectories, MakesMissingParentsAndReportsFailure)
{
    QTemporaryDir dir;
    const QString deep = dir.path() + "/a/b/c";
    EXPECT_EQ(mkMutiDir(deep), deep);
    EXPECT_TRUE(QDir(deep).exists());
    EXPECT_EQ(mkMutiDir(deep), deep);

    QFile file(dir.path() + "/plain");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(mkMutiDir(dir.path() + "/plain/sub"), "");
    EXPECT_EQ(mkMutiDir(dir.path() + "/x/"), "");
}

TEST(Conversion, MissingTableEndsWithStatus255)
{
    ProgramDir program;
    program.setLogLevel("INFO");
    const RunResult r = program.run({"-i", "a", "-o", program.file("x.nc"), "-s", "none.csv"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_TRUE(r.err.contains("read  config error")) << r.err.toStdString();

    // The log line names the driver as "main".
    const QStringList log = QString::fromLocal8Bit(readAll(program.file("log/kelvane.log"))).split('\n');
    const QRegularExpression layout(
        "^\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2} \\w+\\.cpp: \\d+: \\(main\\) \\[Error\\] read  config error$");
    EXPECT_TRUE(std::any_of(log.begin(), log.end(),
                            [&](const QString& line) { return layout.match(line).hasMatch(); }))
        << log.join("\n").toStdString();
}

TEST(Conversion, TableOfAReaderThisBuildLacksIsNeverASilentSuccess)
{
    ProgramDir program;
    for (const QString& type : QStringList{"GRIB", "cpefs", "geps_nc"}) {
        program.writeConfig("t.csv", tableText(",0," + type + ",2.0", "80,137,12,60",
                                               {variableRow("t", "s", "", "T")}));
        const RunResult r = program.run({"-i", "a", "-o", program.file("out/x.nc"), "-s", "t.csv"});
        EXPECT_EQ(r.exitCode, 255) << type.toStdString();
        EXPECT_TRUE(r.err.contains(QString("file type \"%1\" needs the %2")
                                       .arg(type, readerClassName(readerKindFor(type)))))
            << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(program.file("out/x.nc")));
        EXPECT_FALSE(QFile::exists(program.file("out/x.nc.tmp")));
    }
}

TEST(Conversion, DefaultTableIsTheShippedOne)
{
    ProgramDir program;
    const RunResult r = program.run({"-i", "a", "-o", program.file("x.nc")});
    // The shipped table loads: its rows are printed before the run goes on.
    EXPECT_TRUE(r.outLines().contains("key:t_Isobaric surface_@")) << r.out.toStdString();
    EXPECT_NE(r.exitCode, 0);
}
