// Conversions of real files as users start them: rows that collide, several
// forecast steps, ensembles without their control member, areas beyond the
// grid, messages the reader cannot use, layers, and merges of these. No run
// loses, mixes or mislabels a field, and a run that writes nothing leaves
// the output as it was.
#include "support/gribfiles.h"
#include "support/ncfile.h"
#include "support/programdir.h"
#include "support/tables.h"

#include <QFile>
#include <QProcess>
#include <QSet>
#include <gtest/gtest.h>

#include <cmath>

namespace {

const char* const kGfs = "gfs.t12z.pgrbf120.2p5deg.grib2";

// One of ecCodes' tools (grib_copy, grib_set) on files of the test.
bool gribTool(const QString& tool, const QStringList& arguments)
{
    QProcess p;
    p.start(tool, arguments);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QString row(const QString& name, const QString& surface, const QString& out, const QString& levels = QString(),
            const QString& offset = QString(), const QString& levelType = QString())
{
    QStringList f = variableRow(name, surface, levelType, out).split(',');
    f[13] = offset;
    f[14] = levels;
    return f.join(',');
}

struct Program {
    ProgramDir dir;
    QString out = dir.file("out.nc");

    RunResult convert(const QStringList& inputs, const QStringList& rows, bool merge = false,
                      const QString& area = "0,357.5,-90,90")
    {
        dir.writeConfig("t.csv", tableText(merge ? ",1,grib,2.0" : ",0,grib,2.0", area, rows));
        QStringList arguments;
        for (const QString& input : inputs)
            arguments << "-i" << input;
        return dir.run(arguments << "-o" << out << "-s"
                                 << "t.csv");
    }
};

// t at 500 hPa of the shared file, once per given step (forecastTime).
QString temperatureSteps(const Program& p, const QString& gfs, const std::vector<int>& steps)
{
    const QString t500 = p.dir.file("t500.grib2");
    if (!QFile::exists(t500) &&
        !gribTool("grib_copy", {"-w", "shortName=t,typeOfLevel=isobaricInhPa,level=500", gfs, t500}))
        return QString();
    QByteArray all;
    for (int step : steps) {
        const QString one = p.dir.file(QString("t500-%1.grib2").arg(step));
        if (!gribTool("grib_set", {"-s", QString("forecastTime=%1").arg(step), t500, one}))
            return QString();
        all += readAll(one);
    }
    QString name = "steps";
    for (int step : steps)
        name += QString("-%1").arg(step);
    const QString path = p.dir.file(name + ".grib2");
    return writeBytes(path, all) ? path : QString();
}

}  // namespace

TEST(RealFiles, CollidingRowsAreRefusedOrWriteEveryVariable)
{
    NEED_SHARED(gfs, kGfs);
    Program p;
    p.dir.addLibrary();
    struct Case {
        const char* what;
        QStringList rows;
        int status;
        QString said;
    };
    const Case cases[] = {
        // Two keys, one name, other level lists: refused before any input is read.
        {"two keys on other level lists",
         {row("t", "Isobaric surface", "t", "500;850"), row("t", "Tropopause", "t")},
         255,
         "table " + p.dir.configFile("t.csv") + ": lines 9 and 10 both write t, with the level lists \"500;850\" and \"\""},
        // One key, two names: both written, each by its own row (TMP feeds the dew point).
        {"one key under two names",
         {row("t", "Isobaric surface", "t", "500;850"), row("t", "Isobaric surface", "TMP", "850", "-273.15"),
          row("r", "Isobaric surface", "RH", "850"), row("td", "", "TD", "850")},
         0, ""},
        // Two keys, one name, one level list: a slot with two fields says which is kept.
        {"two keys on one level list",
         {row("t", "Tropopause", "T"), row("t", "Maximum wind level", "T")},
         0,
         "[WRITE NC] T: two fields for its one level; message "},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(writeBytes(p.out, "earlier output"));
        const RunResult r = p.convert({gfs}, c.rows);
        EXPECT_EQ(r.exitCode, c.status) << c.what << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.said)) << c.what << ": " << r.err.toStdString();
        if (c.status != 0) {
            EXPECT_EQ(readAll(p.out), QByteArray("earlier output")) << c.what;
            EXPECT_FALSE(r.outLines().contains("*********load nc load nc load nc********")) << c.what;
        }
    }
    // The last run kept one of its two fields; the one before wrote both names.
    NcFile nc(p.out);
    EXPECT_EQ(nc.floats("T").size(), 144u * 73u);
    ASSERT_TRUE(p.convert({gfs}, cases[1].rows).exitCode == 0);
    NcFile both(p.out);
    const std::vector<float> t = both.floats("t"), tmp = both.floats("TMP");
    ASSERT_EQ(t.size(), 2u * 144 * 73);
    ASSERT_EQ(tmp.size(), 144u * 73);
    for (size_t k = 0; k < tmp.size(); ++k)
        ASSERT_NEAR(tmp[k], t[144 * 73 + k] - 273.15f, 1e-4) << k;
    EXPECT_EQ(both.floats("TD").size(), 144u * 73u);
}

TEST(RealFiles, SeveralForecastStepsAreRefusedAndMergesKeepEachVariablesTime)
{
    NEED_SHARED(gfs, kGfs);
    Program p;
    const QStringList rows = {row("t", "Isobaric surface", "T", "500")};
    ASSERT_TRUE(writeBytes(p.out, "earlier output"));
    for (const std::vector<int>& steps : {std::vector<int>{0, 6, 12}, std::vector<int>{12, 0, 6}}) {
        const QString input = temperatureSteps(p, gfs, steps);
        ASSERT_FALSE(input.isEmpty());
        const RunResult r = p.convert({input}, rows);
        EXPECT_EQ(r.exitCode, 255) << r.err.toStdString();
        QStringList names;
        for (int s : steps)
            names << QString::number(s);
        EXPECT_TRUE(r.err.contains("more than one forecast time: T (t_Isobaric surface_) at level 500 of member 0 has "
                                   "fields of the forecast steps " +
                                   names.join(", ")))
            << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("a run converts one forecast time of each variable; " + p.out + " is left as it was"));
        EXPECT_EQ(readAll(p.out), QByteArray("earlier output"));
    }
    // A merge of another step than the output's is refused the same way.
    QFile::remove(p.out);
    ASSERT_EQ(p.convert({temperatureSteps(p, gfs, {6})}, rows, true).exitCode, 0);
    const QByteArray six = readAll(p.out);
    const RunResult other = p.convert({temperatureSteps(p, gfs, {12})}, rows, true);
    EXPECT_EQ(other.exitCode, 255) << other.err.toStdString();
    EXPECT_TRUE(other.err.contains("T in " + p.out + " holds forecast hour 6, this run's fields of it hour 12"))
        << other.err.toStdString();
    EXPECT_EQ(readAll(p.out), six);
    EXPECT_FALSE(QFile::exists(p.out + ".tmp"));

    // The same file merged twice: each variable keeps its own forecast time
    // (the 2 m maximum is a statistic of hours 114 to 120).
    QFile::remove(p.out);
    const QStringList both = {row("t", "Isobaric surface", "T", "500"),
                              row("tmax", "Specified height level above ground", "TMAX")};
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(p.convert({gfs}, both, true).exitCode, 0);
        NcFile nc(p.out);
        EXPECT_EQ(nc.variable("T")->attribute("forcast_time")->numbers, std::vector<double>({120})) << run;
        EXPECT_EQ(nc.variable("TMAX")->attribute("forcast_time")->numbers, std::vector<double>({114})) << run;
    }

    // A regional model's file of 25 steps names them.
    NEED_SHARED(safrica, "safrica.grib2");
    const RunResult r = p.convert({safrica}, {row("pwat", "Entire atmosphere", "PWAT")});
    EXPECT_EQ(r.exitCode, 255) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("has fields of the forecast steps 0, 3, 6, 9, 12, 15, 18, 21, and 17 more"))
        << r.err.toStdString();
}

TEST(RealFiles, AnEnsembleWithoutItsControlMemberWritesEveryMember)
{
    NEED_SHARED(gfs, kGfs);
    Program p;
    const QString t500 = p.dir.file("t500.grib2");
    ASSERT_TRUE(gribTool("grib_copy", {"-w", "shortName=t,typeOfLevel=isobaricInhPa,level=500", gfs, t500}));
    QByteArray members;
    for (int m = 0; m <= 4; ++m) {
        const QString one = p.dir.file(QString("m%1.grib2").arg(m));
        ASSERT_TRUE(gribTool("grib_set", {"-s",
                                          QString("productDefinitionTemplateNumber=1,perturbationNumber=%1,"
                                                  "numberOfForecastsInEnsemble=10")
                                              .arg(m),
                                          t500, one}));
        if (m > 0)
            members += readAll(one);
    }
    ASSERT_TRUE(writeBytes(p.dir.file("perturbed.grib2"), members));
    const QStringList rows = {row("t", "Isobaric surface", "T", "500")};
    const RunResult r = p.convert({p.dir.file("perturbed.grib2")}, rows, true);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.err.count("[WRITE NC] member 0 is in no input; its slots hold the fill value"), 1)
        << r.err.toStdString();
    const DecodedField decoded = decodeGribFile(t500).front();
    auto check = [&](bool controlPresent) {
        NcFile nc(p.out);
        EXPECT_EQ(nc.ints("ens"), std::vector<int>({0, 1, 2, 3, 4}));
        const std::vector<float> t = nc.floats("T");
        const size_t n = 144 * 73;
        ASSERT_EQ(t.size(), 5 * n);
        for (size_t m = 0; m < 5; ++m)
            for (size_t k = 0; k < n; k += 97)
                EXPECT_EQ(t[m * n + k] == 9999.0f, m == 0 && !controlPresent) << m << " " << k;
        // Rows from the south: the last row of the output is ecCodes' first.
        EXPECT_EQ(t[4 * n + 72 * 144], static_cast<float>(decoded.values[0]));
    };
    check(false);
    // A later run brings the control member into its slot.
    ASSERT_EQ(p.convert({p.dir.file("m0.grib2")}, rows, true).exitCode, 0);
    check(true);
}

TEST(RealFiles, MessagesThatGiveNoFieldAreCountedWithTheirReason)
{
    Program p;
    GribField t;
    t.firstLon = 100, t.firstLat = 40, t.ni = 4, t.nj = 3;
    fillPattern(t);
    GribField satellite = t, staggered = t;
    satellite.shortName.clear();
    satellite.keys = {{"productDefinitionTemplateNumber", 32}};
    staggered.keys = {{"centre", 7}, {"gridDefinitionTemplateNumber", 32769}};
    // Spherical harmonics: no points to place.
    const QByteArray spectral =
        withGribKeys({}, {{"typeOfFirstFixedSurface", 100}, {"scaleFactorOfFirstFixedSurface", 0},
                          {"scaledValueOfFirstFixedSurface", 85000}}, "sh_ml_grib2");
    QByteArray bytes = gribMessage(t) + gribMessage(satellite) + gribMessage(staggered) + spectral;
    // A GRIB 1 message without its grid description, of a grid ecCodes
    // does not know by number.
    GribField one = t;
    one.edition = 1;
    QByteArray g1 = gribMessage(one);
    const int section1 = 8, length1 = (uchar(g1[8]) << 16) | (uchar(g1[9]) << 8) | uchar(g1[10]);
    const int length2 = (uchar(g1[8 + length1]) << 16) | (uchar(g1[9 + length1]) << 8) | uchar(g1[10 + length1]);
    g1[section1 + 6] = char(255);
    g1[section1 + 7] = char(uchar(g1[section1 + 7]) & 0x7f);
    g1.remove(section1 + length1, length2);
    g1[4] = char((g1.size() >> 16) & 0xff), g1[5] = char((g1.size() >> 8) & 0xff), g1[6] = char(g1.size() & 0xff);
    bytes += g1 + gribMessage(t);
    ASSERT_TRUE(writeBytes(p.dir.file("mixed.grib2"), bytes));

    const QStringList rows = {row("t", "Isobaric surface", "T"), row("t", "", "T1", "", "", "pl")};
    const RunResult r = p.convert({p.dir.file("mixed.grib2")}, rows, false, "100,103,38,40");
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    for (const char* reason : {"product template 4.32 has no fixed surface", "grid template 3.32769",
                               "a GRIB 1 message without a grid description (grid 255)"})
        EXPECT_TRUE(r.err.contains(reason)) << reason << "\n" << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("6 messages or records: 1 kept, 5 skipped (1 product template 4.32 has no fixed "
                               "surface, 1 grid template 3.32769 (ncep_32769) is not supported: ecCodes gives no "
                               "coordinates of its points, 1 grid template 3.50 (sh) is not supported: ecCodes gives "
                               "no coordinates of its points, 1 a GRIB 1 message without a grid description (grid "
                               "255) ecCodes does not know, 1 another field of the run takes its slot)"))
        << r.err.toStdString();

    // An area the grid does not reach: nothing to write, the output untouched.
    ASSERT_TRUE(writeBytes(p.out, "earlier output"));
    const RunResult beyond = p.convert({p.dir.file("mixed.grib2")}, rows, false, "200,210,-50,-40");
    EXPECT_EQ(beyond.exitCode, 3) << beyond.err.toStdString();
    EXPECT_TRUE(beyond.err.contains("the table's area (longitudes 200 to 210, latitudes -50 to -40) does not meet the "
                                    "grid of " +
                                    p.dir.file("mixed.grib2") + " (longitudes 100 to 103, latitudes 38 to 40)"))
        << beyond.err.toStdString();
    EXPECT_TRUE(beyond.err.contains("2 outside the area")) << beyond.err.toStdString();
    EXPECT_EQ(readAll(p.out), QByteArray("earlier output"));
}

TEST(RealFiles, LayersAndFractionalLevelsKeepTheirOwnSlotsAndBounds)
{
    NEED_SHARED(gfs, kGfs);
    Program p;
    const QStringList rows = {row("t", "Depth below land surface", "TSOIL", "0;0.1;0.4;1"),
                              row("r", "Sigma level", "RSIGMA", "0.665;0.72;0.83;0.58;0.995")};
    for (int run = 0; run < 2; ++run) {
        const RunResult r = p.convert({gfs}, rows, true);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains("two fields")) << r.err.toStdString();
        NcFile nc(p.out);
        // Axes numbered by first use, in key order: r's first.
        const std::vector<float> sigma = nc.floats("level_0_bnds"), soil = nc.floats("level_1_bnds");
        EXPECT_EQ(nc.floats("level_1"), std::vector<float>({0, 0.1f, 0.4f, 1}));
        EXPECT_EQ(soil, std::vector<float>({0, 0.1f, 0.1f, 0.4f, 0.4f, 1, 1, 2})) << run;
        EXPECT_EQ(sigma, std::vector<float>({0.33f, 1, 0.44f, 1, 0.72f, 0.94f, 0.44f, 0.72f, 0.995f, 0.995f})) << run;
        EXPECT_EQ(attributeText(nc.variable("level_0"), "bounds"), "level_0_bnds");
        // Every layer its own values, as ecCodes decodes them.
        std::vector<DecodedField> decoded;
        for (DecodedField& d : decodeGribFile(gfs))
            if (d.shortName == "t" && d.surface == "Depth below land surface")
                decoded.push_back(std::move(d));
        ASSERT_EQ(decoded.size(), 4u);
        const std::vector<float> t = nc.floats("TSOIL");
        ASSERT_EQ(t.size(), 4u * 144 * 73);
        for (size_t slot = 0; slot < 4; ++slot)
            EXPECT_EQ(t[slot * 144 * 73 + 72 * 144], static_cast<float>(decoded[slot].values[0])) << slot;
    }
}

TEST(RealFiles, AGribOneCopyGetsARowPerLevelTypeAndConverts)
{
    NEED_SHARED(gfs, kGfs);
    Program p;
    const QString t = p.dir.file("t.grib2"), simple = p.dir.file("simple.grib2"), one = p.dir.file("t.grib1");
    ASSERT_TRUE(gribTool("grib_copy", {"-w", "shortName=t", gfs, t}));
    ASSERT_TRUE(gribTool("grib_set", {"-r", "-s", "packingType=grid_simple", t, simple}));
    // ecCodes cannot write some of them in edition 1; the copy holds the others.
    gribTool("grib_set", {"-s", "edition=1", simple, one});
    const std::vector<DecodedField> decoded = decodeGribFile(one);
    ASSERT_GT(decoded.size(), 30u);
    ASSERT_EQ(p.dir.run({"-p", one}).exitCode, 0);
    QStringList rows = QString::fromUtf8(readAll(one + ".csv")).split('\n', Qt::SkipEmptyParts).mid(8);
    QStringList types, names;
    for (const QString& r : rows) {
        const QStringList f = r.split(',');
        types << f[3];
        names << f[9];
        // Each level once.
        const QStringList levels = f[14].split(';');
        EXPECT_EQ(levels.size(), QSet<QString>(levels.begin(), levels.end()).size()) << r.toStdString();
    }
    EXPECT_EQ(types.size(), QSet<QString>(types.begin(), types.end()).size()) << types.join(" ").toStdString();
    EXPECT_EQ(names.size(), QSet<QString>(names.begin(), names.end()).size()) << names.join(" ").toStdString();
    EXPECT_TRUE(types.contains("pl") && types.contains("sfc") && types.contains("7")) << types.join(" ").toStdString();
    // The copy converts with its table; what the edition's integer levels
    // made equal is said, not lost without a word.
    const RunResult r = p.dir.run({"-i", one, "-o", p.out, "-s", one + ".csv"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QString("%1 messages or records: ").arg(decoded.size()))) << r.err.toStdString();
    NcFile nc(p.out);
    EXPECT_EQ(nc.floats("t_isobaricInhPa").size(), 26u * 144 * 73);
}
