// A conversion run up to the stages this build contains: the table, the
// reader selection, the output directory, and what the log shows.
#include "app/driver.h"
#include "readers/readerfactory.h"
#include "support/gribfiles.h"
#include "support/ncfile.h"
#include "support/programdir.h"
#include "support/tables.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>

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

TEST(Conversion, DefaultTableIsTheShippedOne)
{
    ProgramDir program;
    const RunResult r = program.run({"-i", "a", "-o", program.file("x.nc")});
    // The shipped table loads: its rows are printed before the run goes on.
    EXPECT_TRUE(r.outLines().contains("key:t_Isobaric surface_@")) << r.out.toStdString();
    // No input exists: the output is a valid file without variables.
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(program.file("x.nc")));
}

namespace {

// A program directory with a GRIB table and one small GRIB input.
struct GribRun {
    GribRun()
    {
        program.setLogLevel("INFO");
        program.writeConfig("t.csv", tableText(",0,GRIB,2.0", "100,102,30,32",
                                               {variableRow("t", "Isobaric surface", "", "T")}));
        GribField f;
        f.firstLon = 100;
        f.firstLat = 32;
        f.ni = 3;
        f.nj = 3;
        fillPattern(f);
        EXPECT_TRUE(writeBytes(program.file("in.grib2"), gribMessage(f)));
    }
    QStringList logLines() const
    {
        return QString::fromLocal8Bit(readAll(program.file("log/kelvane.log"))).split('\n');
    }
    ProgramDir program;
};

bool anyEndsWith(const QStringList& lines, const QString& tail)
{
    return std::any_of(lines.begin(), lines.end(), [&](const QString& l) { return l.endsWith(tail); });
}

}  // namespace

TEST(Conversion, ReadsInputsInOrderAndWritesTheOutputUnderTheLock)
{
    GribRun run;
    const QString out = run.program.file("out/deep/x.nc");
    const RunResult r = run.program.run(
        {"-i", run.program.file("in.grib2"), "-i", run.program.file("none.grib2"), "-o", out, "-s", "t.csv"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    // The upper-case type falls back to the GRIB reader, which reads the input.
    EXPECT_TRUE(r.outLines().contains("*********load nc load nc load nc********")) << r.out.toStdString();
    const QStringList log = run.logLines();
    EXPECT_TRUE(anyEndsWith(log, "(main) [Info] Read[" + run.program.file("in.grib2") + "]"));
    EXPECT_TRUE(anyEndsWith(log, "(main) [Error] FILE[" + run.program.file("none.grib2") + "] NOT EXIST"));
    EXPECT_TRUE(anyEndsWith(log, "(main) [Info] [load nc  data[" + out + "]"));
    EXPECT_TRUE(anyEndsWith(log, "(main) [Info] [process data[" + out + "]"));
    EXPECT_TRUE(anyEndsWith(log, "(main) [Info] [write nc[" + out + "]"));
    EXPECT_TRUE(r.err.contains("NOT EXIST"));
    EXPECT_FALSE(QFile::exists(out + ".tmp"));
    NcFile nc(out);
    EXPECT_EQ(nc.floats("T").size(), 9u);
}

TEST(Conversion, RelativeOutputIsTakenAgainstTheWorkingDirectory)
{
    GribRun run;
    QTemporaryDir work;
    const RunResult r = run.program.run({"-i", run.program.file("in.grib2"), "-o", "sub/x.nc", "-s", "t.csv"},
                                        work.path());
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(work.path() + "/sub/x.nc"));
    EXPECT_TRUE(anyEndsWith(run.logLines(), "[load nc  data[" + QDir::cleanPath(work.path() + "/sub/x.nc") + "]"));
}

TEST(Conversion, AFailureAfterTheLockLeavesTheOutputAndRemovesTheLock)
{
    GribRun run;
    // The overwrite switch is on and the existing output is not netCDF.
    run.program.writeConfig("t.csv", tableText(",1,grib,2.0", "100,102,30,32",
                                               {variableRow("t", "Isobaric surface", "", "T")}));
    const QString out = run.program.file("x.nc");
    ASSERT_TRUE(writeBytes(out, "precious, not netCDF"));
    const RunResult r = run.program.run({"-i", run.program.file("in.grib2"), "-o", out, "-s", "t.csv"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("cannot read")) << r.err.toStdString();
    EXPECT_EQ(readAll(out), QByteArray("precious, not netCDF"));
    EXPECT_FALSE(QFile::exists(out + ".tmp"));
}

TEST(Conversion, OutputDirectoryOrLockThatCannotBeMadeEndsWith255)
{
    GribRun run;
    run.program.write("plain", "not a directory");
    RunResult r = run.program.run({"-i", run.program.file("in.grib2"), "-o", run.program.file("plain/x.nc"), "-s", "t.csv"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_TRUE(r.outLines().contains("can not create output dir"));

    // /proc exists, but nothing can be created in it, not even by root.
    r = run.program.run({"-i", run.program.file("in.grib2"), "-o", "/proc/kelvane-test.nc", "-s", "t.csv"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_TRUE(r.err.contains("can not create lock file")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("/proc/kelvane-test.nc.tmp"));
}

TEST(Conversion, AnotherRunsLockIsWaitedForAndLeftAlone)
{
    GribRun run;
    const QString out = run.program.file("x.nc");
    ASSERT_TRUE(writeBytes(out + ".tmp", ""));
    QProcess process;
    process.start(run.program.file("kelvane"), {"-i", run.program.file("in.grib2"), "-o", out, "-s", "t.csv"});
    ASSERT_TRUE(process.waitForStarted());
    // Two waits are logged about a second apart, then the lock is freed.
    QThread::msleep(2500);
    EXPECT_EQ(process.state(), QProcess::Running);
    ASSERT_TRUE(QFile::remove(out + ".tmp"));
    ASSERT_TRUE(process.waitForFinished(10000));
    const QStringList log = run.logLines();
    const int waits = static_cast<int>(std::count_if(log.begin(), log.end(), [](const QString& l) {
        return l.endsWith("(main) [Info] wait for .nc.tmp");
    }));
    EXPECT_GE(waits, 2);
    EXPECT_LE(waits, 4);
    EXPECT_FALSE(QFile::exists(out + ".tmp"));
}
