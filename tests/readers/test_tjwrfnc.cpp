// netCDF model input: axes per file type, names, times from the file name,
// fill values, the undoing of the write scaling, and whole conversions.
#include "readers/ncinput.h"
#include "readers/tjwrfncreader.h"
#include "support/gribfiles.h"
#include "support/ncfile.h"
#include "support/programdir.h"
#include "support/tables.h"
#include "table/csvfileparser.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <netcdf.h>

#include <cstring>
#include <functional>
#include <map>

namespace {

struct NcVar {
    std::string name;
    std::vector<std::string> dims;
    std::vector<float> values;  // empty: a coordinate filled with 0, 1, 2 ...
    const char* units = "K";    // null: no units attribute
    bool fill = true;           // a "_FillValue" of -999
};

// Writes a netCDF file (netCDF-4 unless told) with the dimensions in the
// given order; `extra` adds definitions of its own.
void writeNc(const QString& path, const std::vector<std::pair<std::string, size_t>>& dims,
             const std::vector<NcVar>& vars, int format = NC_NETCDF4,
             const std::function<void(int)>& extra = nullptr)
{
    int nc = -1;
    ASSERT_EQ(nc_create(path.toUtf8().constData(), format | NC_CLOBBER, &nc), NC_NOERR);
    if (extra)
        extra(nc);
    std::map<std::string, int> dimIds;
    std::map<std::string, size_t> lengths;
    for (const auto& [name, len] : dims) {
        int id = -1;
        ASSERT_EQ(nc_def_dim(nc, name.c_str(), len, &id), NC_NOERR);
        dimIds[name] = id;
        lengths[name] = len;
    }
    std::vector<int> ids;
    for (const NcVar& v : vars) {
        std::vector<int> d;
        for (const std::string& n : v.dims)
            d.push_back(dimIds.at(n));
        int id = -1;
        ASSERT_EQ(nc_def_var(nc, v.name.c_str(), NC_FLOAT, static_cast<int>(d.size()), d.data(), &id), NC_NOERR);
        if (v.units)
            nc_put_att_text(nc, id, "units", std::strlen(v.units), v.units);
        if (v.fill) {
            const float fill = -999.0f;
            nc_put_att_float(nc, id, "_FillValue", NC_FLOAT, 1, &fill);
        }
        ids.push_back(id);
    }
    ASSERT_EQ(nc_enddef(nc), NC_NOERR);
    for (size_t k = 0; k < vars.size(); ++k) {
        size_t n = 1;
        for (const std::string& d : vars[k].dims)
            n *= lengths.at(d);
        std::vector<float> values = vars[k].values;
        if (values.empty())
            for (size_t i = 0; i < n; ++i)
                values.push_back(static_cast<float>(i));
        ASSERT_EQ(values.size(), n) << vars[k].name;
        ASSERT_EQ(nc_put_var_float(nc, ids[k], values.data()), NC_NOERR);
    }
    ASSERT_EQ(nc_close(nc), NC_NOERR);
}

std::vector<float> sequence(size_t n, float base)
{
    std::vector<float> v;
    for (size_t i = 0; i < n; ++i)
        v.push_back(base + static_cast<float>(i));
    return v;
}

// The standard layout of the "nc" type: plevel (850, 500), lat (3), lon (4).
std::vector<NcVar> standardVars(std::vector<float> tmp)
{
    return {
        {"plevel", {"plevel"}, {850, 500}, "hPa", false},
        {"lat", {"lat"}, {30, 30.5, 31}, "degrees_north", false},
        {"lon", {"lon"}, {100, 100.5, 101, 101.5}, "degrees_east", false},
        {"TMP", {"plevel", "lat", "lon"}, std::move(tmp)},
    };
}

const std::vector<std::pair<std::string, size_t>> kStandardDims = {{"plevel", 2}, {"lat", 3}, {"lon", 4}};

class NcInputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        g_collect_number = 0;
        g_forcastTime = -1;
    }
    void TearDown() override { NcInput::setMemoryLimit(0); }

    void useTable(const QString& type, const QStringList& rows)
    {
        const QString path = m_dir.path() + "/table.csv";
        ASSERT_TRUE(writeBytes(path, tableText(",0," + type + ",2.0", "80,137,12,60", rows)));
        ASSERT_EQ(CsvFileParser::getInstance()->load(path), 0);
    }

    const std::vector<p_data>* entry(const TjwrfNcReader& r, const std::string& key)
    {
        const auto it = r.m_cache[0].find(key);
        return it == r.m_cache[0].end() ? nullptr : &it->second;
    }

    QTemporaryDir m_dir;
};

QString row(const QString& name, const QString& amplification = "", const QString& unit = "K")
{
    QStringList f = variableRow(name, "", "", name).split(",");
    f[11] = unit;
    f[12] = amplification;
    f[14] = "850;500";
    return f.join(",");
}

}  // namespace

TEST(NcInputName, TimesComeFromTheFileName)
{
    std::string initial;
    int64_t hour = 0;
    EXPECT_TRUE(TjwrfNcReader::timesFromName("/data/run_1/model_2021061500-012.nc", initial, hour));
    EXPECT_EQ(initial, "202106150000");
    EXPECT_EQ(hour, 12);
    EXPECT_TRUE(TjwrfNcReader::timesFromName("/a-b/2021061512-000.nc", initial, hour));
    EXPECT_EQ(initial, "202106151200");
    EXPECT_EQ(hour, 0);
    EXPECT_FALSE(TjwrfNcReader::timesFromName("/data/model_2021061500.nc", initial, hour));
    EXPECT_EQ(hour, -1);
    EXPECT_EQ(initial, "");
    EXPECT_FALSE(TjwrfNcReader::timesFromName("/data/model_2021061500-abc.nc", initial, hour));
    EXPECT_EQ(hour, -1);
}

TEST_F(NcInputTest, StandardLayoutFieldsPerLevelWithFillValuesAndTimes)
{
    useTable("nc", {row("TMP")});
    std::vector<float> values = sequence(24, 200);
    values[5] = -999.0f;
    const QString path = m_dir.path() + "/wrf_2021061500-012.nc";
    writeNc(path, kStandardDims, standardVars(values));

    TjwrfNcReader r;
    r.readFile(path);
    const auto* tmp = entry(r, "TMP__");
    ASSERT_NE(tmp, nullptr);
    ASSERT_EQ(tmp->size(), 2u);
    const p_data& f850 = (*tmp)[0];
    EXPECT_EQ(f850.level, 850);
    EXPECT_EQ((*tmp)[1].level, 500);
    EXPECT_EQ(f850.lon, std::vector<double>({100, 100.5, 101, 101.5}));
    EXPECT_EQ(f850.lat, std::vector<double>({30, 30.5, 31}));
    EXPECT_EQ(f850.data[0], 200.0);
    EXPECT_EQ(f850.data[5], 9999.0);
    EXPECT_EQ((*tmp)[1].data[11], 223.0);
    EXPECT_EQ(f850.dimDx, 4);
    EXPECT_EQ(f850.prop_initial_time, "202106150000");
    EXPECT_EQ(f850.forecastTime, 12);
    EXPECT_EQ(g_forcastTime, 12);
    EXPECT_FLOAT_EQ(f850.prop_fillValue, 9999.0f);
    EXPECT_EQ(f850.prop_units, "K");
    EXPECT_TRUE(f850.readout);
    EXPECT_FALSE(f850.isFi);
    EXPECT_EQ(f850.nameOfFirstFixedSurface, "");
}

TEST_F(NcInputTest, ClassicFilesOfEveryFlavourReadLikeNetcdf4)
{
    useTable("nc", {row("TMP")});
    const std::vector<float> values = sequence(24, 200);
    // Attributes of every type the flavour has, with odd counts so that
    // every value list is padded, a long name, and a record dimension.
    auto attributes = [](bool extendedTypes) {
        return [extendedTypes](int nc) {
            const int limit = extendedTypes ? NC_UINT64 : NC_DOUBLE;
            const double numbers[3] = {1, 2, 3};
            for (int type = NC_BYTE; type <= limit; ++type) {
                const std::string name = "attribute_of_type_" + std::to_string(type);
                if (type == NC_CHAR)
                    nc_put_att_text(nc, NC_GLOBAL, name.c_str(), 5, "three");
                else
                    nc_put_att_double(nc, NC_GLOBAL, name.c_str(), type, 3, numbers);
            }
            const std::string longest(NC_MAX_NAME, 'n');
            nc_put_att_text(nc, NC_GLOBAL, longest.c_str(), 1, "x");
            int time = -1, var = -1;
            nc_def_dim(nc, "time", NC_UNLIMITED, &time);
            nc_def_var(nc, "times", NC_DOUBLE, 1, &time, &var);
            nc_put_att_text(nc, var, "units", 5, "hours");
        };
    };
    struct Flavour {
        int format;
        char version;
    };
    for (const Flavour f : {Flavour{NC_CLASSIC_MODEL, 1}, Flavour{NC_64BIT_OFFSET, 2}, Flavour{NC_64BIT_DATA, 5}}) {
        SCOPED_TRACE(f.version);
        const QString path = m_dir.path() + "/wrf_2021061500-012.nc";
        writeNc(path, kStandardDims, standardVars(values), f.format, attributes(f.version == 5));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        ASSERT_EQ(file.read(4), QByteArray("CDF") + f.version);

        TjwrfNcReader r;
        r.readFile(path);
        const auto* tmp = entry(r, "TMP__");
        ASSERT_NE(tmp, nullptr);
        ASSERT_EQ(tmp->size(), 2u);
        EXPECT_EQ((*tmp)[0].data[0], 200.0);
        EXPECT_EQ((*tmp)[1].data[11], 223.0);
    }
}

TEST_F(NcInputTest, TheWriteScalingIsUndone)
{
    useTable("nc", {row("TMP", "0.01")});
    const QString path = m_dir.path() + "/m_2021061500-006.nc";
    writeNc(path, kStandardDims, standardVars(sequence(24, 10)));
    TjwrfNcReader r;
    r.readFile(path);
    const auto* tmp = entry(r, "TMP__");
    ASSERT_NE(tmp, nullptr);
    EXPECT_EQ(tmp->front().data[3], 13.0 / static_cast<double>(0.01f));
}

TEST_F(NcInputTest, TjwrfTypeTakesDimensionsZeroOneAndSixAndSkipsFourDimensionalVariables)
{
    useTable("tjwrf_nc", {row("T3"), row("T4")});
    const std::vector<std::pair<std::string, size_t>> dims = {{"lat", 3}, {"lon", 4}, {"time", 1}, {"a", 1},
                                                              {"b", 1},   {"c", 1},   {"LEVEL", 2}};
    writeNc(m_dir.path() + "/w_2021061500-003.nc", dims,
            {{"lat", {"lat"}, {30, 31, 32}, "degrees_north", false},
             {"lon", {"lon"}, {100, 101, 102, 103}, "degrees_east", false},
             {"LEVEL", {"LEVEL"}, {850, 500}, "hPa", false},
             {"T3", {"LEVEL", "lat", "lon"}, sequence(24, 1)},
             {"T4", {"time", "LEVEL", "lat", "lon"}, sequence(24, 1)}});
    TjwrfNcReader r;
    r.readFile(m_dir.path() + "/w_2021061500-003.nc");
    ASSERT_NE(entry(r, "T3__"), nullptr);
    EXPECT_EQ(entry(r, "T3__")->size(), 2u);
    EXPECT_EQ(entry(r, "T3__")->at(1).data[0], 13.0);
    EXPECT_EQ(entry(r, "T4__"), nullptr);
}

TEST_F(NcInputTest, GepsLevelsInPascalAreTakenInHectopascal)
{
    useTable("geps_nc", {row("T")});
    writeNc(m_dir.path() + "/g_2021061500-024.nc", {{"lv_ISBL0", 2}, {"lat_0", 2}, {"lon_0", 2}},
            {{"lv_ISBL0", {"lv_ISBL0"}, {50000, 85000}, "Pa", false},
             {"lat_0", {"lat_0"}, {30, 31}, "degrees_north", false},
             {"lon_0", {"lon_0"}, {100, 101}, "degrees_east", false},
             {"T", {"lv_ISBL0", "lat_0", "lon_0"}, sequence(8, 0)}});
    TjwrfNcReader r;
    r.readFile(m_dir.path() + "/g_2021061500-024.nc");
    ASSERT_NE(entry(r, "T__"), nullptr);
    EXPECT_EQ(entry(r, "T__")->at(0).level, 500);
    EXPECT_EQ(entry(r, "T__")->at(1).level, 850);
}

TEST_F(NcInputTest, FurtherAxesGiveTheirFirstEntryBadNamesStillReadAndUnreadableVariablesAreReported)
{
    useTable("nc", {row("S"), row("SHAPE"), row("NOAXIS"), row("BIG")});
    // A time axis of three entries; a name without a forecast hour; one
    // longitude; variables that cannot be read beside the others.
    const QString path = m_dir.path() + "/plain.nc";
    writeNc(path, {{"time", 3}, {"plevel", 2}, {"lat", 2}, {"lon", 1}, {"lon_0", 2}},
            {{"lat", {"lat"}, {30, 31}, "degrees_north", false},
             {"lon", {"lon"}, {100}, "degrees_east", false},
             {"lon_0", {"lon_0"}, {100, 101}, "degrees_east", false},
             {"plevel", {"plevel"}, {850, 500}, "hPa", false},
             {"time", {"time"}, {0, 6, 12}, "hours", false},
             {"S", {"time", "lat", "lon"}, sequence(6, 1)},
             {"NOROW", {"lat", "lon"}, sequence(2, 1)},
             {"SHAPE", {"lat", "lon_0", "lon"}, {}},
             {"NOAXIS", {"lat", "time"}, {}},
             {"BIG", {"plevel", "lat", "lon"}, {}}});
    NcInput::setMemoryLimit(2 * sizeof(double));  // a field of 2 values, not 2 levels of them
    ::testing::internal::CaptureStderr();
    TjwrfNcReader r;
    r.readFile(path);
    const QStringList said = QString::fromStdString(::testing::internal::GetCapturedStderr()).split('\n');
    const auto* s = entry(r, "S__");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->front().data, std::vector<double>({1, 2}));
    EXPECT_EQ(s->front().dimDx, 0);
    EXPECT_EQ(s->front().forecastTime, -1);
    EXPECT_EQ(s->front().prop_initial_time, "");
    for (const char* name : {"NOROW", "SHAPE", "NOAXIS", "BIG"})
        EXPECT_EQ(entry(r, std::string(name) + "__"), nullptr) << name;
    // One line each, after "[READ NC] <path>: "; nothing for NOROW.
    for (const char* line : {"S is read at the first entry of time (3 entries) only; the other entries are left out",
                             "SHAPE does not have the shape of its axes (dimensions 2 x 2 x 1, axes 2 x 1); it is not read",
                             "NOAXIS has no longitude or latitude values; it is not read",
                             "BIG is too large for this machine's memory (4 values, at most 2 fit); it is not read"})
        EXPECT_TRUE(said.contains("[READ NC] " + path + ": " + line)) << line << "\n" << said.join("\n").toStdString();
    EXPECT_EQ(said.size(), 6) << "the file name's line, four lines and the end";
}

TEST(NcInputEndToEnd, ValuesReachTheOutputUnchangedAndMissingUnitsEndWithStatus2)
{
    ProgramDir program;
    for (const QString& amplification : {QString(""), QString("0.01")}) {
        program.writeConfig("nc.csv", tableText(",0,nc,2.0", "80,137,12,60", {row("TMP", amplification)}));
        std::vector<float> values = sequence(24, 250.25f);
        values[7] = -999.0f;
        const QString input = program.file("wrf_2021061500-012.nc");
        writeNc(input, kStandardDims, standardVars(values));
        const QString out = program.file("out.nc");
        QFile::remove(out);
        const RunResult r = program.run({"-i", input, "-o", out, "-s", "nc.csv"});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        // Both levels of TMP reach the output, and count as kept.
        EXPECT_TRUE(r.err.contains(" records: 2 kept, ")) << r.err.toStdString();
        NcFile nc(out);
        EXPECT_EQ(nc.floats("g0_lon_0"), std::vector<float>({100, 100.5, 101, 101.5}));
        EXPECT_EQ(nc.floats("g0_lat_0"), std::vector<float>({30, 30.5, 31}));
        EXPECT_EQ(nc.floats("level_0"), std::vector<float>({850, 500}));
        std::vector<float> expected = values;
        expected[7] = 9999.0f;
        EXPECT_EQ(nc.floats("TMP"), expected) << amplification.toStdString();
        EXPECT_EQ(nc.variable("TMP")->attribute("_FillValue")->numbers[0], 9999.0);
        EXPECT_EQ(nc.variable("TMP")->attribute("initial_time")->text, "202106150000");
        EXPECT_EQ(nc.variable("TMP")->attribute("forcast_time")->numbers[0], 12);
    }

    std::vector<NcVar> vars = standardVars(sequence(24, 1));
    vars.back().units = nullptr;
    writeNc(program.file("bad_2021061500-012.nc"), kStandardDims, vars);
    const RunResult r = program.run({"-i", program.file("bad_2021061500-012.nc"), "-o", program.file("b.nc"), "-s", "nc.csv"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.contains("Error: ")) << r.out.toStdString();
    EXPECT_FALSE(QFile::exists(program.file("b.nc")));
}
