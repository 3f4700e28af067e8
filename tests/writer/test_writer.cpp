// The netCDF file the writer makes: layout, values, levels, grids,
// compression, ensembles, and how it replaces an existing output.
#include "app/outputlock.h"
#include "logging/version.h"
#include "support/fatalend.h"
#include "support/programdir.h"
#include "writer/writertest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <netcdf.h>

#include <cmath>

namespace {

using Names = std::vector<std::string>;

double pattern(int i, int j)
{
    return 100.0 + i + 1000.0 * j;
}

std::vector<std::pair<std::string, size_t>> dimsOf(std::initializer_list<std::pair<const char*, size_t>> l)
{
    std::vector<std::pair<std::string, size_t>> out;
    for (const auto& [n, s] : l)
        out.emplace_back(n, s);
    return out;
}

}  // namespace

TEST_F(WriterTest, SingleMemberLayoutNamesOrderAndAttributes)
{
    useTable({{"sp", "Ground", "", "PS", "", "0.01", "", "0", "1", "hPa"},
              {"t", "Isobaric surface", "", "T", "850;500", "", "-273.15"}});
    // 281 x 201 points; latitude step differs from the longitude step.
    add(makeField("sp", "Ground", 0, 281, 201, 80, 10, 0.25, 0.5, [](int i, int j) { return 100000.0 + i + j; }));
    add(makeField("t", "Isobaric surface", 500, 281, 201, 80, 10, 0.25, 0.5, [](int i, int j) { return 250.0 + 0.01 * i + j; }));
    p_data t850 = makeField("t", "Isobaric surface", 850, 281, 201, 80, 10, 0.25, 0.5,
                            [](int i, int j) { return 280.0 + 0.01 * i + j; });
    t850.data[5] = 9999.0;  // a missing point keeps the fill value
    add(t850);
    writeOutput(output());

    EXPECT_FALSE(QFile::exists(output() + ".tmp"));
    NcFile nc(output());
    ASSERT_TRUE(nc.ok());
    EXPECT_EQ(nc.format(), NC_FORMAT_NETCDF4);
    // Global attributes; no history when the caller gives none.
    EXPECT_EQ(nc.globals().attributeNames(), Names({"Conventions", "source"}));
    EXPECT_EQ(nc.globals().attribute("Conventions")->text, "CF-1.8");
    EXPECT_EQ(nc.globals().attribute("source")->text, programNameAndVersion());
    EXPECT_EQ(nc.dims(), dimsOf({{"g0_lon_0", 281}, {"g0_lat_0", 201}, {"level_0", 2}}));
    // The time coordinates come after the layout's variables.
    EXPECT_EQ(nc.variableNames(),
              Names({"g0_lat_0", "g0_lon_0", "level_0", "PS", "T", "time_0", "reftime_0", "period_0"}));

    const NcVariable* lat = nc.variable("g0_lat_0");
    const NcVariable* lon = nc.variable("g0_lon_0");
    EXPECT_EQ(lat->attributeNames(), Names({"long_name", "_CoordinateAxisType", "units", "Dj", "Di", "La2", "La1", "Lo2",
                                            "Lo1", "standard_name", "axis"}));
    EXPECT_EQ(lon->attributeNames(), Names({"long_name", "_CoordinateAxisType", "units", "Di", "Dj", "Lo2", "Lo1", "La2",
                                            "La1", "standard_name", "axis"}));
    EXPECT_EQ(lat->attribute("standard_name")->text, "latitude");
    EXPECT_EQ(lat->attribute("axis")->text, "Y");
    EXPECT_EQ(lon->attribute("standard_name")->text, "longitude");
    EXPECT_EQ(lon->attribute("axis")->text, "X");
    EXPECT_EQ(lon->attribute("long_name")->text, "longitude");
    EXPECT_EQ(lon->attribute("_CoordinateAxisType")->text, "Lon");
    EXPECT_EQ(lon->attribute("units")->text, "degrees_east");
    EXPECT_EQ(lat->attribute("long_name")->text, "latitude");
    EXPECT_EQ(lat->attribute("_CoordinateAxisType")->text, "Lat");
    EXPECT_EQ(lat->attribute("units")->text, "degrees_north");
    for (const NcVariable* v : {lat, lon}) {
        // "Dj" carries the longitude step.
        EXPECT_FLOAT_EQ(v->attribute("Dj")->numbers[0], 0.25f);
        EXPECT_FLOAT_EQ(v->attribute("Di")->numbers[0], 0.5f);
        EXPECT_FLOAT_EQ(v->attribute("Lo1")->numbers[0], 80.0f);
        EXPECT_FLOAT_EQ(v->attribute("Lo2")->numbers[0], 150.0f);
        EXPECT_FLOAT_EQ(v->attribute("La1")->numbers[0], 10.0f);
        EXPECT_FLOAT_EQ(v->attribute("La2")->numbers[0], 110.0f);
        EXPECT_EQ(v->attribute("Dj")->type, NC_FLOAT);
    }
    const std::vector<float> lons = nc.floats("g0_lon_0");
    EXPECT_FLOAT_EQ(lons[1], 80.25f);
    EXPECT_FLOAT_EQ(nc.floats("g0_lat_0")[200], 110.0f);
    EXPECT_EQ(nc.floats("level_0"), std::vector<float>({850, 500}));
    EXPECT_EQ(nc.variable("level_0")->attribute("long_name")->text, "isobaric level");
    EXPECT_EQ(nc.variable("level_0")->attribute("units")->text, "hPa");
    EXPECT_EQ(nc.variable("level_0")->attributeNames(),
              Names({"long_name", "units", "standard_name", "positive", "axis"}));

    const NcVariable* T = nc.variable("T");
    EXPECT_EQ(T->dims, Names({"level_0", "g0_lat_0", "g0_lon_0"}));
    EXPECT_EQ(nc.variable("PS")->dims, Names({"g0_lat_0", "g0_lon_0"}));
    EXPECT_EQ(T->attributeNames(), Names({"grid_type", "initial_time", "forcast_time_units", "forcast_time", "long_name",
                                          "nameOfFirstFixedSurface", "indicatorOfTypeOfLevel", "_FillValue", "units",
                                          "dimDx", "calByKVL", "coordinates"}));
    EXPECT_EQ(T->attribute("coordinates")->text, "time_0 reftime_0 period_0");
    EXPECT_EQ(T->attribute("grid_type")->text, "Latitude/longitude");
    EXPECT_EQ(T->attribute("initial_time")->text, "202612080000");
    EXPECT_EQ(T->attribute("forcast_time_units")->text, "hours");
    EXPECT_EQ(T->attribute("forcast_time")->type, NC_INT);
    EXPECT_EQ(T->attribute("forcast_time")->numbers[0], 24);
    EXPECT_EQ(T->attribute("long_name")->text, "T long name");
    EXPECT_EQ(T->attribute("nameOfFirstFixedSurface")->text, "Isobaric surface");
    EXPECT_EQ(T->attribute("indicatorOfTypeOfLevel")->text, "");
    EXPECT_EQ(T->attribute("_FillValue")->numbers[0], 9999.0);
    EXPECT_EQ(T->attribute("units")->text, "input-units");
    EXPECT_EQ(nc.variable("PS")->attribute("units")->text, "hPa");
    EXPECT_EQ(T->attribute("dimDx")->numbers[0], 2);
    EXPECT_EQ(T->attribute("calByKVL")->numbers[0], 0);

    // The 850 slice first, then the 500 one; rescaled in double precision, fill values kept.
    const std::vector<float> t = nc.floats("T");
    ASSERT_EQ(t.size(), 2u * 281 * 201);
    const size_t slice = 281 * 201;
    const double offset = static_cast<double>(-273.15f);
    EXPECT_EQ(t[0], static_cast<float>(280.0 * 1.0 + offset));
    EXPECT_EQ(t[5], 9999.0f);
    EXPECT_EQ(t[281 * 7 + 3], static_cast<float>((280.0 + 0.01 * 3 + 7) * 1.0 + offset));
    EXPECT_EQ(t[slice + 281 * 7 + 3], static_cast<float>((250.0 + 0.01 * 3 + 7) * 1.0 + offset));
    EXPECT_EQ(nc.floats("PS")[281 * 2 + 1], static_cast<float>((100000.0 + 3) * static_cast<double>(0.01f)));
    EXPECT_NE(m_stdout.find("alloc oncstarct data,size = 112962\n"), std::string::npos) << m_stdout;
}

TEST_F(WriterTest, LevelListsDecideTheSlices)
{
    useTable({{"t", "s", "", "T3", "1000;850;500"},
              {"r", "s", "", "R1", "500"},
              {"u", "s", "", "U0", ""},
              {"v", "s", "", "V2", "850;500"}});
    for (int level : {500, 850})
        add(makeField("t", "s", level, 3, 2, 100, 30, 1, 1, [level](int i, int j) { return level + i + 10 * j; }));
    add(makeField("r", "s", 700, 3, 2, 100, 30, 1, 1, pattern));
    for (int level : {300, 200, 250})
        add(makeField("u", "s", level, 3, 2, 100, 30, 1, 1, [level](int, int) { return level; }));
    for (int level : {700, 500})
        add(makeField("v", "s", level, 3, 2, 100, 30, 1, 1, [level](int, int) { return level; }));
    writeOutput(output());

    NcFile nc(output());
    // Axes are numbered by first use in key order: r, t, u, v.
    EXPECT_EQ(nc.dims(), dimsOf({{"g0_lon_0", 3}, {"g0_lat_0", 2}, {"level_0", 1}, {"level_1", 3}, {"level_2", 2}}));
    EXPECT_EQ(nc.floats("level_1"), std::vector<float>({1000, 850, 500}));

    const std::vector<float> t = nc.floats("T3");
    ASSERT_EQ(t.size(), 18u);
    for (size_t k = 0; k < 6; ++k)
        EXPECT_EQ(t[k], 9999.0f);
    EXPECT_EQ(t[6], 850.0f);
    EXPECT_EQ(t[12 + 4], 500.0f + 1 + 10);

    // A one-entry list takes any level into its one slice; the variable is two-dimensional.
    EXPECT_EQ(nc.variable("R1")->dims, Names({"g0_lat_0", "g0_lon_0"}));
    EXPECT_EQ(nc.floats("R1")[4], static_cast<float>(pattern(1, 1)));
    // Without a list the highest level, processed last, remains.
    EXPECT_EQ(nc.floats("U0"), std::vector<float>(6, 300.0f));
    // A level outside the list is dropped.
    const std::vector<float> v = nc.floats("V2");
    EXPECT_EQ(std::vector<float>(v.begin(), v.begin() + 6), std::vector<float>(6, 9999.0f));
    EXPECT_EQ(std::vector<float>(v.begin() + 6, v.end()), std::vector<float>(6, 500.0f));
}

TEST_F(WriterTest, GridsAreSharedByKeyAndNumberedByFirstUse)
{
    useTable({{"a", "s", "", "A"}, {"b", "s", "", "B"}, {"c", "s", "", "C"}});
    add(makeField("a", "s", 0, 4, 3, 100.004, 30, 0.5, 0.5, pattern));
    add(makeField("b", "s", 0, 2, 2, 90, 20, 1, 1, pattern));
    // Same spacing code and first point as A to two decimals: A's grid.
    add(makeField("c", "s", 0, 4, 3, 100.001, 30.001, 0.5, 0.5, pattern));
    writeOutput(output());
    NcFile nc(output());
    EXPECT_EQ(nc.dims(), dimsOf({{"g0_lon_0", 4}, {"g0_lat_0", 3}, {"g0_lon_1", 2}, {"g0_lat_1", 2}}));
    // Coordinate variables in grid-key order: "4_100.00_30.00" before "8_90.00_20.00".
    EXPECT_EQ(nc.variableNames(), Names({"g0_lat_0", "g0_lon_0", "g0_lat_1", "g0_lon_1", "A", "B", "C", "time_0",
                                         "reftime_0", "period_0"}));
    EXPECT_EQ(nc.variable("C")->dims, Names({"g0_lat_0", "g0_lon_0"}));
    // The first variable written on a grid gives its coordinates.
    EXPECT_FLOAT_EQ(nc.floats("g0_lon_0")[0], 100.004f);
}

TEST_F(WriterTest, CompressionWriteSwitchAndMissingTableRows)
{
    useTable({{"a", "s", "", "A", "", "", "", "4"},
              {"b", "s", "", "B", "", "", "", "12"},
              {"c", "s", "", "C", "", "", "", "0"},
              {"d", "s", "", "D", "", "", "", "1", "0"}});
    for (const char* name : {"a", "b", "c", "d", "e"})
        add(makeField(name, "s", 0, 3, 3, 100, 30, 1, 1, pattern));
    writeOutput(output());
    NcFile nc(output());
    int shuffle = -1;
    EXPECT_EQ(nc.deflateLevel("A", &shuffle), 4);
    EXPECT_EQ(shuffle, 0);
    EXPECT_EQ(nc.deflateLevel("B"), 9);
    EXPECT_EQ(nc.deflateLevel("C"), 0);
    EXPECT_EQ(nc.variable("D"), nullptr);
    EXPECT_EQ(nc.variableNames(), Names({"g0_lat_0", "g0_lon_0", "A", "B", "C", "time_0", "reftime_0", "period_0"}));
    EXPECT_EQ(nc.floats("A")[4], static_cast<float>(pattern(1, 1)));
}

TEST_F(WriterTest, WriteScalingIsExactAndLeavesTheStoreAsItWas)
{
    // Scale and offset pairs as a table gives them; several round differently
    // when the arithmetic is done in float.
    const std::vector<std::pair<QString, QString>> pairs = {
        {"0.01", ""}, {"1", "-273.15"}, {"3.3", "0.1"}, {"1e-05", "-0.7"}, {"7.77", "-1.11"}, {"100000", "0.3"}};
    std::vector<Row> rows;
    for (size_t c = 0; c < pairs.size(); ++c)
        rows.push_back({QString("k%1").arg(c), "s", "", QString("K%1").arg(c), "850;500", pairs[c].first,
                        pairs[c].second});
    useTable(rows);
    for (size_t c = 0; c < pairs.size(); ++c) {
        // Not in level order: the store keeps its order of arrival.
        for (int level : {850, 500}) {
            p_data f = makeField("k" + std::to_string(c), "s", level, 5, 4, 100, 30, 1, 1,
                                 [=](int i, int j) { return 287.123456789 * level / 500 + 0.37 * i - 1.1 * j; });
            f.data[7] = 9999.0;
            add(f);
        }
    }
    const std::vector<CachedData> before = m_store;
    writeOutput(output());
    writeOutput(output("again.nc"));

    NcFile nc(output()), again(output("again.nc"));
    size_t floatRoundingDiffers = 0;
    for (size_t c = 0; c < pairs.size(); ++c) {
        const std::string key = "k" + std::to_string(c) + "_s_";
        const CSV_FILE* row = CsvFileParser::getInstance()->find(key);
        ASSERT_NE(row, nullptr);
        const std::string name = "K" + std::to_string(c);
        const std::vector<float> written = nc.floats(name);
        ASSERT_EQ(written.size(), 40u) << name;
        EXPECT_EQ(again.floats(name), written) << name;
        const std::vector<p_data>& fields = before[0].at(key);
        for (size_t k = 0; k < written.size(); ++k) {
            const double v = fields[k / 20].data[k % 20];
            // In double: value x amplification + offset, rounded to float once.
            const float expected =
                v == 9999.0 ? 9999.0f
                            : static_cast<float>(v * static_cast<double>(row->amplification) + static_cast<double>(row->offset));
            EXPECT_EQ(written[k], expected) << name << " at " << k;
            if (v != 9999.0 && static_cast<float>(v) * row->amplification + row->offset != expected)
                ++floatRoundingDiffers;
        }
    }
    EXPECT_GT(floatRoundingDiffers, 0u);

    // Values and order of the fields as before the writes.
    for (const auto& [key, fields] : before[0]) {
        const std::vector<p_data>& now = m_store[0].at(key);
        ASSERT_EQ(now.size(), fields.size()) << key;
        for (size_t i = 0; i < fields.size(); ++i) {
            EXPECT_EQ(now[i].level, fields[i].level) << key;
            EXPECT_EQ(now[i].data, fields[i].data) << key << " level " << fields[i].level;
        }
    }
}

TEST_F(WriterTest, FieldsThatCannotBePlacedAreLeftOutWithTheirReason)
{
    useTable({{"t", "a", "", "T", "850;500"}, {"tt", "b", "", "T", "850;500"}, {"s", "s", "", "S", "850;500"},
              {"r", "s", "", "R", "500;850"}, {"u", "s", "", "U"}, {"w", "s", "", "W", "850"},
              {"x", "s", "", "X", "850;500"}, {"z", "s", "", "Z", "", "", "", "0", "0"}});
    // Each field: its key, level, grid size, forecast time, value, and
    // whether it reaches the output (with the reason counted when not).
    struct Case {
        const char* name;
        const char* surface;
        int level;
        int size;
        int64_t time;
        double value;
        const char* dropped;  // nullptr: placed
    };
    const Case cases[] = {
        {"t", "a", 850, 3, 24, 1, nullptr},
        // Another key of T on another grid: its values would land at the
        // coordinates of T's grid.
        {"tt", "b", 500, 4, 24, 2, "its grid differs from its variable's"},
        {"s", "s", 500, 2, 24, 3, nullptr},
        {"s", "s", 850, 3, 24, 4, "its grid differs from its variable's"},
        // The variable's time is its first field's; another would be written
        // under it.
        {"r", "s", 500, 2, 12, 5, nullptr},
        {"r", "s", 850, 2, 24, 6, "its forecast time differs from its variable's"},
        // One slot, two fields: the later one in level order is kept.
        {"u", "s", 1000, 2, 24, 7, nullptr},
        {"u", "s", 300, 2, 24, 8, "another field of the run takes its slot"},
        {"w", "s", 700, 2, 24, 9, "its level is not in its row's list"},
        {"w", "s", 850, 2, 24, 10, nullptr},
        {"x", "s", 700, 2, 24, 11, "its level is not in its row's list"},
        {"z", "s", 0, 2, 24, 12, "its row's write switch is off"},
    };
    uint64_t origin = 0;
    for (const Case& c : cases) {
        p_data f = makeField(c.name, c.surface, c.level, c.size, c.size, 100, 30, 1, 1,
                             [&](int, int) { return c.value; });
        f.forecastTime = c.time;
        f.origin = ++origin;
        add(f);
    }
    ASSERT_TRUE(writeBytes(output(), "old output"));
    ::testing::internal::CaptureStderr();
    nclWriter writer;
    writer.setOriginNamer([](uint64_t o) { return QString("field %1").arg(o); });
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(writer.plan(m_store.data()), 5u);
    writer.writePlanned(output().toStdString());
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();

    origin = 0;
    for (const Case& c : cases) {
        ++origin;
        const auto dropped = writer.droppedOrigins().find(origin);
        if (c.dropped) {
            ASSERT_NE(dropped, writer.droppedOrigins().end()) << c.name << " " << c.level;
            EXPECT_EQ(dropped->second, c.dropped) << c.name << " " << c.level;
        }
        EXPECT_EQ(writer.placedOrigins().count(origin), c.dropped ? 0u : 1u) << c.name << " " << c.level;
    }
    NcFile nc(output());
    ASSERT_TRUE(nc.ok());
    EXPECT_EQ(nc.variable("X"), nullptr);
    EXPECT_EQ(nc.variable("Z"), nullptr);
    EXPECT_EQ(nc.floats("T"), std::vector<float>({1, 1, 1, 1, 1, 1, 1, 1, 1, 9999, 9999, 9999, 9999, 9999, 9999,
                                                  9999, 9999, 9999}));
    EXPECT_EQ(nc.floats("S"), std::vector<float>({9999, 9999, 9999, 9999, 3, 3, 3, 3}));
    EXPECT_EQ(nc.floats("R"), std::vector<float>({5, 5, 5, 5, 9999, 9999, 9999, 9999}));
    EXPECT_EQ(nc.floats("U"), std::vector<float>(4, 7.0f));
    EXPECT_EQ(nc.floats("W"), std::vector<float>(4, 10.0f));
    EXPECT_NE(out.find("error:sum =1 name:r  forcastTime 24g_fo:24\n"), std::string::npos) << out;
    for (const char* line :
         {"[WRITE NC] U: two fields for its one level; field 7 (level 1000) is kept, field 8 (level 300) is dropped\n",
          "[WRITE NC] X is not written: none of its fields can be placed (its level is not in its row's list: 1)\n",
          "[WRITE NC] T: no input holds the level 500 its row lists; it holds the fill value\n"})
        EXPECT_NE(err.find(line), std::string::npos) << line << err;
}

TEST_F(WriterTest, NothingPlacedLeavesTheOldOutputAndTheLockToItsOwner)
{
    useTable({{"t", "s", "", "T", "850;500"}});
    add(makeField("t", "s", 700, 2, 2, 100, 30, 1, 1, pattern));
    ASSERT_TRUE(writeBytes(output(), "old output"));
    {
        OutputLock lock(output());
        ASSERT_EQ(lock.acquire(), OutputLock::Result::Acquired);
        ::testing::internal::CaptureStderr();
        nclWriter writer;
        EXPECT_EQ(writer.plan(m_store.data()), 0u);
        writer.writePlanned(output().toStdString());
        ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(writer.variablesWritten(), 0u);
        EXPECT_TRUE(QFile::exists(output() + ".tmp"));
    }
    EXPECT_EQ(readAll(output()), QByteArray("old output"));
    EXPECT_FALSE(QFile::exists(output() + ".tmp"));
}

TEST_F(WriterTest, RunWithoutVariablesMakesNoFile)
{
    useTable({{"t", "s", "", "T", "850;500"}});
    add(makeField("x", "s", 0, 2, 2, 100, 30, 1, 1, pattern));
    // A field without values: its row registers a level axis, but no variable is made.
    p_data empty = makeField("t", "s", 850, 2, 2, 100, 30, 1, 1, pattern);
    empty.data.clear();
    add(empty);
    ASSERT_TRUE(writeBytes(output(), "earlier output"));
    writeOutput(output());
    // Nothing would be written: the earlier output stays, nothing is made.
    EXPECT_EQ(readAll(output()), QByteArray("earlier output"));
    EXPECT_FALSE(QFile::exists(output() + ".tmp"));
    EXPECT_NE(m_stdout.find("error: [T] data is empty\n"), std::string::npos) << m_stdout;
}

TEST_F(WriterTest, EnsembleLayoutConcatenatesMembersAndFillsAMissingOne)
{
    useTable({{"t", "s", "", "T", "850;500"}, {"r", "s", "", "R", ""}});
    g_collect_number = 2;
    for (int m = 0; m <= 2; ++m) {
        for (int level : {850, 500})
            add(makeField("t", "s", level, 4, 3, 100, 30, 1, 1,
                          [=](int i, int j) { return 1000 * m + level + i + 10 * j; }, m));
        if (m != 1)
            add(makeField("r", "s", 0, 4, 3, 100, 30, 1, 1, [=](int, int) { return m; }, m));
    }
    writeOutput(output());
    NcFile nc(output());
    EXPECT_EQ(nc.dims(), dimsOf({{"ens", 3}, {"g0_lon_0", 4}, {"g0_lat_0", 3}, {"level_0", 2}}));
    EXPECT_EQ(nc.variableNames(),
              Names({"g0_lat_0", "g0_lon_0", "level_0", "ens", "R", "T", "time_0", "reftime_0", "period_0"}));
    const NcVariable* ens = nc.variable("ens");
    EXPECT_EQ(ens->type, NC_INT);
    EXPECT_TRUE(ens->attributes.empty());
    EXPECT_EQ(nc.ints("ens"), std::vector<int>({0, 1, 2}));
    const NcVariable* T = nc.variable("T");
    EXPECT_EQ(T->dims, Names({"ens", "level_0", "g0_lat_0", "g0_lon_0"}));
    EXPECT_EQ(T->attribute("dimDx"), nullptr);
    const std::vector<float> t = nc.floats("T");
    ASSERT_EQ(t.size(), 72u);
    for (int m = 0; m <= 2; ++m)
        for (int s = 0; s < 2; ++s)
            EXPECT_EQ(t[static_cast<size_t>(m * 24 + s * 12 + 5)], 1000.0f * m + (s == 0 ? 850 : 500) + 1 + 10);
    EXPECT_EQ(nc.variable("R")->dims, Names({"ens", "g0_lat_0", "g0_lon_0"}));
    const std::vector<float> r = nc.floats("R");
    ASSERT_EQ(r.size(), 36u);
    EXPECT_EQ(r[0], 0.0f);
    EXPECT_EQ(r[12], 9999.0f);  // member 1 has no R
    EXPECT_EQ(r[24], 2.0f);
    EXPECT_NE(m_stdout.find("123123\n#def var of R\n#def var of T\ndef nc var\n"), std::string::npos) << m_stdout;
}

TEST_F(WriterTest, InstallingTheFileReleasesTheLockAndReplacesTheOldOutput)
{
    useTable({{"t", "s", "", "T"}});
    add(makeField("t", "s", 0, 2, 2, 100, 30, 1, 1, pattern));
    ASSERT_TRUE(writeBytes(output(), "old output"));
    {
        OutputLock lock(output());
        ASSERT_EQ(lock.acquire(), OutputLock::Result::Acquired);
        writeOutput(output());
        // The working file became the output; the lock is the run's until
        // it lets go of it.
        EXPECT_FALSE(QFile::exists(lock.workingPath()));
        EXPECT_TRUE(QFile::exists(output() + ".tmp"));
        lock.release();
    }
    EXPECT_FALSE(QFile::exists(output() + ".tmp"));
    NcFile nc(output());
    EXPECT_EQ(nc.floats("T").size(), 4u);
}

TEST_F(WriterTest, AFailedInstallLeavesTheOldOutputAndEndsWithStatus2)
{
    useTable({{"t", "s", "", "T"}});
    add(makeField("t", "s", 0, 2, 2, 100, 30, 1, 1, pattern));
    // The output name is taken by a directory that is not empty: the rename fails.
    const QString out = output("taken.nc");
    ASSERT_TRUE(QDir().mkpath(out + "/inside"));
    EXPECT_TRUE(endsRun(
        [&] {
            OutputLock lock(out);
            ASSERT_EQ(lock.acquire(), OutputLock::Result::Acquired);
            nclWriter().write(m_store.data(), out.toStdString(), "");
        },
        2, "cannot install .*taken\\.nc\\.part as .*taken\\.nc"));
    EXPECT_TRUE(QDir(out + "/inside").exists());
    EXPECT_FALSE(QFile::exists(out + ".tmp"));
    EXPECT_FALSE(QFile::exists(out + ".part"));
}

TEST(WriterObject, IsBuiltBesideTheProgramWithTheWriter)
{
    const QString object = QFileInfo(KELVANE_EXE).absolutePath() + "/nclwriter.o";
    ASSERT_TRUE(QFile::exists(object));
    QProcess nm;
    nm.start("nm", {"-C", "--defined-only", object});
    ASSERT_TRUE(nm.waitForFinished(30000));
    const QString symbols = QString::fromLocal8Bit(nm.readAllStandardOutput());
    for (const char* name : {"nclWriter::write(", "nclWriter::convertGrb2Nc(", "nclWriter::write2File(", "variableKey("})
        EXPECT_TRUE(symbols.contains(name)) << name;
}
