// Real processes into one output: many runs merging at once (starting on a
// lock whose holder has ended), runs killed at random moments, and a lock
// left behind by an older version.
#include "app/lockholder.h"
#include "support/gribfiles.h"
#include "support/ncfile.h"
#include "support/programdir.h"
#include "support/tables.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <random>

namespace {

const QStringList kNames = {"t", "r", "u", "v", "gh", "w", "q", "pv", "z", "d", "cswc", "cc", "clwc", "ciwc", "o3", "crwc"};

// A table of the sixteen variables with the overwrite switch on.
void writeMergeTable(const ProgramDir& program)
{
    QStringList rows;
    for (const QString& name : kNames)
        rows << variableRow(name, "Isobaric surface", "", name.toUpper() + "X");
    program.writeConfig("merge.csv", tableText(",1,grib,2.0", "100,110,30,40", rows));
}

QByteArray field(const QString& name, double base, double step = 1, long n = 11)
{
    GribField f;
    f.shortName = name.toStdString();
    f.firstLon = 100;
    f.firstLat = 40;
    f.step = step;
    f.ni = n;
    f.nj = n;
    fillPattern(f, base);
    return gribMessage(f);
}

}  // namespace

TEST(Stress, SixteenMergingRunsLeaveEveryVariable)
{
    ProgramDir program;
    writeMergeTable(program);
    for (int k = 0; k < kNames.size(); ++k) {
        const QByteArray bytes = field(kNames[k], 10.0 * k);
        ASSERT_FALSE(bytes.isEmpty()) << kNames[k].toStdString();
        ASSERT_TRUE(writeBytes(program.file(kNames[k] + ".grib2"), bytes));
    }
    const QString out = program.file("shared.nc");
    // They start on a lock left by a holder that has ended: exactly one of
    // them takes it over.
    LockHolder gone = LockHolder::self();
    gone.pid = endedProcessId();
    ASSERT_TRUE(writeBytes(out + ".tmp", gone.record()));
    std::vector<std::unique_ptr<QProcess>> runs;
    for (const QString& name : kNames) {
        runs.push_back(std::make_unique<QProcess>());
        runs.back()->start(program.file("kelvane"), {"-i", program.file(name + ".grib2"), "-o", out, "-s", "merge.csv"});
    }
    int tookOver = 0;
    for (auto& p : runs) {
        ASSERT_TRUE(p->waitForFinished(200000));
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        const QString err = QString::fromLocal8Bit(p->readAllStandardError());
        EXPECT_EQ(p->exitCode(), 0) << err.toStdString();
        tookOver += err.count(QString("the lock %1.tmp is taken over from process %2 on ").arg(out).arg(gone.pid));
    }
    EXPECT_EQ(tookOver, 1);
    EXPECT_FALSE(QFile::exists(out + ".tmp"));
    NcFile nc(out);
    ASSERT_TRUE(nc.ok());
    for (int k = 0; k < kNames.size(); ++k) {
        const std::string var = (kNames[k].toUpper() + "X").toStdString();
        EXPECT_NE(nc.variable(var), nullptr) << var;
    }
}

TEST(Stress, RunsKilledAtRandomMomentsNeverLoseTheOutput)
{
    ProgramDir program;
    writeMergeTable(program);
    // Inputs large enough that a kill can land while reading, waiting or writing.
    for (int k = 0; k < 4; ++k)
        ASSERT_TRUE(writeBytes(program.file(kNames[k] + ".grib2"), field(kNames[k], k, 0.05, 201)));
    const QString out = program.file("out.nc");
    ASSERT_EQ(program.run({"-i", program.file("t.grib2"), "-o", out, "-s", "merge.csv"}).exitCode, 0);

    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> delayMs(0, 600);
    for (int round = 0; round < 2; ++round) {
        std::vector<std::unique_ptr<QProcess>> runs;
        for (int k = 0; k < 4; ++k) {
            runs.push_back(std::make_unique<QProcess>());
            runs.back()->start(program.file("kelvane"),
                               {"-i", program.file(kNames[k] + ".grib2"), "-o", out, "-s", "merge.csv"});
            ASSERT_TRUE(runs.back()->waitForStarted());
        }
        // Two of the four are killed, each at its own moment.
        for (int k : {round % 4, (round + 2) % 4}) {
            QThread::msleep(static_cast<unsigned long>(delayMs(random)));
            ::kill(static_cast<pid_t>(runs[static_cast<size_t>(k)]->processId()), SIGKILL);
        }
        // A killed holder leaves its lock; the next run takes it over at
        // once, so the survivors finish without waiting out the time-out.
        for (size_t k = 0; k < runs.size(); ++k) {
            ASSERT_TRUE(runs[k]->waitForFinished(120000)) << round << " " << k;
            const std::string err = runs[k]->readAllStandardError().toStdString();
            if (runs[k]->exitStatus() == QProcess::NormalExit) {
                EXPECT_EQ(runs[k]->exitCode(), 0) << err;
            }
            EXPECT_EQ(err.find("wait for .nc.tmp time out"), std::string::npos) << err;
        }
        EXPECT_FALSE(QFile::exists(out + ".tmp"));
        SCOPED_TRACE(round);
        ASSERT_TRUE(QFile::exists(out));
        NcFile nc(out);
        ASSERT_TRUE(nc.ok()) << "the output cannot be read";
        EXPECT_NE(nc.variable("TX"), nullptr);
    }
}

TEST(Stress, AStaleLockIsWaitedForUntilItGoes)
{
    ProgramDir program;
    writeMergeTable(program);
    ASSERT_TRUE(writeBytes(program.file("t.grib2"), field("t", 0)));
    ASSERT_TRUE(writeBytes(program.file("r.grib2"), field("r", 5)));
    const QString out = program.file("out.nc");
    ASSERT_EQ(program.run({"-i", program.file("t.grib2"), "-o", out, "-s", "merge.csv"}).exitCode, 0);
    const QByteArray before = readAll(out);

    // A run killed while writing leaves its lock, partly written.
    ASSERT_TRUE(writeBytes(out + ".tmp", before.left(before.size() / 3)));
    QProcess run;
    run.start(program.file("kelvane"), {"-i", program.file("r.grib2"), "-o", out, "-s", "merge.csv"});
    ASSERT_TRUE(run.waitForStarted());
    QThread::msleep(3000);
    EXPECT_EQ(run.state(), QProcess::Running) << "the run did not wait for the lock";
    EXPECT_TRUE(readAll(out) == before);

    QFile::remove(out + ".tmp");
    ASSERT_TRUE(run.waitForFinished(10000));
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    NcFile nc(out);
    ASSERT_TRUE(nc.ok());
    EXPECT_NE(nc.variable("TX"), nullptr);
    EXPECT_NE(nc.variable("RX"), nullptr);
    EXPECT_FALSE(QFile::exists(out + ".tmp"));
}
