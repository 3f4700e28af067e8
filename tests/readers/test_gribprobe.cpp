// Writing a conversion table from a GRIB file (-p).
#include "readers/gribprobe.h"
#include "readers/gribtest.h"
#include "support/programdir.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <set>

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
    // Soil layers named by their tops; layers sharing a top named by their middles.
    auto layer = [](const char* name, long top, long bottom) {
        return withGribKeys(gribMessage(small(name, 0, 2, "surface")),
                            {{"typeOfFirstFixedSurface", 106}, {"typeOfSecondFixedSurface", 106},
                             {"scaleFactorOfFirstFixedSurface", 1}, {"scaledValueOfFirstFixedSurface", top},
                             {"scaleFactorOfSecondFixedSurface", 1}, {"scaledValueOfSecondFixedSurface", bottom}});
    };
    // Satellite products: no fixed surface, so no row.
    const QByteArray satellite = withGribKeys({}, {{"productDefinitionTemplateNumber", 32}});
    const QByteArray bytes = gribMessage(small("t", 850)) + gribMessage(small("t", 500)) +
                             gribMessage(small("r", 850)) + satellite + gribMessage(small("t", 700)) +
                             gribMessage(small("t", 700, 1)) + gribMessage(small("t", 0, 1, "surface")) +
                             satellite + gribMessage(unknown) + gribMessage(m0) + gribMessage(m1) + satellite +
                             layer("t", 0, 1) + layer("t", 1, 4) + layer("t", 0, 1) + layer("r", 1, 4) +
                             layer("r", 1, 10);
    const QString path = file("probe.grib", bytes);

    gribReader r;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(r.fileProbe(path, path + ".csv"));
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(out.rfind("lala2\n", 0), 0u) << out;
    EXPECT_NE(out.find("name:Temperature\n"), std::string::npos);
    EXPECT_NE(out.find("pname:199\n"), std::string::npos);
    EXPECT_EQ(err, (path + ": 3 messages of t (product template 4.32 has no fixed surface) are left out of the "
                           "table\n").toStdString());

    QFile shipped(KELVANE_CONFIG_DIR "/default.csv");
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    const QStringList shippedLines = QString::fromUtf8(shipped.readAll()).split('\n');

    const QStringList got = lines(path + ".csv");
    ASSERT_EQ(got.size(), 16);
    EXPECT_EQ(got[0], "模式转NC配置文件,,,,,,,");
    EXPECT_EQ(got[1], "程序设置,重写开关,文件类型,配置文件版本,,,,,,,,,,,,,");
    EXPECT_EQ(got[2], ",0,grib,2.0,,,,,,,");
    EXPECT_EQ(got[3], "开始经度,结束经度,开始纬度,结束纬度,,,,");
    EXPECT_EQ(got[4], "100,102,28,30,,,,");
    EXPECT_EQ(got[5], "原变量名,,,,,,,,,新变量名,,,,,,,");
    EXPECT_EQ(got[6], shippedLines[6]);
    EXPECT_EQ(got[7], shippedLines[7]);
    // Ascending group key; GRIB 1 rows have no surface, a row per level type. A short name
    // met again takes the level type in its output name; each level is listed once.
    EXPECT_TRUE(got[8].startsWith("199,unknown,Isobaric surface,,,,,0,0,199,unknown,")) << got[8].toStdString();
    EXPECT_TRUE(got[8].endsWith(",,,300,0,1"));
    const char* const rows[] = {
        "r,Relative humidity,Depth below land surface,,,,,0,0,r,Relative humidity,%,,,0.25;0.55,0,1",
        "r,Relative humidity,Isobaric surface,,,,,0,0,r_isobaricInhPa,Relative humidity,%,,,850,0,1",
        "t,Temperature,Depth below land surface,,,,,0,0,t,Temperature,K,,,0;0.1,0,1",
        "t,Temperature,Isobaric surface,,,,,0,0,t_isobaricInhPa,Temperature,K,,,850;500;700,0,1",
        "t,Temperature,,pl,,,,0,0,t_isobaricInhPa_2,Temperature,K,,,700,0,1",
        "t,Temperature,,sfc,,,,0,0,t_surface,Temperature,K,,,0,0,1",
        "u,U component of wind,Isobaric surface,,,,,0,0,u,U component of wind,m s**-1,,,850,0,1",
    };
    for (int k = 0; k < 7; ++k)
        EXPECT_EQ(got[9 + k].toStdString(), rows[k]);

    CsvFileParser parser;
    ASSERT_EQ(parser.load(path + ".csv"), 0);
    EXPECT_EQ(parser.m_fileType, "grib");
    EXPECT_NE(parser.find("t_Isobaric surface_"), nullptr);
    EXPECT_NE(parser.find("t__pl"), nullptr);
    EXPECT_EQ(parser.m_ocsv.size(), 8u);
    EXPECT_EQ(parser.m_ocsv_for_read.size(), 8u);
}

TEST(GribProbeNames, OutputNamesAreUniqueNetcdfNames)
{
    struct Case {
        std::vector<OutputNameOf> rows;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {{{"t", "isobaricInhPa"}, {"t", "surface"}, {"r", "surface"}, {"t", "surface"}},
         {"t", "t_surface", "r", "t_surface_2"}},
        // A short name with its level type is another row's short name.
        {{{"t", "isobaricInhPa"}, {"t", "isobaricInhPa"}, {"t_isobaricInhPa", "sigma"}},
         {"t", "t_isobaricInhPa_2", "t_isobaricInhPa"}},
        {{{"a b", "surface"}, {"a/b", "sigma layer"}, {"c,d\x01", ""}, {" c,d\x01", ""}},
         {"a_b", "a_b_sigma_layer", "c_d_", "c_d__2"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(uniqueOutputNames(c.rows), c.names);
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

// The area row spans the first message's grid, so that converting the file
// with its own table puts every point of that grid in a cell of its own.
TEST_F(GribTest, ProbeAreaSpansTheFirstGrid)
{
    auto grid = [](int edition, double lon, double lat, long ni, double step, bool westward, bool northward) {
        GribField f = small("t", 850, edition);
        f.firstLon = lon, f.firstLat = lat, f.ni = ni, f.step = step;
        f.westward = westward, f.southToNorth = northward;
        fillPattern(f);
        return gribMessage(f);
    };
    enum Check { FixedArea, Points, Cells };
    struct Case {
        const char* what;
        QString path;
        QString area;  // empty: any that holds every point
        Check check;
    };
    const Case cases[] = {
        {"eastward", file("e.grib", grid(2, 100, 30, 5, 0.5, false, false)), "100,102,29,30", Cells},
        {"westward", file("w.grib", grid(2, 102, 30, 5, 0.5, true, false)), "100,102,29,30", Cells},
        {"south to north", file("n.grib", grid(2, 100, 10, 5, 0.5, false, true)), "100,102,10,11", Cells},
        {"across the antimeridian", file("a2.grib", grid(2, 170, 30, 21, 1, false, false)), "170,190,28,30",
         Cells},
        {"across the antimeridian, signed",
         file("a1.grib",
              withGribKeys(grid(1, 170, 30, 21, 1, false, false), {{"longitudeOfLastGridPointInDegrees", -170}})),
         "170,-170,28,30", Cells},
        {"polar stereographic", file("p.grib", withGribKeys({}, {}, "polar_stereographic_pl_grib2")), "", Points},
        {"lambert", sharedFile("lambert_grid.grib"), "", Points},
        {"global", sharedFile("gfs.t12z.pgrbf120.2p5deg.grib2"), "0,357.5,-90,90", Cells},
        {"spectral", file("s.grib", withGribKeys({}, {}, "sh_ml_grib2")), "80,137,12,60", FixedArea},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.path.isEmpty())
            continue;  // not in the shared data folder
        const QString table = m_dir.path() + "/area.csv";
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        ASSERT_TRUE(gribReader().fileProbe(c.path, table));
        ::testing::internal::GetCapturedStdout();
        const bool said = ::testing::internal::GetCapturedStderr().find("gives no coordinates") != std::string::npos;
        EXPECT_EQ(said, c.check == FixedArea);
        const QStringList area = lines(table).value(4).split(',');
        if (!c.area.isEmpty()) {
            EXPECT_EQ(area.mid(0, 4).join(",").toStdString(), c.area.toStdString());
        }
        if (c.check == FixedArea)
            continue;
        // Every point on the shortest eastward run of longitudes that holds
        // them all (no gap within it wider than the one left out), and
        // between the lowest and highest latitude.
        const double lon0 = area[0].toDouble(), lon1 = area[1].toDouble();
        const double span = lon1 >= lon0 ? lon1 - lon0 : lon1 - lon0 + 360;
        const DecodedField first = decodeGribFile(c.path, 1).front();
        std::vector<double> east;
        for (double lon : first.lons)
            east.push_back(std::fmod(std::fmod(lon - lon0, 360.0) + 360.0, 360.0));
        std::sort(east.begin(), east.end());
        // Numbers are written as tables are read: in single precision.
        EXPECT_LE(east.back(), span + 1e-4);
        for (size_t k = 1; k < east.size(); ++k)
            ASSERT_LE(east[k] - east[k - 1], 360 - span + 1e-4) << east[k];
        EXPECT_EQ(area[2].toFloat(), static_cast<float>(*std::min_element(first.lats.begin(), first.lats.end())));
        EXPECT_EQ(area[3].toFloat(), static_cast<float>(*std::max_element(first.lats.begin(), first.lats.end())));
        if (c.check != Cells)
            continue;

        ASSERT_EQ(CsvFileParser::getInstance()->load(table), 0);
        gribReader r;
        ::testing::internal::CaptureStdout();
        EXPECT_TRUE(r.readFile(c.path));
        ::testing::internal::GetCapturedStdout();
        // Its key's level type is that of GRIB 1 messages, empty for GRIB 2.
        const auto entry = r.m_cache[0].lower_bound(first.shortName + "_" + first.surface + "_");
        ASSERT_NE(entry, r.m_cache[0].end());
        const p_data& rec = entry->second.front();
        ASSERT_EQ(rec.lon.size(), std::set<double>(first.lons.begin(), first.lons.end()).size());
        ASSERT_EQ(rec.lat.size(), std::set<double>(first.lats.begin(), first.lats.end()).size());
        auto cell = [](const std::vector<double>& axis, double v) {
            return std::find_if(axis.begin(), axis.end(),
                                [&](double a) { return std::fabs(std::remainder(a - v, 360.0)) < 1e-3; }) -
                   axis.begin();
        };
        for (size_t k = 0; k < first.values.size(); ++k) {
            const size_t row = size_t(cell(rec.lat, first.lats[k])), column = size_t(cell(rec.lon, first.lons[k]));
            const size_t at = row * rec.lon.size() + column;
            ASSERT_EQ(rec.data.at(at), first.values[k]) << first.lons[k] << "," << first.lats[k];
        }
    }
}
