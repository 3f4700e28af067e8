// Grids that are not regular latitude/longitude (projections, rotated,
// Gaussian and reduced grids, GRIB 1 and 2, made from ecCodes' samples, and
// the shared files), converted with the table -p writes for them: every cell
// near a source point holds the value of its nearest one, found here by
// trying every point; cells far from every point hold the fill value; the
// variables say where their values come from. A regular grid put on an area
// of another spacing goes the same way; given its own spacing, it converts
// as without one.
#include "support/gribfiles.h"
#include "support/ncfile.h"
#include "support/programdir.h"
#include "support/tables.h"

#include <QFile>
#include <gtest/gtest.h>

#include <grib_api.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

namespace {

constexpr double kFill = 9999.0;

// A message from one of ecCodes' samples with keys set in order (whole
// numbers as such), each point's value its number in scanning order, every
// `missingEvery`th point missing when not 0.
QByteArray sampleGrid(const char* sample, const std::vector<std::pair<const char*, double>>& keys,
                      long missingEvery = 0)
{
    grib_handle* h = grib_handle_new_from_samples(nullptr, sample);
    if (!h) {
        ADD_FAILURE() << "no sample " << sample;
        return {};
    }
    for (const auto& [key, value] : keys) {
        const int err = value == std::floor(value) ? grib_set_long(h, key, static_cast<long>(value))
                                                    : grib_set_double(h, key, value);
        EXPECT_EQ(err, 0) << sample << ": " << key;
    }
    size_t packing = 11;
    EXPECT_EQ(grib_set_string(h, "packingType", "grid_simple", &packing), 0);
    long points = 0;
    EXPECT_EQ(grib_get_long(h, "numberOfPoints", &points), 0);
    std::vector<double> values(static_cast<size_t>(points));
    for (long k = 0; k < points; ++k)
        values[static_cast<size_t>(k)] = missingEvery && k % missingEvery == 3 ? kFill : static_cast<double>(k);
    if (missingEvery) {
        grib_set_double(h, "missingValue", kFill);
        grib_set_long(h, "bitmapPresent", 1);
    }
    grib_set_long(h, "bitsPerValue", 24);
    EXPECT_EQ(grib_set_double_array(h, "values", values.data(), values.size()), 0) << sample;
    const void* bytes = nullptr;
    size_t size = 0;
    QByteArray out;
    if (grib_get_message(h, &bytes, &size) == 0)
        out = QByteArray(static_cast<const char*>(bytes), static_cast<int>(size));
    grib_handle_delete(h);
    return out;
}

// The first message of a file.
QByteArray firstMessage(const QString& path)
{
    FILE* f = std::fopen(path.toLocal8Bit().constData(), "rb");
    if (!f)
        return {};
    int err = 0;
    grib_handle* h = grib_handle_new_from_file(nullptr, f, &err);
    QByteArray out;
    const void* bytes = nullptr;
    size_t size = 0;
    if (h && grib_get_message(h, &bytes, &size) == 0)
        out = QByteArray(static_cast<const char*>(bytes), static_cast<int>(size));
    if (h)
        grib_handle_delete(h);
    std::fclose(f);
    return out;
}

struct Unit {
    double x, y, z;
};

Unit unitOf(double lon, double lat)
{
    const double r = M_PI / 180.0;
    return {std::cos(lat * r) * std::cos(lon * r), std::cos(lat * r) * std::sin(lon * r), std::sin(lat * r)};
}

// Squared straight-line distance between two points of the unit sphere, and
// the degrees of arc it stands for.
double squared(const Unit& a, const Unit& b)
{
    const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return dx * dx + dy * dy + dz * dz;
}

double degrees(double squaredChord)
{
    return 2.0 * std::asin(std::min(1.0, std::sqrt(squaredChord) / 2.0)) * 180.0 / M_PI;
}

struct GridCase {
    const char* name;
    const char* gridType;
    // The message; empty when the shared file is not there.
    std::function<QByteArray()> message;
    // The area's spacing -p is expected to write (the grid's own), and the
    // grid's spacing on the sphere at its widest, in degrees.
    double ownSpacing;
    double widest;
};

// The output's one data variable: its values and each cell's coordinates.
struct Output {
    std::vector<float> values, lons, lats;
    std::string sourceGrid, method;
};

Output readOutput(const QString& path)
{
    Output o;
    NcFile nc(path);
    EXPECT_TRUE(nc.ok()) << path.toStdString();
    for (const NcVariable& v : nc.variables()) {
        if (!v.attribute("grid_type") || v.dims.size() < 2)
            continue;
        o.values = nc.floats(v.name);
        o.lats = nc.floats(v.dims[v.dims.size() - 2]);
        o.lons = nc.floats(v.dims.back());
        o.sourceGrid = attributeText(&v, "source_grid_type");
        o.method = attributeText(&v, "regrid_method");
        break;
    }
    return o;
}

// Checks every cell against the nearest of the source points (or, on large
// outputs, a spread of cells): a cell within three quarters of the grid's
// widest spacing of a point holds the value of one of its nearest points
// (ties either way), a cell more than twice that far from every point holds
// the fill value, and any other cell one or the other.
void expectNearest(const std::string& name, const Output& out, const DecodedField& source, double widest)
{
    std::vector<Unit> points;
    for (size_t k = 0; k < source.lons.size(); ++k)
        points.push_back(unitOf(source.lons[k], source.lats[k]));
    const size_t columns = out.lons.size();
    const size_t cells = out.lats.size() * columns;
    ASSERT_EQ(out.values.size(), cells) << name;
    const size_t stride = std::max<size_t>(1, cells * points.size() / 10000000);
    size_t inside = 0, wrong = 0;
    std::vector<double> distances(points.size());
    for (size_t c = 0; c < cells; c += stride) {
        const Unit cell = unitOf(out.lons[c % columns], out.lats[c / columns]);
        double closest = std::numeric_limits<double>::infinity();
        for (size_t k = 0; k < points.size(); ++k)
            closest = std::min(closest, distances[k] = squared(cell, points[k]));
        bool matches = false;
        for (size_t k = 0; k < points.size() && !matches; ++k)
            matches = distances[k] <= closest * (1 + 1e-9) + 1e-18 &&
                      static_cast<float>(source.values[k]) == out.values[c];
        const double nearest = degrees(closest);
        const bool fill = out.values[c] == static_cast<float>(kFill);
        const bool ok = nearest <= 0.75 * widest ? matches : nearest > 2 * widest ? fill : matches || fill;
        inside += nearest <= 0.75 * widest ? 1 : 0;
        if (!ok && ++wrong <= 3)
            ADD_FAILURE() << name << ": cell (" << out.lons[c % columns] << ", " << out.lats[c / columns]
                          << ") holds " << out.values[c] << "; its nearest point is " << nearest << " degrees away";
    }
    EXPECT_EQ(wrong, 0u) << name;
    EXPECT_GT(inside, 0u) << name;
}

}  // namespace

TEST(NearestGrids, EveryCellTakesItsNearestSourcePoint)
{
    const auto shared = [](const char* file) {
        return [file] {
            const QString path = sharedFile(file);
            return path.isEmpty() ? QByteArray() : firstMessage(path);
        };
    };
    const auto sample = [](const char* name, std::vector<std::pair<const char*, double>> keys = {},
                           long missingEvery = 0) {
        return [=] { return sampleGrid(name, keys, missingEvery); };
    };
    const std::vector<std::pair<const char*, double>> lambert = {
        {"Nx", 60}, {"Ny", 40}, {"latitudeOfFirstGridPointInDegrees", 30.5}, {"longitudeOfFirstGridPointInDegrees", 250.5},
        {"LoVInDegrees", 260}, {"Latin1InDegrees", 40}, {"Latin2InDegrees", 40}, {"DxInMetres", 50000},
        {"DyInMetres", 50000}};
    std::vector<std::pair<const char*, double>> lambert2 = {{"gridDefinitionTemplateNumber", 30},
                                                            {"numberOfDataPoints", 2400},
                                                            {"LaDInDegrees", 40}};
    lambert2.insert(lambert2.end(), lambert.begin(), lambert.end());
    std::vector<std::pair<const char*, double>> lambert1 = {{"dataRepresentationType", 3}};
    lambert1.insert(lambert1.end(), lambert.begin(), lambert.end());
    const std::vector<std::pair<const char*, double>> polar = {
        {"Nx", 30}, {"Ny", 30}, {"latitudeOfFirstGridPointInDegrees", 40.5},
        {"longitudeOfFirstGridPointInDegrees", 315.5}, {"orientationOfTheGridInDegrees", 0},
        {"DxInMetres", 200000}, {"DyInMetres", 200000}};
    std::vector<std::pair<const char*, double>> polar2 = {{"numberOfDataPoints", 900}};
    polar2.insert(polar2.end(), polar.begin(), polar.end());
    const double km50 = 50000 / 111200.0, km200 = 200000 / 111200.0;

    const std::vector<GridCase> cases = {
        {"Lambert, GRIB 2", "lambert", sample("GRIB2", lambert2), km50, km50},
        {"Lambert, GRIB 1", "lambert", sample("GRIB1", lambert1, 7), km50, km50},
        {"polar stereographic, GRIB 2", "polar_stereographic", sample("polar_stereographic_sfc_grib2", polar2),
         km200, km200 * 1.1},
        {"polar stereographic, GRIB 1", "polar_stereographic", sample("polar_stereographic_pl_grib1", polar),
         km200, km200 * 1.1},
        {"rotated, GRIB 2", "rotated_ll", sample("rotated_ll_sfc_grib2"), 2, 2},
        {"rotated, GRIB 1", "rotated_ll", sample("rotated_ll_sfc_grib1", {}, 5), 2, 2},
        {"regular Gaussian, GRIB 2", "regular_gg", sample("regular_gg_sfc_grib2"), 2.8125, 2.82},
        {"regular Gaussian, GRIB 1", "regular_gg", sample("regular_gg_pl_grib1"), 90.0 / 32, 2.82},
        {"reduced Gaussian, GRIB 2", "reduced_gg", sample("reduced_gg_pl_32_grib2", {}, 11), 2.8125, 2.82},
        {"reduced Gaussian, GRIB 1", "reduced_gg", sample("reduced_gg_pl_32_grib1"), 2.8125, 2.82},
        {"reduced latitude/longitude, GRIB 1", "reduced_ll", sample("reduced_ll_sfc_grib1"), 0.36, 0.36},
        {"reduced latitude/longitude, GRIB 2", "reduced_ll", sample("reduced_ll_sfc_grib2", {}, 13), 0.36, 0.36},
        {"shared Lambert", "lambert", shared("lambert_grid.grib"), 2500 / 111200.0, 2500 / 111200.0},
        {"shared reduced Gaussian", "reduced_gg", shared("reduced_gg.grib"), 1.875, 1.875},
        {"shared polar stereographic", "polar_stereographic", shared("safrica.grib2"), 0, 0.48},
    };
    for (const GridCase& c : cases) {
        const QByteArray bytes = c.message();
        if (bytes.isEmpty() && QString(c.name).startsWith("shared")) {
            continue;  // not in the shared folder
        }
        ASSERT_FALSE(bytes.isEmpty()) << c.name;
        ProgramDir dir;
        const QString input = dir.file("input.grib");
        ASSERT_TRUE(writeBytes(input, bytes));
        const RunResult probe = dir.run({"-p", input});
        ASSERT_EQ(probe.exitCode, 0) << c.name << probe.err.toStdString();
        const QByteArray table = readAll(input + ".csv");
        const QStringList area = QString::fromUtf8(table).split('\n').value(4).split(',');
        ASSERT_GE(area.size(), 5) << c.name;
        if (c.ownSpacing > 0) {
            EXPECT_FLOAT_EQ(area[4].toFloat(), static_cast<float>(c.ownSpacing)) << c.name;
        }
        dir.writeConfig("own.csv", table);
        const RunResult run = dir.run({"-i", input, "-o", dir.file("out.nc"), "-s", "own.csv"});
        ASSERT_EQ(run.exitCode, 0) << c.name << run.err.toStdString();
        const Output out = readOutput(dir.file("out.nc"));
        EXPECT_EQ(out.sourceGrid, c.gridType) << c.name;
        EXPECT_EQ(out.method, "nearest source point") << c.name;
        const std::vector<DecodedField> source = decodeGribFile(input);
        ASSERT_EQ(source.size(), 1u) << c.name;
        expectNearest(c.name, out, source.front(), c.widest);
    }
}

TEST(NearestGrids, RegularGridsGoByNearestPointOnlyOnAnAreaOfAnotherSpacing)
{
    GribField t;
    t.firstLon = 100;
    t.firstLat = 30;
    t.ni = 20;
    t.nj = 15;
    fillPattern(t);
    GribField r = t;
    r.shortName = "r";
    ProgramDir dir;
    const QString tInput = dir.file("t.grib2"), rInput = dir.file("r.grib2");
    ASSERT_TRUE(writeBytes(tInput, gribMessage(t)));
    ASSERT_TRUE(writeBytes(rInput, gribMessage(r)));
    const QStringList rows = {variableRow("t", "Isobaric surface", "", "TMP"),
                              variableRow("r", "Isobaric surface", "", "RH")};
    const auto convert = [&](const QString& name, const QString& settings, const QString& step,
                             const QString& input) {
        dir.writeConfig("t.csv", tableText(settings, "100,119,16,30," + step + ",,,", rows));
        const RunResult run = dir.run({"-i", input, "-o", dir.file(name), "-s", "t.csv"});
        EXPECT_EQ(run.exitCode, 0) << step.toStdString() << run.err.toStdString();
        return readOutput(dir.file(name));
    };
    // Its own spacing given, or none: the regular rule, unlabelled.
    const Output plain = convert("plain.nc", ",0,grib,2.0", "", tInput);
    const Output own = convert("own.nc", ",0,grib,2.0", "1", tInput);
    EXPECT_EQ(own.values, plain.values);
    EXPECT_EQ(own.lons, plain.lons);
    EXPECT_EQ(plain.sourceGrid, "(none)");
    // Another spacing: every cell from its nearest point, labelled.
    const Output finer = convert("finer.nc", ",0,grib,2.0", "0.4", tInput);
    EXPECT_EQ(finer.lons.size(), 48u);
    EXPECT_EQ(finer.sourceGrid, "regular_ll");
    expectNearest("0.4 degrees", finer, decodeGribFile(tInput).front(), 1.0);
    // A merge of another variable keeps the read-back one and its labels.
    convert("finer.nc", ",1,grib,2.0", "0.4", rInput);
    NcFile merged(dir.file("finer.nc"));
    ASSERT_TRUE(merged.ok());
    EXPECT_EQ(merged.floats("TMP"), finer.values);
    EXPECT_EQ(attributeText(merged.variable("TMP"), "source_grid_type"), "regular_ll");
    EXPECT_EQ(attributeText(merged.variable("RH"), "regrid_method"), "nearest source point");
}
