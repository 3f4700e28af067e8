// Parsing the command line into a job.
#include "app/commandline.h"
#include "logging/version.h"

#include <gtest/gtest.h>

namespace {

QStringList withUsage(const QStringList& first)
{
    return first + usageLines();
}

}  // namespace

TEST(CommandLine, ConversionCollectsInputsInOrderAndTheLastOutputAndTable)
{
    const CommandLine cl =
        parseCommandLine({"-i", "a", "-s", "one.csv", "-o", "/x/1.nc", "-i", "b", "-o", "/x/2.nc", "-s", "two.csv"});
    EXPECT_EQ(cl.job, CommandLine::Job::Convert);
    EXPECT_EQ(cl.exitStatus, 0);
    EXPECT_EQ(cl.inputs, QStringList({"a", "b"}));
    EXPECT_EQ(cl.output, "/x/2.nc");
    EXPECT_EQ(cl.table, "two.csv");
    EXPECT_EQ(cl.lines, QStringList({"Warnning  do not support multi output"}));
}

TEST(CommandLine, TableDefaultsToEmptyAndAValueMayLookLikeAnOption)
{
    const CommandLine cl = parseCommandLine({"-i", "-o", "-o", "-i"});
    EXPECT_EQ(cl.job, CommandLine::Job::Convert);
    EXPECT_EQ(cl.inputs, QStringList({"-o"}));
    EXPECT_EQ(cl.output, "-i");
    EXPECT_TRUE(cl.table.isEmpty());
}

TEST(CommandLine, JobsStopParsing)
{
    CommandLine cl = parseCommandLine({"-i", "a", "-p", "f.grib2", "-o", "x", "bogus"});
    EXPECT_EQ(cl.job, CommandLine::Job::Probe);
    EXPECT_EQ(cl.jobArgument, "f.grib2");
    EXPECT_TRUE(cl.lines.isEmpty());

    cl = parseCommandLine({"-u", "old.csv", "--help"});
    EXPECT_EQ(cl.job, CommandLine::Job::Upgrade);
    EXPECT_EQ(cl.jobArgument, "old.csv");
}

TEST(CommandLine, MessagesAndStatuses)
{
    struct Case {
        QStringList args;
        QStringList lines;
        int status;
    };
    const Case cases[] = {
        {{}, withUsage({"error code:1"}) + withUsage({"error code:8"}), 1},
        {{"--help"}, withUsage({"error code:2"}), 0},
        {{"/?", "-x"}, withUsage({"error code:2"}), 0},
        {{"-i", "a", "-h", "-x"}, withUsage({"error code:2"}), 0},
        {{"--version", "-x"}, {QString::fromStdString(programNameAndVersion())}, 0},
        {{"-i", "a", "-p"}, withUsage({"error code:3"}), 1},
        {{"-u"}, withUsage({"error code:3.5"}), 1},
        {{"-o", "x", "-i"}, withUsage({"error code:4"}), 1},
        {{"-o"}, withUsage({"error code:5"}), 1},
        {{"-i", "a", "-o", "b", "-s"}, withUsage({"error code:6"}), 1},
        {{"-i", "a", "-x", "--help"}, withUsage({"error code:7 error oder:-x"}), 1},
        {{"-i", "a"}, withUsage({"error code:8"}), 1},
        {{"-o", "a", "-s", "t.csv"}, withUsage({"error code:8"}), 1},
        {{"-o", "a", "-o", "b"}, QStringList({"Warnning  do not support multi output"}) + withUsage({"error code:8"}), 1},
    };
    for (const Case& c : cases) {
        const CommandLine cl = parseCommandLine(c.args);
        const std::string what = c.args.join(" ").toStdString();
        EXPECT_EQ(cl.job, CommandLine::Job::Stop) << what;
        EXPECT_EQ(cl.lines, c.lines) << what;
        EXPECT_EQ(cl.exitStatus, c.status) << what;
    }
}

TEST(CommandLine, UsageText)
{
    const QStringList expected = {
        "Convert NUMERICAL FORECASTING Data from gz or bz2 or grib type to nc type.",
        "-i input gz or bz2 or grib file name(full path);",
        "-o output nc file name(full path);",
        "-s configuration file name(filename);",
        "-u configuration file name(filename); update config file to new version",
        "-p create a configuration file from a grib1/grib2 format file(full path);",
        "configure the default.csv to extract data in area, data type, level....",
    };
    EXPECT_EQ(usageLines(), expected);
}
