// The command line as a user sees it: printed lines and exit statuses of the
// real program.
#include "app/commandline.h"
#include "logging/version.h"
#include "support/programdir.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

TEST(Cli, EveryErrorCodeWithItsUsageAndStatus)
{
    ProgramDir program;
    const QStringList usage = usageLines();
    struct Case {
        QStringList args;
        QString code;
        int status;
    };
    const Case cases[] = {
        {{"--help"}, "error code:2", 0},
        {{"-h", "-i", "a"}, "error code:2", 0},
        {{"/?"}, "error code:2", 0},
        {{"-p"}, "error code:3", 1},
        {{"-u"}, "error code:3.5", 1},
        {{"-i"}, "error code:4", 1},
        {{"-i", "a", "-o"}, "error code:5", 1},
        {{"-i", "a", "-o", "b", "-s"}, "error code:6", 1},
        {{"-q", "-i"}, "error code:7 error oder:-q", 1},
        {{"-s", "t.csv", "-i", "a"}, "error code:8", 1},
    };
    for (const Case& c : cases) {
        const RunResult r = program.run(c.args);
        EXPECT_EQ(r.outLines(), QStringList({c.code}) + usage) << c.args.join(" ").toStdString();
        EXPECT_EQ(r.exitCode, c.status) << c.args.join(" ").toStdString();
    }
}

TEST(Cli, NoArgumentsPrintsCodesOneAndEight)
{
    ProgramDir program;
    const RunResult r = program.run({});
    const QStringList usage = usageLines();
    EXPECT_EQ(r.outLines(), QStringList({"error code:1"}) + usage + QStringList({"error code:8"}) + usage);
    EXPECT_EQ(r.exitCode, 1);
}

TEST(Cli, VersionIsOneLineOnStandardOutput)
{
    ProgramDir program;
    const RunResult r = program.run({"--version", "-i", "a", "-o", "b"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    EXPECT_EQ(r.out, QString::fromStdString(programNameAndVersion()) + "\n");
    EXPECT_TRUE(QRegularExpression("^Kelvane \\d+\\.\\d+\\.\\d+\n$").match(r.out).hasMatch()) << r.out.toStdString();
    // Nothing else happens: no log directory is made.
    EXPECT_FALSE(QFile::exists(program.file("log")));
}
