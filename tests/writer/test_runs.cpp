// Whole conversions with the real program: values against ecCodes, ensemble
// files merged again, runs in parallel into one output, a run killed while
// it writes.
#include "logging/version.h"
#include "support/gribfiles.h"
#include "support/ncfile.h"
#include "support/programdir.h"
#include "support/tables.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <memory>

namespace {

QString shared(const char* name)
{
    const QString path = QString(KELVANE_SHARED_GRIB) + "/" + name;
    return QFile::exists(path) ? path : QString();
}

QString tableRow(const QString& name, const QString& surface, const QString& levelType, const QString& levels,
                 const QString& compress = "0")
{
    QStringList f = variableRow(name, surface, levelType, name.toUpper()).split(",");
    f[14] = levels;
    f[15] = compress;
    return f.join(",");
}

}  // namespace

TEST(Runs, GlobalFileConvertsToTheValuesEcCodesDecodes)
{
    const QString input = shared("gfs.t12z.pgrbf120.2p5deg.grib2");
    if (input.isEmpty())
        GTEST_SKIP() << "shared data not present";
    ProgramDir program;
    const QString levels = "1000;850;700;500;300";
    QStringList rows;
    for (const char* name : {"t", "r", "u", "v", "gh"})
        rows << tableRow(name, "Isobaric surface", "", levels, "4");
    program.writeConfig("gfs.csv", tableText(",0,grib,2.0", "80,137.5,12.5,60", rows));
    const QString out = program.file("gfs.nc");
    const RunResult r = program.run({"-i", input, "-o", out, "-s", "gfs.csv"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    NcFile nc(out);
    const std::vector<float> lons = nc.floats("g0_lon_0"), lats = nc.floats("g0_lat_0");
    ASSERT_EQ(lons.size(), 24u);
    ASSERT_EQ(lats.size(), 20u);
    const QStringList levelList = levels.split(';');
    size_t compared = 0;
    for (const DecodedField& d : decodeGribFile(input)) {
        const int slice = levelList.indexOf(QString::number(d.level));
        if (d.surface != "Isobaric surface" || slice < 0)
            continue;
        const std::string var = QString::fromStdString(d.shortName).toUpper().toStdString();
        if (!nc.variable(var))
            continue;
        const std::vector<float> values = nc.floats(var);
        ASSERT_EQ(values.size(), 5u * 24 * 20);
        for (size_t k = 0; k < d.values.size(); ++k) {
            const double i = (d.lons[k] - 80.0) / 2.5, j = (d.lats[k] - 12.5) / 2.5;
            if (i < -0.01 || j < -0.01 || i > 23.01 || j > 19.01)
                continue;
            const size_t ii = static_cast<size_t>(std::lround(i)), jj = static_cast<size_t>(std::lround(j));
            ASSERT_FLOAT_EQ(lons[ii], static_cast<float>(d.lons[k]));
            ASSERT_FLOAT_EQ(lats[jj], static_cast<float>(d.lats[k]));
            ASSERT_EQ(values[static_cast<size_t>(slice) * 480 + jj * 24 + ii], static_cast<float>(d.values[k]))
                << var << " " << d.level << " at " << d.lons[k] << "," << d.lats[k];
            ++compared;
        }
    }
    EXPECT_EQ(compared, 5u * 5 * 24 * 20);
    // Standard names from ecCodes, the isobaric axis, the time coordinates.
    EXPECT_EQ(attributeText(nc.variable("T"), "standard_name"), "air_temperature");
    EXPECT_EQ(attributeText(nc.variable("GH"), "standard_name"), "geopotential_height");
    EXPECT_EQ(attributeText(nc.variable("level_0"), "standard_name"), "air_pressure");
    EXPECT_EQ(attributeText(nc.variable("T"), "coordinates"), "time_0 reftime_0 period_0");
    EXPECT_EQ(nc.floats("time_0"), std::vector<float>({120}));
    EXPECT_EQ(attributeText(&nc.globals(), "Conventions"), "CF-1.8");

    QProcess ncdump;
    ncdump.start("ncdump", {"-h", out});
    ASSERT_TRUE(ncdump.waitForFinished(30000));
    EXPECT_EQ(ncdump.exitCode(), 0) << ncdump.readAllStandardError().toStdString();
}

TEST(Runs, EnsembleFileConvertsAndMergesAgain)
{
    const QString fourTimes = shared("era5-levels-members.grib");
    if (fourTimes.isEmpty())
        GTEST_SKIP() << "shared data not present";
    ProgramDir program;
    program.writeConfig("ens.csv", tableText(",1,grib,2.0", "0,357,-90,90",
                                             {tableRow("t", "", "pl", "500;850"), tableRow("z", "", "pl", "500;850")}));
    const QString out = program.file("ens.nc");
    // The file holds four analysis times; its first one converts and merges again.
    const QString input = program.file("one-time.grib");
    QProcess copy;
    copy.start("grib_copy", {"-w", "dataDate=20170101,dataTime=0", fourTimes, input});
    ASSERT_TRUE(copy.waitForFinished(30000) && copy.exitCode() == 0) << copy.readAllStandardError().toStdString();
    for (int run = 0; run < 2; ++run) {
        const RunResult r = program.run({"-i", input, "-o", out, "-s", "ens.csv"});
        ASSERT_EQ(r.exitCode, 0) << "run " << run << ": " << r.err.toStdString();
        NcFile nc(out);
        EXPECT_EQ(nc.ints("ens"), std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
        const NcVariable* t = nc.variable("T");
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->dims, std::vector<std::string>({"ens", "level_0", "g0_lat_0", "g0_lon_0"}));
        EXPECT_EQ(nc.floats("T").size(), 10u * 2 * 61 * 120);
        EXPECT_FALSE(QFile::exists(out + ".tmp"));
        // Each merge adds its line to the history; the time coordinates stay.
        // GRIB 1 gives no forecast time: the reference time alone.
        EXPECT_EQ(QString::fromStdString(attributeText(&nc.globals(), "history")).count('\n'), run);
        EXPECT_EQ(attributeText(t, "standard_name"), "air_temperature");
        EXPECT_EQ(attributeText(t, "coordinates"), "reftime_0");
        EXPECT_EQ(attributeText(nc.variable("reftime_0"), "units"), "hours since 2017-01-01 00:00:00");
        EXPECT_EQ(attributeText(nc.variable("level_0"), "positive"), "down");
    }
}

namespace {

// t on two pressure levels and 2 m temperature, converted and merged into
// the same output again; the output's path, empty when a run failed.
QString describedOutput(ProgramDir& program)
{
    program.setLogLevel("DEBUG");
    QByteArray input;
    for (long level : {850, 500, 2}) {
        GribField f;
        f.shortName = level == 2 ? "2t" : "t";
        f.typeOfLevel = level == 2 ? "heightAboveGround" : "isobaricInhPa";
        f.level = level, f.forecastTime = 36, f.firstLon = 100, f.firstLat = 32, f.ni = 3, f.nj = 3;
        fillPattern(f, 200.0 + level);
        input += gribMessage(f);
    }
    EXPECT_TRUE(writeBytes(program.file("in.grib2"), input));
    program.writeConfig("cf.csv", tableText(",1,grib,2.0", "100,102,30,32",
                                            {tableRow("t", "Isobaric surface", "", "850;500"),
                                             tableRow("2t", "Specified height level above ground", "", "2")}));
    const QString out = program.file("cf.nc");
    for (int run = 1; run <= 2; ++run) {
        const RunResult r = program.run({"-i", program.file("in.grib2"), "-o", out, "-s", "cf.csv"});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        if (r.exitCode != 0)
            return QString();
    }
    return out;
}

}  // namespace

TEST(Runs, TheOutputDescribesItselfAndMergesKeepItsHistoryAndTimes)
{
    ProgramDir program;
    const QString out = describedOutput(program);
    ASSERT_FALSE(out.isEmpty());
    NcFile nc(out);
    EXPECT_EQ(attributeText(&nc.globals(), "source"), programNameAndVersion());
    const QStringList history = QString::fromStdString(attributeText(&nc.globals(), "history")).split('\n');
    ASSERT_EQ(history.size(), 2);
    for (const QString& line : history)
        EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ: \\S*kelvane -i \\S*/in.grib2 -o "
                                       "\\S*/cf.nc -s cf.csv$")
                        .match(line)
                        .hasMatch())
            << line.toStdString();
    // The 2 m axis in metres (its variable is two-dimensional), the isobaric one in hPa.
    EXPECT_EQ(nc.floats("level_0"), std::vector<float>({2}));
    EXPECT_EQ(attributeText(nc.variable("level_0"), "long_name"), "height above ground");
    EXPECT_EQ(attributeText(nc.variable("level_0"), "units"), "m");
    EXPECT_EQ(attributeText(nc.variable("level_1"), "units"), "hPa");
    for (const char* var : {"T", "2T"}) {
        EXPECT_EQ(attributeText(nc.variable(var), "standard_name"), "air_temperature") << var;
        EXPECT_EQ(attributeText(nc.variable(var), "coordinates"), "time_0 reftime_0 period_0") << var;
    }
    // The merge read the time coordinates and the axes without a word about them.
    const QByteArray log = readAll(program.file("log/kelvane.log"));
    EXPECT_TRUE(log.contains("[READ NC] read nc end 2")) << log.toStdString();
    EXPECT_FALSE(log.contains("[Error] [READ NC]")) << log.toStdString();
}

// Opened with xarray, the valid and reference times are datetimes on the
// variables (skipped where xarray is not installed).
TEST(Runs, XarrayDecodesTheTimesAsDatetimes)
{
    QProcess python;
    python.start("/usr/bin/python3", {"-c", "import xarray"});
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        GTEST_SKIP() << "xarray is not installed";
    ProgramDir program;
    const QString out = describedOutput(program);
    ASSERT_FALSE(out.isEmpty());
    python.start("/usr/bin/python3",
                 {"-c", "import sys, xarray\n"
                        "t = xarray.open_dataset(sys.argv[1])['T']\n"
                        "for c in ('time_0', 'reftime_0', 'period_0'):\n"
                        "    print(c, t.coords[c].dtype, t.coords[c].values)\n",
                  out});
    ASSERT_TRUE(python.waitForFinished(60000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    EXPECT_EQ(QString(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
              QStringList({"time_0 datetime64[ns] 2026-12-10T00:00:00.000000000",
                           "reftime_0 datetime64[ns] 2026-12-08T12:00:00.000000000",
                           "period_0 timedelta64[ns] 129600000000000 nanoseconds"}));
}

TEST(Runs, LevelListsAsUsersWriteThem)
{
    // t on 26 levels, the values of each field starting at ten times its level.
    ProgramDir program;
    QByteArray input;
    for (long level : {1000, 975, 950, 925, 900, 850, 800, 750, 700, 650, 600, 550, 500, 450, 400, 350, 300, 250, 200,
                       150, 100, 70, 50, 30, 20, 10}) {
        GribField f;
        f.level = level, f.firstLon = 100, f.firstLat = 32, f.ni = 3, f.nj = 3;
        fillPattern(f, 10.0 * level);
        input += gribMessage(f);
    }
    ASSERT_TRUE(writeBytes(program.file("t26.grib2"), input));
    auto convert = [&](const QString& levelList) {
        program.writeConfig("l.csv", tableText(",0,grib,2.0", "100,102,30,32",
                                               {tableRow("t", "Isobaric surface", "", levelList)}));
        const RunResult r = program.run({"-i", program.file("t26.grib2"), "-o", program.file("l.nc"), "-s", "l.csv"});
        EXPECT_EQ(r.exitCode, 0) << levelList.toStdString() << ": " << r.err.toStdString();
        return NcFile(program.file("l.nc")).floats("T");
    };
    const std::vector<float> plain = convert("850;500");
    ASSERT_EQ(plain.size(), 18u);
    EXPECT_EQ(*std::min_element(plain.begin(), plain.begin() + 9), 8500.0f);
    EXPECT_EQ(*std::min_element(plain.begin() + 9, plain.end()), 5000.0f);
    // Blanks do not change a value; a one-entry list takes the field of its
    // own level, not the last one read.
    EXPECT_EQ(convert(" 850 ; 500 "), plain);
    EXPECT_EQ(convert("500"), std::vector<float>(plain.begin() + 9, plain.end()));
}

TEST(Runs, ParallelRunsIntoOneOutputAllLand)
{
    ProgramDir program;
    const QStringList names = {"t", "r", "u", "v", "gh", "w", "q", "pv"};
    QStringList rows;
    for (const QString& name : names)
        rows << tableRow(name, "Isobaric surface", "", "");
    program.writeConfig("all.csv", tableText(",1,grib,2.0", "100,110,30,40", rows));
    for (int k = 0; k < names.size(); ++k) {
        GribField f;
        f.shortName = names[k].toStdString();
        f.firstLon = 100;
        f.firstLat = 40;
        f.ni = 11;
        f.nj = 11;
        fillPattern(f, 10.0 * k);
        ASSERT_TRUE(writeBytes(program.file(names[k] + ".grib2"), gribMessage(f)));
    }
    const QString out = program.file("shared.nc");
    std::vector<std::unique_ptr<QProcess>> runs;
    for (const QString& name : names) {
        runs.push_back(std::make_unique<QProcess>());
        runs.back()->start(program.file("kelvane"), {"-i", program.file(name + ".grib2"), "-o", out, "-s", "all.csv"});
    }
    for (auto& p : runs) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
    }
    EXPECT_FALSE(QFile::exists(out + ".tmp"));
    NcFile nc(out);
    for (int k = 0; k < names.size(); ++k) {
        const std::string var = names[k].toUpper().toStdString();
        ASSERT_NE(nc.variable(var), nullptr) << var;
        // Output row 0 is the southern edge: input point 110 of the north-to-south scan.
        EXPECT_EQ(nc.floats(var)[0], static_cast<float>(10.0 * k + 110)) << var;
    }
}

TEST(Runs, ARunKilledWhileWritingLeavesThePreviousOutput)
{
    ProgramDir program;
    QStringList rows;
    for (const char* name : {"t", "r", "u", "v", "gh"})
        rows << tableRow(name, "Isobaric surface", "", "1000;925;850;700;500;400;300;250;200;150;100", "9");
    program.writeConfig("big.csv", tableText(",0,grib,2.0", "80,137,12,60", rows));
    program.writeConfig("small.csv", tableText(",0,grib,2.0", "100,102,30,32", {tableRow("t", "Isobaric surface", "", "")}));

    // A large input: five variables on eleven levels at 0.1 degree.
    QByteArray big;
    for (const char* name : {"t", "r", "u", "v", "gh"})
        for (long level : {1000, 925, 850, 700, 500, 400, 300, 250, 200, 150, 100}) {
            GribField f;
            f.shortName = name;
            f.level = level;
            f.firstLon = 80;
            f.firstLat = 60;
            f.step = 0.1;
            f.ni = 571;
            f.nj = 481;
            fillPattern(f, static_cast<double>(level));
            big += gribMessage(f);
        }
    ASSERT_TRUE(writeBytes(program.file("big.grib2"), big));
    GribField small;
    small.firstLon = 100;
    small.firstLat = 32;
    small.ni = 3;
    small.nj = 3;
    fillPattern(small);
    ASSERT_TRUE(writeBytes(program.file("small.grib2"), gribMessage(small)));

    const QString out = program.file("out.nc");
    ASSERT_EQ(program.run({"-i", program.file("small.grib2"), "-o", out, "-s", "small.csv"}).exitCode, 0);
    const QByteArray before = readAll(out);

    QProcess run;
    run.start(program.file("kelvane"), {"-i", program.file("big.grib2"), "-o", out, "-s", "big.csv"});
    ASSERT_TRUE(run.waitForStarted());
    // The working file grows once the writer has started on it.
    bool killed = false;
    for (int k = 0; k < 60000 && run.state() == QProcess::Running; ++k) {
        if (QFileInfo(out + ".part").size() > 0) {
            ::kill(static_cast<pid_t>(run.processId()), SIGKILL);
            killed = true;
            break;
        }
        QThread::msleep(1);
    }
    run.waitForFinished(60000);
    ASSERT_TRUE(killed) << "the run ended before it could be killed while writing";
    EXPECT_EQ(readAll(out), before);
    NcFile nc(out);
    EXPECT_EQ(nc.floats("T").size(), 9u);
}
