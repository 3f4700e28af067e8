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

#include <gtest/gtest.h>

#include <grib_api.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

namespace {

using Keys = std::vector<std::pair<const char*, double>>;
constexpr double kFill = 9999.0;

// A sample with keys set in order (whole numbers as such), each point's
// value its number, every `missingEvery`th point missing when not 0.
QByteArray sampleGrid(const char* sample, const Keys& keys, long missingEvery = 0)
{
    grib_handle* h = grib_handle_new_from_samples(nullptr, sample);
    for (const auto& [key, value] : keys)
        EXPECT_EQ(value == std::floor(value) ? grib_set_long(h, key, static_cast<long>(value))
                                             : grib_set_double(h, key, value),
                  0)
            << sample << ": " << key;
    size_t packing = 11;
    grib_set_string(h, "packingType", "grid_simple", &packing);
    long points = 0;
    grib_get_long(h, "numberOfPoints", &points);
    std::vector<double> values(static_cast<size_t>(points));
    for (long k = 0; k < points; ++k)
        values[static_cast<size_t>(k)] = missingEvery && k % missingEvery == 3 ? kFill : static_cast<double>(k);
    grib_set_double(h, "missingValue", kFill);
    grib_set_long(h, "bitmapPresent", missingEvery ? 1 : 0);
    grib_set_long(h, "bitsPerValue", 24);
    EXPECT_EQ(grib_set_double_array(h, "values", values.data(), values.size()), 0) << sample;
    return takeMessage(h);
}

QByteArray firstMessage(const QString& path)
{
    FILE* f = std::fopen(path.toLocal8Bit().constData(), "rb");
    int err = 0;
    const QByteArray bytes = f ? takeMessage(grib_handle_new_from_file(nullptr, f, &err)) : QByteArray();
    if (f)
        std::fclose(f);
    return bytes;
}

struct Unit {
    double x, y, z;
};

Unit unitOf(double lon, double lat)
{
    const double r = M_PI / 180.0;
    return {std::cos(lat * r) * std::cos(lon * r), std::cos(lat * r) * std::sin(lon * r), std::sin(lat * r)};
}

// The output's one data variable: its values, each cell's coordinates, its labels.
struct Output {
    std::vector<float> values, lons, lats;
    std::string sourceGrid, method;
};

Output readOutput(const QString& path)
{
    Output o;
    NcFile nc(path);
    for (const NcVariable& v : nc.variables())
        if (v.attribute("grid_type") && v.dims.size() >= 2) {
            o = {nc.floats(v.name), nc.floats(v.dims.back()), nc.floats(v.dims[v.dims.size() - 2]),
                 attributeText(&v, "source_grid_type"), attributeText(&v, "regrid_method")};
            break;
        }
    return o;
}

// Checks every cell (a spread of cells on large outputs) against the nearest
// of the source points: within three quarters of the grid's widest spacing
// of a point, a cell holds the value of one of its nearest points (ties
// either way); more than twice that far from every point, the fill value;
// in between, one or the other.
void expectNearest(const std::string& name, const Output& out, const DecodedField& source, double widest)
{
    std::vector<Unit> points;
    for (size_t k = 0; k < source.lons.size(); ++k)
        points.push_back(unitOf(source.lons[k], source.lats[k]));
    const size_t columns = out.lons.size(), cells = out.lats.size() * columns;
    ASSERT_EQ(out.values.size(), cells) << name;
    size_t inside = 0, wrong = 0;
    std::vector<double> chords(points.size());
    for (size_t c = 0; c < cells; c += std::max<size_t>(1, cells * points.size() / 10000000)) {
        const Unit cell = unitOf(out.lons[c % columns], out.lats[c / columns]);
        double closest = std::numeric_limits<double>::infinity();
        for (size_t k = 0; k < points.size(); ++k) {
            const double dx = cell.x - points[k].x, dy = cell.y - points[k].y, dz = cell.z - points[k].z;
            closest = std::min(closest, chords[k] = dx * dx + dy * dy + dz * dz);
        }
        bool matches = false;
        for (size_t k = 0; k < points.size() && !matches; ++k)
            matches = chords[k] <= closest * (1 + 1e-9) + 1e-18 && float(source.values[k]) == out.values[c];
        const double nearest = 2.0 * std::asin(std::min(1.0, std::sqrt(closest) / 2.0)) * 180.0 / M_PI;
        const bool fill = out.values[c] == float(kFill);
        inside += nearest <= 0.75 * widest ? 1 : 0;
        if (!(nearest <= 0.75 * widest ? matches : nearest > 2 * widest ? fill : matches || fill) && ++wrong <= 3)
            ADD_FAILURE() << name << ": cell (" << out.lons[c % columns] << ", " << out.lats[c / columns]
                          << ") holds " << out.values[c] << "; its nearest point is " << nearest << " degrees away";
    }
    EXPECT_EQ(wrong, 0u) << name;
    EXPECT_GT(inside, 0u) << name;
}

}  // namespace

TEST(NearestGrids, EveryCellTakesItsNearestSourcePoint)
{
    const auto sample = [](const char* name, Keys keys = {}, long missingEvery = 0) {
        return [=] { return sampleGrid(name, keys, missingEvery); };
    };
    const auto shared = [](const char* file) {
        return [file] { return sharedFile(file).isEmpty() ? QByteArray() : firstMessage(sharedFile(file)); };
    };
    const Keys lambert = {{"Nx", 60}, {"Ny", 40}, {"latitudeOfFirstGridPointInDegrees", 30.5},
                          {"longitudeOfFirstGridPointInDegrees", 250.5}, {"LoVInDegrees", 260},
                          {"Latin1InDegrees", 40}, {"Latin2InDegrees", 40}, {"DxInMetres", 50000},
                          {"DyInMetres", 50000}};
    const Keys polar = {{"Nx", 30}, {"Ny", 30}, {"latitudeOfFirstGridPointInDegrees", 40.5},
                        {"longitudeOfFirstGridPointInDegrees", 315.5}, {"orientationOfTheGridInDegrees", 0},
                        {"DxInMetres", 200000}, {"DyInMetres", 200000}};
    const auto with = [](Keys first, const Keys& rest) {
        first.insert(first.end(), rest.begin(), rest.end());
        return first;
    };
    const double km50 = 50000 / 111200.0, km200 = 200000 / 111200.0;
    struct GridCase {
        const char* name;
        const char* gridType;
        std::function<QByteArray()> message;  // empty: not in the shared folder
        double spacing;  // the grid's own, which -p writes; 0: not known here
    };
    const GridCase cases[] = {
        {"Lambert 2", "lambert",
         sample("GRIB2", with({{"gridDefinitionTemplateNumber", 30}, {"numberOfDataPoints", 2400}, {"LaDInDegrees", 40}}, lambert)),
         km50},
        {"Lambert 1", "lambert", sample("GRIB1", with({{"dataRepresentationType", 3}}, lambert), 7), km50},
        {"polar stereographic 2", "polar_stereographic",
         sample("polar_stereographic_sfc_grib2", with({{"numberOfDataPoints", 900}}, polar)), km200},
        {"polar stereographic 1", "polar_stereographic", sample("polar_stereographic_pl_grib1", polar), km200},
        {"rotated 2", "rotated_ll", sample("rotated_ll_sfc_grib2"), 2},
        {"rotated 1", "rotated_ll", sample("rotated_ll_sfc_grib1", {}, 5), 2},
        {"regular Gaussian 2", "regular_gg", sample("regular_gg_sfc_grib2"), 2.8125},
        {"regular Gaussian 1", "regular_gg", sample("regular_gg_pl_grib1"), 2.8125},
        {"reduced Gaussian 2", "reduced_gg", sample("reduced_gg_pl_32_grib2", {}, 11), 2.8125},
        {"reduced Gaussian 1", "reduced_gg", sample("reduced_gg_pl_32_grib1"), 2.8125},
        {"reduced latitude/longitude 1", "reduced_ll", sample("reduced_ll_sfc_grib1"), 0.36},
        {"reduced latitude/longitude 2", "reduced_ll", sample("reduced_ll_sfc_grib2", {}, 13), 0.36},
        {"shared Lambert", "lambert", shared("lambert_grid.grib"), 2500 / 111200.0},
        {"shared reduced Gaussian", "reduced_gg", shared("reduced_gg.grib"), 1.875},
        {"shared polar stereographic", "polar_stereographic", shared("safrica.grib2"), 0},
    };
    for (const GridCase& c : cases) {
        const QByteArray bytes = c.message();
        if (bytes.isEmpty() && QString(c.name).startsWith("shared")) {
            continue;
        }
        ProgramDir dir;
        const QString input = dir.file("input.grib");
        ASSERT_TRUE(writeBytes(input, bytes)) << c.name;
        ASSERT_EQ(dir.run({"-p", input}).exitCode, 0) << c.name;
        const QByteArray table = readAll(input + ".csv");
        const float step = QString::fromUtf8(table).split('\n').value(4).section(',', 4, 4).toFloat();
        if (c.spacing > 0) {
            EXPECT_FLOAT_EQ(step, float(c.spacing)) << c.name;
        }
        dir.writeConfig("own.csv", table);
        const RunResult run = dir.run({"-i", input, "-o", dir.file("out.nc"), "-s", "own.csv"});
        ASSERT_EQ(run.exitCode, 0) << c.name << run.err.toStdString();
        const Output out = readOutput(dir.file("out.nc"));
        EXPECT_EQ(out.sourceGrid, c.gridType) << c.name;
        EXPECT_EQ(out.method, "nearest source point") << c.name;
        const std::vector<DecodedField> source = decodeGribFile(input);
        ASSERT_EQ(source.size(), 1u) << c.name;
        // A map's cells may be a tenth wider than its nominal spacing.
        expectNearest(c.name, out, source.front(), 1.1 * step);
    }
}

TEST(NearestGrids, RegularGridsGoByNearestPointOnlyOnAnAreaOfAnotherSpacing)
{
    GribField t;
    t.firstLon = 100, t.firstLat = 30, t.ni = 20, t.nj = 15;
    fillPattern(t);
    GribField r = t;
    r.shortName = "r";
    ProgramDir dir;
    const QString tInput = dir.file("t.grib2"), rInput = dir.file("r.grib2");
    ASSERT_TRUE(writeBytes(tInput, gribMessage(t)) && writeBytes(rInput, gribMessage(r)));
    const auto convert = [&](const QString& name, const QString& settings, const QString& step, const QString& input) {
        dir.writeConfig("t.csv", tableText(settings, "100,119,16,30," + step + ",,,",
                                           {variableRow("t", "Isobaric surface", "", "TMP"),
                                            variableRow("r", "Isobaric surface", "", "RH")}));
        EXPECT_EQ(dir.run({"-i", input, "-o", dir.file(name), "-s", "t.csv"}).exitCode, 0) << step.toStdString();
        return readOutput(dir.file(name));
    };
    // Its own spacing given, or none: the regular rule, unlabelled.
    const Output plain = convert("plain.nc", ",0,grib,2.0", "", tInput);
    const Output own = convert("own.nc", ",0,grib,2.0", "1", tInput);
    EXPECT_TRUE(own.values == plain.values && own.lons == plain.lons);
    EXPECT_EQ(plain.sourceGrid, "(none)");
    // Another spacing: every cell from its nearest point, labelled.
    const Output finer = convert("finer.nc", ",0,grib,2.0", "0.4", tInput);
    EXPECT_EQ(finer.lons.size(), 48u);
    EXPECT_EQ(finer.sourceGrid, "regular_ll");
    expectNearest("0.4 degrees", finer, decodeGribFile(tInput).front(), 1.0);
    // A merge of another variable keeps the read-back one and its labels.
    convert("finer.nc", ",1,grib,2.0", "0.4", rInput);
    NcFile merged(dir.file("finer.nc"));
    EXPECT_EQ(merged.floats("TMP"), finer.values);
    EXPECT_EQ(attributeText(merged.variable("TMP"), "source_grid_type"), "regular_ll");
    EXPECT_EQ(attributeText(merged.variable("RH"), "regrid_method"), "nearest source point");
}
