// Speed of placing a projected grid on the table's area by the nearest
// source point, against ecCodes' own decoding.
//
//     build/bench/bench_nearest [runs, default 5] [directory to keep]
//
// Makes a GRIB 2 Lambert conformal grid of 1799 x 1059 points 3 km apart
// over North America (t on 20 pressure levels, smooth values, 16-bit simple
// packing) and a copy of its first message alone, and a table whose area row
// spans the grid's longitudes and latitudes with a spacing of 0.03 degrees.
// Prints the median over `runs` of:
//   - ecCodes reading every message and decoding its values on one thread,
//     and per message after the first (the yardstick);
//   - the making of the grid's map on one thread, by parts: ecCodes'
//     coordinates of the points, the spatial index, the spacing estimate,
//     the search of every area cell (that search on two threads too);
//   - a further message's values placed through the map, into a new field
//     (as each message gets its own) and into a kept buffer, and unpacked at
//     the map's points straight from the packed numbers instead;
//   - the program converting the one-message and the 20-message file on one
//     and on two threads: each further message costs (T20 - T1) / 19, set
//     beside the yardstick; and the peak memory of the 20-message runs.
// The outputs of one and two threads must hold the same data, the program's
// 1000 hPa level must be the map's points' values cell for cell, and the
// values unpacked from the packed numbers must be ecCodes' to the bit.
#include "benchrun.h"
#include "grids/nearestmap.h"
#include "readers/gribnearest.h"
#include "readers/simplepacking.h"

#include <grib_api.h>
#include <netcdf.h>
#ifdef _OPENMP
#include <omp.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace bench;

const long kLevels[] = {1000, 975, 950, 925, 900, 850, 800, 750, 700, 650,
                        600,  550, 500, 450, 400, 350, 300, 250, 200, 150};
constexpr size_t kMessages = sizeof(kLevels) / sizeof(kLevels[0]);
constexpr long kNx = 1799, kNy = 1059;
constexpr float kAreaStep = 0.03f;

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "bench_nearest: %s\n", what.c_str());
    std::exit(1);
}

void setOrFail(int err, const char* key)
{
    if (err != 0)
        fail(std::string("cannot set ") + key + ": " + grib_get_error_message(err));
}

// The grid's 20 messages in `path`, the first alone in `firstPath`.
void makeInput(const std::string& path, const std::string& firstPath)
{
    grib_handle* h = grib_handle_new_from_samples(nullptr, "GRIB2");
    if (!h)
        fail("no ecCodes sample GRIB2");
    const auto setLong = [&](const char* key, long v) { setOrFail(grib_set_long(h, key, v), key); };
    const auto setDouble = [&](const char* key, double v) { setOrFail(grib_set_double(h, key, v), key); };
    const auto setText = [&](const char* key, const char* v) {
        size_t len = std::string(v).size();
        setOrFail(grib_set_string(h, key, v, &len), key);
    };
    setLong("gridDefinitionTemplateNumber", 30);
    setLong("shapeOfTheEarth", 6);
    setLong("Nx", kNx);
    setLong("Ny", kNy);
    setDouble("latitudeOfFirstGridPointInDegrees", 21.138);
    setDouble("longitudeOfFirstGridPointInDegrees", 237.28);
    setDouble("LaDInDegrees", 38.5);
    setDouble("LoVInDegrees", 262.5);
    setDouble("Latin1InDegrees", 38.5);
    setDouble("Latin2InDegrees", 38.5);
    setDouble("latitudeOfSouthernPoleInDegrees", -90);
    setDouble("longitudeOfSouthernPoleInDegrees", 0);
    setLong("DxInMetres", 3000);
    setLong("DyInMetres", 3000);
    setLong("projectionCentreFlag", 0);
    setLong("iScansNegatively", 0);
    setLong("jScansPositively", 1);
    setText("shortName", "t");
    setText("typeOfLevel", "isobaricInhPa");
    setLong("dataDate", 20261208);
    setLong("dataTime", 1200);
    setLong("forecastTime", 0);
    setLong("bitsPerValue", 16);

    std::ofstream out(path, std::ios::binary);
    std::ofstream first(firstPath, std::ios::binary);
    std::vector<double> values(static_cast<size_t>(kNx * kNy));
    for (size_t m = 0; m < kMessages; ++m) {
        const long level = kLevels[m];
        setLong("level", level);
        // Colder aloft and northward, with waves that move from level to level.
        for (long j = 0; j < kNy; ++j)
            for (long i = 0; i < kNx; ++i)
                values[static_cast<size_t>(j * kNx + i)] = 200.0 + level / 10.0 - 0.02 * static_cast<double>(j) +
                                                           8.0 * std::sin(i * 0.011 + m * 0.3) *
                                                               std::cos(j * 0.017 - m * 0.2);
        setOrFail(grib_set_double_array(h, "values", values.data(), values.size()), "values");
        const void* message = nullptr;
        size_t size = 0;
        setOrFail(grib_get_message(h, &message, &size), "message");
        out.write(static_cast<const char*>(message), static_cast<std::streamsize>(size));
        if (m == 0)
            first.write(static_cast<const char*>(message), static_cast<std::streamsize>(size));
    }
    grib_handle_delete(h);
    if (!out || !first)
        fail("cannot write the input");
}

grib_handle* firstHandle(const std::string& path, FILE*& in)
{
    in = std::fopen(path.c_str(), "rb");
    int err = 0;
    grib_handle* h = in ? grib_handle_new_from_file(nullptr, in, &err) : nullptr;
    if (!h)
        fail("cannot read " + path);
    return h;
}

// ecCodes decoding the values of every message of the file on one thread:
// the whole file, and the messages after the first (whose time holds the
// reading of ecCodes' definitions and the first use of the buffer): reading
// the message and making its handle, and unpacking its values.
struct Decode {
    double whole = 0;
    double further = 0;
    double furtherValues = 0;
};

Decode decodeAll(const std::string& path)
{
    Decode d;
    const auto start = std::chrono::steady_clock::now();
    FILE* in = std::fopen(path.c_str(), "rb");
    int err = 0;
    std::vector<double> values;
    for (size_t m = 0;; ++m) {
        const auto message = std::chrono::steady_clock::now();
        grib_handle* h = grib_handle_new_from_file(nullptr, in, &err);
        if (!h)
            break;
        const auto unpack = std::chrono::steady_clock::now();
        size_t n = 0;
        grib_get_size(h, "values", &n);
        values.resize(n);
        grib_get_double_array(h, "values", values.data(), &n);
        if (m > 0) {
            d.furtherValues += seconds(unpack);
            d.further += seconds(message);
        }
        grib_handle_delete(h);
    }
    std::fclose(in);
    d.whole = seconds(start);
    return d;
}

// The map of the grid on the area, made as the reader makes it, timed by
// parts.
struct MapBuild {
    double coordinates = 0;  // grib_get_data
    double index = 0;        // the spatial index over the points
    double spacing = 0;      // the typical spacing of the points
    double search = 0;       // every area cell's nearest point
    double total() const { return coordinates + index + spacing + search; }
};

struct Built {
    MapBuild times;
    std::vector<double> values;  // the message's values
    NearestMap map;
    std::string extent;
};

Built buildMap(const std::string& path, const float* area, int threads)
{
#ifdef _OPENMP
    omp_set_num_threads(threads);
#else
    (void)threads;
#endif
    Built b;
    FILE* in = nullptr;
    grib_handle* h = firstHandle(path, in);
    long points = 0;
    grib_get_long(h, "numberOfPoints", &points);
    std::vector<double> lats(static_cast<size_t>(points)), lons(lats.size());
    b.values.resize(lats.size());
    auto start = std::chrono::steady_clock::now();
    if (grib_get_data(h, lats.data(), lons.data(), b.values.data()) != 0)
        fail("ecCodes gives no coordinates of " + path);
    b.times.coordinates = seconds(start);
    b.extent = extentOf(lons, lats);

    start = std::chrono::steady_clock::now();
    const SourcePoints source(lons, lats);
    b.times.index = seconds(start);

    start = std::chrono::steady_clock::now();
    const PointSpacing typical = source.spacing();
    b.times.spacing = seconds(start);

    const double defined = definedSpacing(h, "lambert");
    AreaGrid grid;
    if (!grid.define(area, kAreaStep, kAreaStep))
        fail("the area cannot be made");
    start = std::chrono::steady_clock::now();
    b.map = source.mapOnto(grid, std::max(defined, typical.fourth));
    b.times.search = seconds(start);
    grib_handle_delete(h);
    std::fclose(in);
    return b;
}

// A further message as the reader takes it, by parts, on one thread: the
// sums over the file's messages after the first, whose grid's map is made.
struct Further {
    double read = 0;         // the message read and its handle made
    double decode = 0;       // ecCodes' values, into a buffer kept from message to message
    double gatherNew = 0;    // gathered into a new field, as each message's own
    double gatherKept = 0;   // gathered into a buffer kept from message to message
    double packed = 0;       // unpacked at the map's points from the packed numbers instead, kept buffer
    bool packedSame = true;  // the unpacked values are ecCodes' gathered ones, to the bit
};

Further furtherMessages(const std::string& path, const NearestMap& map)
{
    // What a grid's map would keep for unpacking at its points: the cells
    // that have a point, and their points.
    std::vector<int> points;
    std::vector<size_t> cells;
    const size_t area = static_cast<size_t>(map.area().columns() * map.area().rows());
    for (size_t c = 0; c < area; ++c) {
        if (map.pointOf(c) >= 0) {
            cells.push_back(c);
            points.push_back(static_cast<int>(map.pointOf(c)));
        }
    }
    const double fill = 9999.0;
    Further f;
    FILE* in = std::fopen(path.c_str(), "rb");
    int err = 0;
    std::vector<double> values, kept, packedValues, packedOut;
    std::vector<std::vector<double>> fields;
    for (size_t m = 0;; ++m) {
        auto start = std::chrono::steady_clock::now();
        grib_handle* h = grib_handle_new_from_file(nullptr, in, &err);
        if (!h)
            break;
        const double read = seconds(start);
        start = std::chrono::steady_clock::now();
        if (decodeValuesOnly(h, kNx * kNy, values) != 0)
            fail("cannot decode " + path);
        const double decode = seconds(start);
        start = std::chrono::steady_clock::now();
        fields.emplace_back();
        map.gather(values, fill, fields.back());
        const double gatherNew = seconds(start);
        start = std::chrono::steady_clock::now();
        map.gather(values, fill, kept);
        const double gatherKept = seconds(start);
        start = std::chrono::steady_clock::now();
        SimplePacking packing;
        if (!simplePackingOf(h, static_cast<size_t>(kNx * kNy), packing))
            fail("the message is not simply packed");
        unpackAt(packing, points, packedValues);
        packedOut.assign(area, fill);
        for (size_t k = 0; k < cells.size(); ++k)
            packedOut[cells[k]] = packedValues[k];
        const double packed = seconds(start);
        grib_handle_delete(h);
        f.packedSame = f.packedSame && packedOut == kept;
        if (m == 0)
            continue;
        f.read += read;
        f.decode += decode;
        f.gatherNew += gatherNew;
        f.gatherKept += gatherKept;
        f.packed += packed;
    }
    std::fclose(in);
    return f;
}

// The table's one row: t on the 20 levels, uncompressed.
std::string temperatureRow()
{
    std::string levels;
    for (long level : kLevels)
        levels += (levels.empty() ? "" : ";") + std::to_string(level);
    return "t,x,Isobaric surface,,x,,,0,0,TMP,x,,,," + levels + ",0,1";
}

// The level of 1000 hPa of TMP in `path` (the first message's) is, cell for
// cell, the value of the map's point in single precision, and the fill value
// where the map has none. Says how many cells differ.
size_t cellsOffTheMap(const std::string& path, const Built& built)
{
    int nc = 0, var = 0, dims = 0;
    if (nc_open(path.c_str(), NC_NOWRITE, &nc) != NC_NOERR || nc_inq_varid(nc, "TMP", &var) != NC_NOERR ||
        nc_inq_varndims(nc, var, &dims) != NC_NOERR || dims != 3)
        fail("no TMP(level, latitude, longitude) in " + path);
    int ids[3];
    nc_inq_vardimid(nc, var, ids);
    // The axes: each dimension's coordinate variable, of its name.
    std::vector<double> axes[3];
    for (int d = 0; d < 3; ++d) {
        char name[NC_MAX_NAME + 1];
        size_t length = 0;
        int axis = 0;
        nc_inq_dim(nc, ids[d], name, &length);
        axes[d].resize(length);
        if (nc_inq_varid(nc, name, &axis) != NC_NOERR || nc_get_var_double(nc, axis, axes[d].data()) != NC_NOERR)
            fail(std::string("no coordinate variable ") + name + " in " + path);
    }
    const long long columns = built.map.area().columns(), rows = built.map.area().rows();
    if (axes[1].size() != static_cast<size_t>(rows) || axes[2].size() != static_cast<size_t>(columns))
        fail("TMP's grid is not the map's in " + path);
    const auto level = std::find(axes[0].begin(), axes[0].end(), static_cast<double>(kLevels[0]));
    if (level == axes[0].end())
        fail("TMP has no level " + std::to_string(kLevels[0]) + " in " + path);
    const size_t start[3] = {static_cast<size_t>(level - axes[0].begin()), 0, 0};
    const size_t count[3] = {1, static_cast<size_t>(rows), static_cast<size_t>(columns)};
    std::vector<float> data(static_cast<size_t>(rows * columns));
    float fill = 0;
    if (nc_get_vara_float(nc, var, start, count, data.data()) != NC_NOERR ||
        nc_get_att_float(nc, var, "_FillValue", &fill) != NC_NOERR)
        fail("cannot read TMP in " + path);
    nc_close(nc);
    // The output's rows may run either way: its latitude axis says which.
    const bool flipped = rows > 1 && axes[1].front() > axes[1].back();
    size_t off = 0;
    for (long long j = 0; j < rows; ++j) {
        const long long outRow = flipped ? rows - 1 - j : j;
        for (long long i = 0; i < columns; ++i) {
            const int64_t point = built.map.pointOf(static_cast<size_t>(j * columns + i));
            const float want = point >= 0 ? static_cast<float>(built.values[static_cast<size_t>(point)]) : fill;
            off += data[static_cast<size_t>(outRow * columns + i)] != want ? 1 : 0;
        }
    }
    return off;
}

// The machine's load average over the last minute: figures taken while
// other work runs are not the program's alone.
std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string load;
    in >> load;
    return load.empty() ? "?" : load;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string loadBefore = loadAverage();
    const Setup setup = setUp(argc, argv);
    const int runs = setup.runs;
    const bool keep = argc > 2;
    const std::string& dir = setup.dir;
    const std::string input = dir + "/lambert.grib2";
    const std::string first = dir + "/lambert1.grib2";
    makeInput(input, first);

    // The area: the grid's longitudes and latitudes, widened to tenths of a
    // degree.
    double lon0 = 0, lon1 = 0, lat0 = 0, lat1 = 0;
    {
        FILE* in = nullptr;
        grib_handle* h = firstHandle(first, in);
        std::vector<double> lats(static_cast<size_t>(kNx * kNy)), lons(lats.size()), values(lats.size());
        if (grib_get_data(h, lats.data(), lons.data(), values.data()) != 0)
            fail("ecCodes gives no coordinates of " + first);
        grib_handle_delete(h);
        std::fclose(in);
        lon0 = std::floor(*std::min_element(lons.begin(), lons.end()) * 10) / 10;
        lon1 = std::ceil(*std::max_element(lons.begin(), lons.end()) * 10) / 10;
        lat0 = std::floor(*std::min_element(lats.begin(), lats.end()) * 10) / 10;
        lat1 = std::ceil(*std::max_element(lats.begin(), lats.end()) * 10) / 10;
    }
    char areaRow[160];
    std::snprintf(areaRow, sizeof areaRow, "%.1f,%.1f,%.1f,%.1f,0.03,,,", lon0, lon1, lat0, lat1);
    writeTable(dir + "/config/nearest.csv", areaRow, {temperatureRow()});
    const float area[4] = {static_cast<float>(lon0), static_cast<float>(lat0), static_cast<float>(lon1),
                           static_cast<float>(lat1)};

    std::vector<double> wholes, further, unpacks;
    for (int k = 0; k < runs; ++k) {
        const Decode d = decodeAll(input);
        wholes.push_back(d.whole);
        further.push_back(d.further / (kMessages - 1));
        unpacks.push_back(d.furtherValues / (kMessages - 1));
    }
    const double yardstick = median(further);

    std::vector<double> coordinates, index, spacing, search, total, search2;
    Built built;
    for (int k = 0; k < runs; ++k) {
        built = buildMap(first, area, 1);
        coordinates.push_back(built.times.coordinates);
        index.push_back(built.times.index);
        spacing.push_back(built.times.spacing);
        search.push_back(built.times.search);
        total.push_back(built.times.total());
        search2.push_back(buildMap(first, area, 2).times.search);
    }
    const double mapTime = median(total);
#ifdef _OPENMP
    omp_set_num_threads(1);
#endif

    std::vector<double> read, decode, gatherNew, gatherKept, packed;
    bool packedSame = true;
    for (int k = 0; k < runs; ++k) {
        const Further f = furtherMessages(input, built.map);
        constexpr double perMessage = 1000.0 / (kMessages - 1);  // milliseconds
        read.push_back(f.read * perMessage);
        decode.push_back(f.decode * perMessage);
        gatherNew.push_back(f.gatherNew * perMessage);
        gatherKept.push_back(f.gatherKept * perMessage);
        packed.push_back(f.packed * perMessage);
        packedSame = packedSame && f.packedSame;
    }

    // The four conversions in turn, so that a slower spell of the machine
    // falls on each alike.
    std::vector<double> wall[4], peak[4];
    const std::string inputs[4] = {first, input, first, input};
    const std::string outputs[4] = {dir + "/one-1.nc", dir + "/all-1.nc", dir + "/one-2.nc", dir + "/all-2.nc"};
    const int threads[4] = {1, 1, 2, 2};
    for (int k = 0; k < runs; ++k) {
        for (int c = 0; c < 4; ++c) {
            const Run r = convert(dir, inputs[c], "nearest.csv", outputs[c], threads[c]);
            wall[c].push_back(r.wall);
            peak[c].push_back(r.peakMiB);
        }
    }
    const Run one1 {median(wall[0]), median(peak[0])}, all1 {median(wall[1]), median(peak[1])};
    const Run one2 {median(wall[2]), median(peak[2])}, all2 {median(wall[3]), median(peak[3])};
    const bool sameThreads =
        sameContent(outputs[0], outputs[2]) && sameContent(outputs[1], outputs[3]);
    const size_t off = cellsOffTheMap(dir + "/all-1.nc", built);

    const double further1 = (all1.wall - one1.wall) / (kMessages - 1);
    const double further2 = (all2.wall - one2.wall) / (kMessages - 1);
    const long long cells = built.map.area().columns() * built.map.area().rows();
    std::printf("median of %d runs, %s; load average %s before, %s after\n", runs, input.c_str(),
                loadBefore.c_str(), loadAverage().c_str());
    std::printf("grid %ld x %ld Lambert conformal, 3 km; %s\n", kNx, kNy, built.extent.c_str());
    std::printf("area row %s: %lld x %lld cells, %zu with a point\n", areaRow, built.map.area().columns(),
                built.map.area().rows(), built.map.inside());
    std::printf("ecCodes decode, one thread: every message %.3f s; a further message %.2f ms (values alone %.2f ms)\n",
                median(wholes), yardstick * 1000, median(unpacks) * 1000);
    std::printf("map build, one thread: %.3f s (goal 5 s)\n", mapTime);
    std::printf("  coordinates (grib_get_data) %.3f s, index %.3f s, spacing %.3f s, search of %lld cells %.3f s "
                "(two threads %.3f s)\n",
                median(coordinates), median(index), median(spacing), cells, median(search), median(search2));
    std::printf("a further message's values placed, one thread: gathered into a new field %.1f ms, into a kept "
                "buffer %.1f ms (ecCodes' read and values in the same loop %.1f ms)\n",
                median(gatherNew), median(gatherKept), median(read) + median(decode));
    std::printf("  unpacked at the map's points from the packed numbers, instead of values and gather (%.1f ms): "
                "%.1f ms (the same values: %s)\n",
                median(decode) + median(gatherKept), median(packed), packedSame ? "yes" : "NO");
    std::printf("program, 1 message / 20 messages, one thread:  %.3f / %.3f s\n", one1.wall, all1.wall);
    std::printf("program, 1 message / 20 messages, two threads: %.3f / %.3f s\n", one2.wall, all2.wall);
    std::printf("each further message, one thread:  %.1f ms (%.2f x decode; goal 1.5)\n", further1 * 1000,
                further1 / yardstick);
    std::printf("each further message, two threads: %.1f ms (%.2f x decode; goal 1.5)\n", further2 * 1000,
                further2 / yardstick);
    std::printf("peak memory, 20 messages: %.0f MiB (one thread), %.0f MiB (two threads)\n", all1.peakMiB,
                all2.peakMiB);
    std::printf("outputs of one and two threads the same: %s\n", sameThreads ? "yes" : "NO");
    std::printf("first level's cells that differ from the map's points: %zu of %lld\n", off, cells);
    if (!keep)
        shell("rm -rf " + dir);
    return sameThreads && off == 0 && packedSame ? 0 : 1;
}
