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
#include <csignal>

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
    // No input exists: nothing to write, and no output is made.
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(program.file("x.nc")));
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
    // One summary line on standard error; standard output keeps its trace texts.
    EXPECT_EQ(r.err.count(QRegularExpression("^summary: 1 input read \\(1 missing\\); 1 messages or records: 1 kept, "
                                             "0 skipped; 1 variables written; 0 derivations run; output " +
                                                 QRegularExpression::escape(out) + "; \\d+\\.\\d\\d s$",
                                             QRegularExpression::MultilineOption)),
              1)
        << r.err.toStdString();
    EXPECT_FALSE(r.out.contains("summary")) << r.out.toStdString();
}

TEST(Conversion, RunsThatCannotWriteLeaveTheOutput)
{
    GribRun run;
    const QString out = run.program.file("x.nc");
    QStringList typo = variableRow("tt", "Isobaric surface", "", "T").split(',');
    run.program.writeConfig("typo.csv", tableText(",1,grib,2.0", "100,102,30,32", {typo.join(',')}));
    QByteArray four;  // four analysis times of one field
    for (long time : {0, 600, 1200, 1800}) {
        GribField f;
        f.firstLon = 100, f.firstLat = 32, f.ni = 3, f.nj = 3, f.dataTime = time;
        fillPattern(f);
        four += gribMessage(f);
    }
    ASSERT_TRUE(writeBytes(run.program.file("four.grib2"), four));
    struct Case {
        const char* what;
        QStringList arguments;
        int status;
        QStringList said;
    };
    const Case cases[] = {
        {"a mistyped input", {"-i", run.program.file("in.grb2"), "-o", out, "-s", "t.csv"}, 3,
         {"nothing to write: no input holds a field that the table keeps; " + out + " is left as it was",
          "input " + run.program.file("in.grb2") + " does not exist", "table t.csv expects \"t_Isobaric surface_\""}},
        {"a table matching nothing, merging", {"-i", run.program.file("in.grib2"), "-o", out, "-s", "typo.csv"}, 3,
         {"input " + run.program.file("in.grib2") +
              " holds 1 messages or records, none of them kept by the table; it offers \"t_Isobaric surface_\"",
          "table typo.csv expects \"tt_Isobaric surface_\"",
          "summary: 1 input read; 1 messages or records: 0 kept, 1 skipped (1 not in the table); 0 variables written; "
          "0 derivations run; no output written;"}},
        {"four analysis times", {"-i", run.program.file("four.grib2"), "-o", out, "-s", "t.csv"}, 255,
         {"more than one analysis time: T (t_Isobaric surface_) at level 850 of member 0 has fields of the initial "
          "times 202612080000, 202612080600, 202612081200, 202612081800",
          "a run converts one analysis time; " + out + " is left as it was"}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(writeBytes(out, "earlier output"));
        const RunResult r = run.program.run(c.arguments);
        EXPECT_EQ(r.exitCode, c.status) << c.what << ": " << r.err.toStdString();
        for (const QString& text : c.said)
            EXPECT_TRUE(r.err.contains(text)) << c.what << ": " << text.toStdString() << "\n" << r.err.toStdString();
        EXPECT_EQ(readAll(out), QByteArray("earlier output")) << c.what;
        EXPECT_FALSE(QFile::exists(out + ".tmp")) << c.what;
    }
    // Nor is the output's directory made.
    EXPECT_EQ(run.program.run({"-i", run.program.file("in.grb2"), "-o", run.program.file("new/x.nc")}).exitCode, 3);
    EXPECT_FALSE(QFile::exists(run.program.file("new")));
}

TEST(Conversion, OutputAndTablePaths)
{
    GribRun run;
    QTemporaryDir work;
    RunResult r = run.program.run({"-i", run.program.file("in.grib2"), "-o", "sub/x.nc", "-s", "t.csv"}, work.path());
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(work.path() + "/sub/x.nc"));
    EXPECT_TRUE(anyEndsWith(run.logLines(), "[load nc  data[" + QDir::cleanPath(work.path() + "/sub/x.nc") + "]"));

    // A table by absolute path; link -> real/deep, so "link/.." is real/.
    const QString table = work.path() + "/mine.csv";
    ASSERT_TRUE(writeBytes(table, readAll(run.program.configFile("t.csv"))));
    ASSERT_TRUE(QDir(work.path()).mkpath("real/deep"));
    ASSERT_TRUE(QFile::link(work.path() + "/real/deep", work.path() + "/link"));
    r = run.program.run({"-i", run.program.file("in.grib2"), "-o", work.path() + "/link/../x.nc", "-s", table});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(work.path() + "/real/x.nc"));
    EXPECT_FALSE(QFile::exists(work.path() + "/x.nc"));
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
    // The wait is said once on standard error, with the lock's age.
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    EXPECT_EQ(err.count("waiting for the lock " + out + ".tmp (taken "), 1) << err.toStdString();
}

// A run ended by SIGTERM, SIGINT, SIGHUP or SIGKILL at any moment of a merge
// into the shared GFS file's output ends as killed by that signal and leaves
// the output whole; a catchable signal removes its lock (saying so when it
// held it), and the lock SIGKILL leaves is taken over by the next run, which
// therefore never waits.
TEST(Conversion, AKilledRunNeverBlocksTheNextAndLeavesTheOutputWhole)
{
    NEED_SHARED(gfs, "gfs.t12z.pgrbf120.2p5deg.grib2");
    ProgramDir dir;
    QStringList rows;
    for (const char* name : {"t", "gh", "u", "v", "r"})
        rows << variableRow(name, "Isobaric surface", "", QString(name).toUpper()).section(',', 0, 13) +
                    ",1000;925;850;700;500;400;300;250;200;150;100,0,1";
    dir.writeConfig("merge.csv", tableText(",1,grib,2.0", "0,357.5,-90,90", rows));
    // The messages the table keeps, so that each round is quick.
    const QString input = dir.file("kept.grib2");
    ASSERT_EQ(QProcess::execute("grib_copy", {"-w",
                                              "shortName=t/gh/u/v/r,typeOfLevel=isobaricInhPa,"
                                              "level=1000/925/850/700/500/400/300/250/200/150/100",
                                              gfs, input}),
              0);
    const QString out = dir.file("out.nc"), lock = out + ".tmp";
    const QStringList arguments = {"-i", input, "-o", out, "-s", "merge.csv"};
    ASSERT_EQ(dir.run(arguments).exitCode, 0);
    // A signal that can be caught releases the lock at once; after SIGKILL
    // the next run finds the lock's holder gone and takes it over.
#if defined(__SANITIZE_ADDRESS__)
    const int rounds = 8;
#else
    const int rounds = 48;
#endif
    uint32_t seed = 20261209;
    for (int round = 0; round < rounds; ++round) {
        const int signal = round % 2 == 0 ? SIGKILL : round % 22 == 9 ? SIGINT : round % 22 == 19 ? SIGHUP : SIGTERM;
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(dir.file("kelvane"), arguments);
        ASSERT_TRUE(p.waitForStarted());
        // Once the lock is taken, anywhere in the merge.
        for (int k = 0; k < 20000 && !QFile::exists(lock) && p.state() == QProcess::Running; ++k)
            QThread::usleep(500);
        seed = seed * 1103515245u + 12345u;
        QThread::usleep((seed >> 8) % 150000);
        const qint64 pid = p.processId();
        ::kill(static_cast<pid_t>(pid), signal);
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        // Killed by the signal, or finished first.
        EXPECT_EQ(p.exitCode(), p.exitStatus() == QProcess::CrashExit ? signal : 0) << round << err.toStdString();
        EXPECT_TRUE(!err.contains("ended by signal") ||
                    err.contains(QString("ended by signal %1: the lock %2 is removed; %3 is left as it was")
                                     .arg(signal)
                                     .arg(lock, out)))
            << err.toStdString();
        const bool left = QFile::exists(lock);
        EXPECT_TRUE(!left || signal == SIGKILL) << round;
        EXPECT_EQ(NcFile(out).floats("T").size(), 11u * 73 * 144) << round;
        // The next run waits for no one.
        const RunResult next = dir.run(arguments);
        EXPECT_EQ(next.exitCode, 0) << round << next.err.toStdString();
        EXPECT_FALSE(next.err.contains("waiting for the lock")) << round << next.err.toStdString();
        EXPECT_EQ(next.err.contains(QString("the lock %1 is taken over from process %2 on ").arg(lock).arg(pid)), left)
            << round << next.err.toStdString();
        EXPECT_EQ(QDir(dir.path()).entryList({"out.nc*"}, QDir::Files), QStringList{"out.nc"}) << round;
    }
}
