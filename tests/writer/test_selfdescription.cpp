// What the output says about itself beyond its layout: the kind of each
// level axis, time coordinates, standard names and the history a run adds.
#include "writer/levelaxes.h"
#include "writer/ncput.h"
#include "writer/timecoordinates.h"
#include "writer/writertest.h"

namespace {

using Names = std::vector<std::string>;

// The level axis holding exactly these values.
const NcVariable* axisOf(const NcFile& nc, const std::vector<float>& values)
{
    for (const NcVariable& v : nc.variables())
        if (v.name.rfind("level_", 0) == 0 && nc.floats(v.name) == values)
            return nc.variable(v.name);
    return nullptr;
}

}  // namespace

TEST_F(WriterTest, LevelAxesAreLabelledByTheKindOfTheirFirstKnownVariable)
{
    struct Case {
        const char* name;
        const char* surface;    // GRIB 2 surface name
        const char* levelType;  // GRIB 1 level type text
        int indicator;          // GRIB 1 level indicator
        const char* levels;
        Names expected;  // long_name, units, standard_name, positive, axis
    };
    const Names isobaric = {"isobaric level", "hPa", "air_pressure", "down", "Z"};
    const Names height = {"height above ground", "m", "height", "up", "Z"};
    const Names asBefore = {"isobaric level", "hPa", "(none)", "(none)", "(none)"};
    const Case cases[] = {
        {"A", "Isobaric surface", "", 0, "850;500", isobaric},
        {"B", "Specified height level above ground", "", 0, "2", height},  // a two-dimensional variable
        {"C", "", "sfc", 105, "10;100", height},
        {"D", "", "pl", 0, "700;300", isobaric},
        {"E", "", "pt", 0, "320;330", {"isentropic level", "K", "air_potential_temperature", "up", "Z"}},
        {"F", "Specific altitude above mean sea level", "", 0, "1500;3000",
         {"altitude above mean sea level", "m", "altitude", "up", "Z"}},
        {"G", "Mean sea level", "", 0, "0;1", {"Mean sea level", "(none)", "(none)", "(none)", "(none)"}},
        {"H", "", "", 109, "5;6", {"Hybrid level", "(none)", "(none)", "(none)", "(none)"}},
        {"I", "", "sfc", 0, "3;4", asBefore},  // "sfc" names several kinds
        // Shared axes: the first variable of a known kind labels them.
        {"J", "", "", 0, "7;8", height},
        {"K", "Specified height level above ground", "", 0, "7;8", height},
        {"L", "Isobaric surface", "", 0, "9;11", isobaric},
        {"M", "Specified height level above ground", "", 0, "9;11", isobaric},
    };
    std::vector<Row> rows;
    for (const Case& c : cases)
        rows.push_back({QString(c.name).toLower(), c.surface, c.levelType, c.name, c.levels});
    useTable(rows);
    for (const Case& c : cases) {
        for (const QString& level : QString(c.levels).split(';')) {
            p_data f = makeField(QString(c.name).toLower().toStdString(), c.surface, level.toInt(), 2, 2, 100, 30, 1, 1,
                                 [](int, int) { return 1; });
            f.typedoflevels = c.levelType;
            f.prop_level_indicator = c.indicator;
            add(f);
        }
    }
    writeOutput(output());

    NcFile nc(output());
    for (const Case& c : cases) {
        std::vector<float> values;
        for (const QString& level : QString(c.levels).split(';'))
            values.push_back(level.toFloat());
        const NcVariable* axis = axisOf(nc, values);
        ASSERT_NE(axis, nullptr) << c.name;
        EXPECT_EQ(Names({attributeText(axis, "long_name"), attributeText(axis, "units"),
                         attributeText(axis, "standard_name"), attributeText(axis, "positive"),
                         attributeText(axis, "axis")}),
                  c.expected)
            << c.name;
    }
}

TEST_F(WriterTest, EachInitialAndForecastTimeHasItsOwnTimeCoordinates)
{
    struct Case {
        const char* name;
        const char* initialTime;
        int forecastTime;
        const char* standardName;  // of the input
        const char* coordinates;   // expected; empty: none
    };
    // Numbered in name order; "time_1" is a data variable's name, so that
    // number is passed over.
    const Case cases[] = {
        {"A", "202612081200", 24, "air_temperature", "time_0 reftime_0 period_0"},
        {"B", "20261208600", 6, "unknown", "time_2 reftime_2 period_2"},
        {"C", "202612081200", 24, "Air Temperature", "time_0 reftime_0 period_0"},
        {"D", "2026", 24, "", ""},
        {"E", "202612081200", -1, "", "reftime_3"},  // no forecast time: the reference time alone
        {"time_1", "202612081200", 24, "", "time_0 reftime_0 period_0"},
    };
    std::vector<Row> rows;
    for (const Case& c : cases)
        rows.push_back({QString(c.name).toLower(), "s", "", c.name});
    useTable(rows);
    for (const Case& c : cases) {
        p_data f = makeField(QString(c.name).toLower().toStdString(), "s", 0, 2, 2, 100, 30, 1, 1,
                             [](int, int) { return 1; });
        f.prop_initial_time = c.initialTime;
        f.forecastTime = c.forecastTime;
        f.prop_standardName = c.standardName;
        add(f);
    }
    writeOutput(output());

    NcFile nc(output());
    for (const Case& c : cases) {
        const NcVariable* v = nc.variable(c.name);
        ASSERT_NE(v, nullptr) << c.name;
        EXPECT_EQ(attributeText(v, "coordinates"), *c.coordinates ? c.coordinates : "(none)") << c.name;
        // Only a valid standard name is written.
        EXPECT_EQ(attributeText(v, "standard_name"), std::string(c.name) == "A" ? "air_temperature" : "(none)")
            << c.name;
    }
    // After the layout's variables, in the order of their numbers.
    const Names names = nc.variableNames();
    EXPECT_EQ(Names(names.end() - 7, names.end()),
              Names({"time_0", "reftime_0", "period_0", "time_2", "reftime_2", "period_2", "reftime_3"}));
    // standard_name, units, calendar and value of each.
    const char* const at12 = "hours since 2026-12-08 12:00:00";
    const std::pair<const char*, Names> scalars[] = {
        {"time_0", {"time", at12, "standard", "24"}},
        {"reftime_0", {"forecast_reference_time", at12, "standard", "0"}},
        {"period_0", {"forecast_period", "hours", "(none)", "24"}},
        {"time_2", {"time", "hours since 2026-12-08 06:00:00", "standard", "6"}},
        {"reftime_3", {"forecast_reference_time", at12, "standard", "0"}},
    };
    for (const auto& [name, expected] : scalars) {
        const NcVariable* v = nc.variable(name);
        ASSERT_TRUE(v && v->dims.empty()) << name;
        EXPECT_EQ(Names({attributeText(v, "standard_name"), attributeText(v, "units"), attributeText(v, "calendar"),
                         std::to_string(static_cast<int>(nc.floats(name).at(0)))}),
                  expected)
            << name;
    }
}

TEST(SelfDescription, InitialTimesAndHistoryLines)
{
    // The date and the time hhmm without leading zeros, as GRIB's dataDate and dataTime give them.
    const std::pair<const char*, const char*> times[] = {
        {"202612081200", "2026-12-08T12:00:00Z"}, {"201701010", "2017-01-01T00:00:00Z"},
        {"2024022930", "2024-02-29T00:30:00Z"},   {"20261208", ""}, {"202302290", ""}, {"202612082400", ""},
        {"202612081260", ""}, {"2026120812000", ""}, {"20261208ab", ""},
    };
    for (const auto& [text, expected] : times) {
        QDateTime t;
        EXPECT_EQ(parseInitialTime(text, t) ? t.toString(Qt::ISODate).toStdString() : "", expected) << text;
    }

    const QDateTime when(QDate(2026, 12, 8), QTime(9, 5, 7), Qt::UTC);
    EXPECT_EQ(historyLine(when, {"/opt/kelvane", "-i", "/d/a b.grib", "-o", "it's.nc", "-s", "x\ny"}),
              "2026-12-08T09:05:07Z: /opt/kelvane -i '/d/a b.grib' -o 'it'\\''s.nc' -s 'x y'");
    // Run after run the history stays bounded, whole lines, the newest last;
    // a line longer than its bound keeps its beginning.
    std::string history = "first";
    for (int run = 0; run < 1000; ++run)
        history = appendHistory(history, "run " + std::to_string(run) + std::string(60, '.'));
    EXPECT_EQ(history.rfind("(earlier history left out)\nrun ", 0), 0u);
    EXPECT_EQ(history.substr(history.rfind('\n') + 1), "run 999" + std::string(60, '.'));
    history = appendHistory(history, "2026-12-08T09:05:07Z: kelvane" + std::string(100000, 'x'));
    EXPECT_LE(history.size(), kMaxHistoryBytes);
    const std::string last = history.substr(history.rfind('\n') + 1);
    EXPECT_EQ(last, "2026-12-08T09:05:07Z: kelvane" + std::string(kMaxHistoryLineBytes - 33, 'x') + " ...");
}
