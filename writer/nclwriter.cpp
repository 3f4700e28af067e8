#include "writer/nclwriter.h"

#include "logging/fatal.h"
#include "logging/qlogger.h"
#include "logging/trace.h"
#include "table/csvfileparser.h"
#include "writer/levelaxes.h"
#include "writer/ncput.h"
#include "writer/timecoordinates.h"

#include <QFile>
#include <QStringList>

#include <netcdf.h>

#include <algorithm>
#include <utility>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int indexlons = 0;
int indexlats = 0;

namespace {

QStringList levelParts(const std::string& levels)
{
    return QString::fromStdString(levels).split(';', Qt::KeepEmptyParts);
}

void logInfo(const QString& m, int line)
{
    QLogger::getInstance()->printInfo(m, __FILE_NAME__, "nclWriter", line);
}

void logError(const QString& m, int line)
{
    QLogger::getInstance()->printError(m, __FILE_NAME__, "nclWriter", line);
}

// The new file is on disk before it replaces the old one.
void syncFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Installing the file releases the lock: the lock file becomes the output,
// and the caller hands its lock over.
void installFile(const std::string& tmpPath, const std::string& finalPath)
{
    syncFile(tmpPath);
    if (std::rename(tmpPath.c_str(), finalPath.c_str()) == 0)
        return;
    const int err = errno;
    throw FatalError(2,
                     QString("cannot install %1 as %2: %3")
                         .arg(QString::fromStdString(tmpPath), QString::fromStdString(finalPath),
                              QString::fromLocal8Bit(std::strerror(err))),
                     KV_HERE, "the existing output is left as it was");
}

}  // namespace

std::string nclWriter::gridKey(int dimDx, float firstLon, float firstLat)
{
    char key[64];
    std::snprintf(key, sizeof key, "%d_%.2f_%.2f", dimDx, static_cast<double>(firstLon),
                  static_cast<double>(firstLat));
    return key;
}

void nclWriter::convert(const std::vector<double>& in_data, std::vector<float>& out_data)
{
    if (!out_data.empty())
        return;
    out_data.reserve(in_data.size());
    for (double v : in_data)
        out_data.push_back(static_cast<float>(v));
}

int nclWriter::containLevel(std::string levelstr)
{
    if (levelstr.empty())
        return -1;
    for (const auto& [id, axis] : m_levels)
        if (axis.longstr == levelstr)
            return id;
    NC_LEVELS axis;
    axis.longstr = levelstr;
    for (const QString& part : levelParts(levelstr))
        axis.levels.push_back(part.toFloat());
    const int id = static_cast<int>(m_levels.size());
    m_levels.emplace(id, std::move(axis));
    return id;
}

int nclWriter::findLevelIndex(int levelId, long level)
{
    if (levelId < 0)
        return 0;
    const auto it = m_levels.find(levelId);
    if (it == m_levels.end())
        return -1;
    const std::vector<float>& levels = it->second.levels;
    for (size_t i = 0; i < levels.size(); ++i)
        if (levels[i] == static_cast<float>(level))
            return static_cast<int>(i);
    return -1;
}

void nclWriter::write(const CachedData* in_data, std::string outPath, std::string iniPath)
{
    m_levels.clear();
    m_latlons.clear();
    const int last = std::clamp<int>(g_collect_number, 0, kMemberSlots - 1);
    std::vector<NC_DATA> nc(kMemberSlots);
    for (int i = 0; i <= last; ++i)
        convertGrb2Nc(in_data[i], nc[static_cast<size_t>(i)], iniPath);
    // A file without variables would be taken for a product: none is made.
    m_written = 0;
    if (std::all_of(nc.begin(), nc.begin() + last + 1, [](const NC_DATA& member) { return member.empty(); }))
        return;
    if (last == 0)
        write2File(nc[0], outPath.c_str(), -1);
    else
        write2File(nc.data(), outPath.c_str(), -1);
}

// How a row's level list places the fields of one key.
struct nclWriter::LevelPlan {
    int axis = -1;       // level axis id, -1 without a list
    QStringList parts;   // the list's entries as written
    // A one-entry list takes a field of any level only when no field of the
    // key has the listed one.
    bool listedLevelPresent = false;
};

void nclWriter::convertGrb2Nc(const CachedData& in_data, NC_DATA& nc_data, std::string)
{
    CsvFileParser* table = CsvFileParser::getInstance();
    int stored = 0;
    for (const auto& [key, fields] : in_data) {
        const QString qKey = QString::fromStdString(key);
        logInfo(QString("[WRITE NC] deal with data %1").arg(qKey), __LINE__);
        const CSV_FILE* row = table->find(key);
        if (!row) {
            logError(QString("[WRITE NC] find null pointer %1").arg(qKey), __LINE__);
            continue;
        }
        if (row->writeSw == 0 || fields.empty())
            continue;
        if (assembleVariable(*row, fields, nc_data))
            ++stored;
    }
    logInfo(QString("[WRITE NC] process var sucess num: %1").arg(stored), __LINE__);
}

bool nclWriter::assembleVariable(const CSV_FILE& row, const std::vector<p_data>& fields, NC_DATA& nc_data)
{
    LevelPlan plan;
    plan.axis = containLevel(row.levels);
    plan.parts = levelParts(row.levels);
    plan.listedLevelPresent =
        plan.axis >= 0 && plan.parts.size() == 1 &&
        std::any_of(fields.begin(), fields.end(), [&](const p_data& f) { return findLevelIndex(plan.axis, f.level) >= 0; });

    // Several input keys may feed one output variable: the later ones add
    // their levels into the buffer the first one made.
    auto [it, added] = nc_data.emplace(row.newFactorName, NC_STRUCT {});
    NC_STRUCT& rec = it->second;
    rec.var = row.newFactorName;
    rec.longname = row.newDesc;
    convert(fields.front().lat, rec.lats);
    convert(fields.front().lon, rec.lons);
    rec.levelIndex = plan.axis;
    rec.needCompress = row.isCompress;

    // The fields in level order, lowest first, fields of one level in their
    // order of arrival; the store keeps its own order.
    std::vector<const p_data*> order;
    order.reserve(fields.size());
    for (const p_data& f : fields)
        order.push_back(&f);
    std::stable_sort(order.begin(), order.end(), [](const p_data* a, const p_data* b) { return cmpdata(*a, *b); });

    const p_data& low = *order.front();
    rec.dimDx = low.dimDx;
    rec.prop_initial_time = low.prop_initial_time;
    rec.forecastTime = static_cast<int>(low.forecastTime);
    rec.gribEdition = low.gribEdition;
    rec.prop_level_indicator = low.prop_level_indicator;
    rec.nameOfFirstFixedSurface = low.nameOfFirstFixedSurface;
    rec.fillValue = low.prop_fillValue;
    rec.isFi = low.isFi;
    rec.standardName = low.prop_standardName;
    rec.indicatorOfTypeOfLevel = low.typedoflevels;
    rec.units = row.newUnit.empty() ? low.prop_units : row.newUnit;
    rec.levelCount = std::max(1, static_cast<int>(plan.parts.size()));

    if (rec.data.empty()) {
        const size_t size = low.data.size() * static_cast<size_t>(rec.levelCount);
        std::printf("alloc oncstarct data,size = %zu\n", size);
        rec.data.assign(size, rec.fillValue);
    } else {
        logError(QString("[WRITE NC] oncstruct.data.size: %1").arg(rec.data.size()), __LINE__);
    }

    for (const p_data* f : order)
        placeField(rec, *f, plan, row);

    if (!rec.data.empty())
        return true;
    std::printf("error: [%s] data is empty\n", rec.var.c_str());
    if (added)
        nc_data.erase(it);
    return false;
}

void nclWriter::placeField(NC_STRUCT& rec, const p_data& f, const LevelPlan& plan, const CSV_FILE& row)
{
    if (f.lon.empty() || f.lat.empty()) {
        std::printf("no lon\n");
        return;
    }
    // Keyed by the single-precision coordinates the file will hold.
    m_latlons.emplace(gridKey(f.dimDx, static_cast<float>(f.lon.front()), static_cast<float>(f.lat.front())),
                      NC_LATLON {});

    const bool accepted = plan.parts.size() == 1
                              ? !plan.listedLevelPresent || findLevelIndex(plan.axis, f.level) >= 0
                              : plan.parts.contains(QString::number(f.level));
    if (!accepted) {
        logError(QString("[WRITE NC] drop this level: %1").arg(f.level), __LINE__);
        return;
    }

    const size_t n = f.data.size();
    if (f.forecastTime != g_forcastTime && f.forecastTime != -1) {
        const size_t first = std::min(n, rec.data.size());
        const bool filled = std::any_of(rec.data.begin(), rec.data.begin() + static_cast<long>(first),
                                        [&](float v) { return v != f.prop_fillValue; });
        if (filled) {
            std::printf("error:sum =1 name:%s  forcastTime %lldg_fo:%lld\n", f.factorShortName.c_str(),
                        static_cast<long long>(f.forecastTime), static_cast<long long>(g_forcastTime));
            return;
        }
    }

    int slice = findLevelIndex(plan.axis, f.level);
    if (slice < 0) {
        logError(QString("[WRITE NC] levelIndex= %1").arg(slice), __LINE__);
        if (plan.parts.size() != 1)
            return;
        slice = 0;
    }

    const size_t begin = static_cast<size_t>(slice) * n;
    if (begin + n > rec.data.size()) {
        const size_t i = begin >= rec.data.size() ? 0 : rec.data.size() - begin;
        std::printf("linux[%d]*block.data.size[%zu]+i[%zu] = %zu\n", slice, n, i, begin + i);
        std::printf("data.size:%zu\n", rec.data.size());
        std::printf("err over write\n");
        std::fflush(stdout);
        throw FatalError(255, "err over write", KV_HERE,
                         QString("variable %1, level %2: the field does not fit the variable's buffer")
                             .arg(QString::fromStdString(rec.var))
                             .arg(f.level));
    }
    // The write scaling: value x amplification + offset in double precision,
    // then rounded to float; fill values pass unscaled.
    const double amplification = row.amplification;
    const double offset = row.offset;
    const double fill = f.prop_fillValue;
    std::transform(f.data.begin(), f.data.end(), rec.data.begin() + static_cast<long>(begin), [&](double v) {
        return static_cast<float>(v != fill ? v * amplification + offset : v);
    });
}

void nclWriter::write2File(NC_DATA& nc_data, const char* filename, int)
{
    writeFile(&nc_data, 1, false, filename);
}

void nclWriter::write2File(NC_DATA* nc_data, const char* filename, int)
{
    const int members = std::clamp<int>(g_collect_number, 0, kMemberSlots - 1) + 1;
    writeFile(nc_data, members, true, filename);
}

// The file being written and what its steps share.
struct nclWriter::OutFile {
    int nc = -1;
    NC_DATA* members = nullptr;  // members[0] gives the variables and their order
    int memberCount = 1;
    bool ensemble = false;
    int ensDim = -1;
    int ensVar = -1;
    TimeCoordinates* times = nullptr;
};

void nclWriter::writeFile(NC_DATA* members, int memberCount, bool ensemble, const char* filename)
{
    const std::string finalPath = filename;
    const std::string tmpPath = finalPath + ".tmp";
    OutFile out;
    out.members = members;
    out.memberCount = memberCount;
    out.ensemble = ensemble;

    std::vector<std::string> names;
    for (const auto& [name, v] : members[0])
        names.push_back(name);
    TimeCoordinates times(names);
    out.times = &times;

    ncCheck(nc_create(tmpPath.c_str(), NC_NETCDF4, &out.nc), "creating the file");
    putGlobalAttributes(out.nc, m_history);
    if (ensemble)
        ncCheck(nc_def_dim(out.nc, "ens", static_cast<size_t>(memberCount), &out.ensDim), "defining \"ens\"");
    defineGridDimensions(out);
    // Level dimensions; without variables the single-member layout has none.
    const bool levelAxes = ensemble || !members[0].empty();
    if (levelAxes)
        defineLevelDimensions(out);
    defineGridVariables(out);
    defineLevelVariables(out);
    if (ensemble) {
        std::printf("123123\n");
        ncCheck(nc_def_var(out.nc, "ens", NC_INT, 1, &out.ensDim, &out.ensVar), "defining \"ens\"");
    }
    defineDataVariables(out);
    times.define(out.nc);
    if (ensemble)
        nLog("def nc var\n");
    ncCheck(nc_enddef(out.nc), "ending the definitions");

    writeAxisValues(out, levelAxes);
    times.write(out.nc);
    writeDataValues(out);
    ncCheck(nc_close(out.nc), "closing the file");
    if (!ensemble)
        logInfo("[WRITE NC] write nc finish", __LINE__);

    installFile(tmpPath, finalPath);
    if (ensemble)
        nLog("write nc finish\n");
}

NC_LATLON* nclWriter::gridOf(const NC_STRUCT& v)
{
    if (v.lons.empty() || v.lats.empty())
        return nullptr;
    const auto g = m_latlons.find(gridKey(v.dimDx, v.lons.front(), v.lats.front()));
    return g == m_latlons.end() ? nullptr : &g->second;
}

// Grid dimensions, numbered in the order the variables first use them.
void nclWriter::defineGridDimensions(const OutFile& out)
{
    for (int m = 0; m < (out.ensemble ? out.memberCount : 1); ++m) {
        for (auto& [name, v] : out.members[m]) {
            NC_LATLON* grid = gridOf(v);
            if (!grid || (grid->dimxId != -1 && grid->dimyId != -1))
                continue;
            const int n = indexlons;
            ++indexlons;
            ++indexlats;
            v.lonIndex = v.latIndex = n;
            grid->lonIndex = grid->latIndex = n;
            ncCheck(nc_def_dim(out.nc, QString("g0_lon_%1").arg(n).toLatin1().constData(), v.lons.size(), &grid->dimxId),
                    "defining a longitude dimension");
            ncCheck(nc_def_dim(out.nc, QString("g0_lat_%1").arg(n).toLatin1().constData(), v.lats.size(), &grid->dimyId),
                    "defining a latitude dimension");
            grid->dx = std::fabs(v.lons.front() - v.lons.back()) / static_cast<float>(v.lons.size() - 1);
            grid->dy = std::fabs(v.lats.front() - v.lats.back()) / static_cast<float>(v.lats.size() - 1);
            grid->lo1 = v.lons.front();
            grid->lo2 = v.lons.back();
            grid->la1 = v.lats.front();
            grid->la2 = v.lats.back();
        }
    }
}

void nclWriter::defineLevelDimensions(const OutFile& out)
{
    for (auto& [id, axis] : m_levels)
        ncCheck(nc_def_dim(out.nc, QString("level_%1").arg(id).toLatin1().constData(), axis.levels.size(), &axis.dimId),
                "defining a level dimension");
}

// Coordinate variables of the grids that a variable uses.
void nclWriter::defineGridVariables(const OutFile& out)
{
    for (auto& [key, grid] : m_latlons) {
        if (grid.dimxId < 0 || grid.dimyId < 0)
            continue;
        // Both axes carry the grid's six numbers, each axis in its own order.
        struct Axis {
            const char* prefix;
            int dim;
            int* var;
            const char* longName;
            const char* type;
            const char* units;
            std::pair<const char*, float> numbers[6];
            const char* cfAxis;
        };
        const Axis axes[] = {
            {"g0_lat_%1", grid.dimyId, &grid.dimyDataId, "latitude", "Lat", "degrees_north",
             {{"Dj", grid.dx}, {"Di", grid.dy}, {"La2", grid.la2}, {"La1", grid.la1}, {"Lo2", grid.lo2}, {"Lo1", grid.lo1}},
             "Y"},
            {"g0_lon_%1", grid.dimxId, &grid.dimxDataId, "longitude", "Lon", "degrees_east",
             {{"Di", grid.dy}, {"Dj", grid.dx}, {"Lo2", grid.lo2}, {"Lo1", grid.lo1}, {"La2", grid.la2}, {"La1", grid.la1}},
             "X"},
        };
        for (const Axis& axis : axes) {
            const QByteArray name = QString(axis.prefix).arg(grid.latIndex).toLatin1();
            ncCheck(nc_def_var(out.nc, name.constData(), NC_FLOAT, 1, &axis.dim, axis.var),
                    "defining a coordinate variable");
            putText(out.nc, *axis.var, "long_name", axis.longName);
            putText(out.nc, *axis.var, "_CoordinateAxisType", axis.type);
            putText(out.nc, *axis.var, "units", axis.units);
            for (const auto& [attribute, value] : axis.numbers)
                putFloat(out.nc, *axis.var, attribute, value);
            putText(out.nc, *axis.var, "standard_name", axis.longName);
            putText(out.nc, *axis.var, "axis", axis.cfAxis);
        }
    }
}

void nclWriter::defineLevelVariables(const OutFile& out)
{
    const std::map<int, LevelLabel> labels = labelAxes(out.members[0]);
    for (auto& [id, axis] : m_levels) {
        if (axis.dimId < 0)
            continue;
        ncCheck(nc_def_var(out.nc, QString("level_%1").arg(id).toLatin1().constData(), NC_FLOAT, 1, &axis.dimId,
                           &axis.levelId),
                "defining a level variable");
        const auto label = labels.find(id);
        putLevelAttributes(out.nc, axis.levelId, label == labels.end() ? LevelLabel() : label->second);
    }
}

void nclWriter::defineDataVariables(const OutFile& out)
{
    for (auto& [name, v] : out.members[0]) {
        v.varid = -1;
        const NC_LATLON* grid = gridOf(v);
        if (!grid || grid->dimxId < 0 || grid->dimyId < 0) {
            logError(QString("[WRITE NC] %1 has no grid; not written").arg(QString::fromStdString(name)), __LINE__);
            continue;
        }
        int dims[4];
        int ndims = 0;
        if (out.ensemble)
            dims[ndims++] = out.ensDim;
        if (v.levelCount > 1) {
            const auto axis = m_levels.find(v.levelIndex);
            if (axis == m_levels.end() || axis->second.dimId < 0) {
                logError(QString("[WRITE NC] %1 has no level axis; not written").arg(QString::fromStdString(name)),
                         __LINE__);
                continue;
            }
            dims[ndims++] = axis->second.dimId;
        }
        dims[ndims++] = grid->dimyId;
        dims[ndims++] = grid->dimxId;
        if (out.ensemble)
            std::printf("#def var of %s\n", name.c_str());
        ncCheck(nc_def_var(out.nc, name.c_str(), NC_FLOAT, ndims, dims, &v.varid), "defining a variable");
        if (v.needCompress > 0)
            ncCheck(nc_def_var_deflate(out.nc, v.varid, 0, 1, std::min(v.needCompress, 9)), "setting compression");
        putVariableAttributes(out.nc, v, out.ensemble, out.times->coordinatesFor(v.prop_initial_time, v.forecastTime));
    }
}

// Level axis values and, in the ensemble layout, the member numbers.
void nclWriter::writeAxisValues(const OutFile& out, bool levelAxes)
{
    if (levelAxes)
        for (const auto& [id, axis] : m_levels)
            if (axis.levelId >= 0)
                ncCheck(nc_put_var_float(out.nc, axis.levelId, axis.levels.data()), "writing a level axis");
    if (out.ensemble) {
        std::vector<int> numbers(static_cast<size_t>(out.memberCount));
        for (int m = 0; m < out.memberCount; ++m)
            numbers[static_cast<size_t>(m)] = m;
        ncCheck(nc_put_var_int(out.nc, out.ensVar, numbers.data()), "writing \"ens\"");
    }
}

void nclWriter::writeDataValues(const OutFile& out)
{
    for (auto& [name, v] : out.members[0]) {
        if (v.varid < 0)
            continue;
        NC_LATLON* grid = gridOf(v);
        size_t nx = 0, ny = 0;
        nc_inq_dimlen(out.nc, grid->dimxId, &nx);
        nc_inq_dimlen(out.nc, grid->dimyId, &ny);
        const size_t levels = static_cast<size_t>(std::max(1, v.levelCount));
        const size_t slice = levels * ny * nx;
        if (!out.ensemble)
            KV_LOG_DEBUG(QString("[WRITE NC] write: %1").arg(QString::fromStdString(name)));
        // The buffer must match the variable's dimensions: a variable on a
        // grid of other sizes that shares the grid's key is not written.
        if (v.lons.size() != nx || v.lats.size() != ny || v.data.size() != slice) {
            std::printf("Error:datasize check failed,skip %s\n", name.c_str());
            continue;
        }
        if (!grid->isWrite) {
            ncCheck(nc_put_var_float(out.nc, grid->dimxDataId, v.lons.data()), "writing longitudes");
            ncCheck(nc_put_var_float(out.nc, grid->dimyDataId, v.lats.data()), "writing latitudes");
            grid->isWrite = true;
        }
        ++m_written;
        if (!out.ensemble) {
            ncCheck(nc_put_var_float(out.nc, v.varid, v.data.data()), "writing a variable");
            continue;
        }
        // One member after the other; a member without this variable, or
        // with one of other size, contributes fill values.
        size_t count[4] = {1, 0, 0, 0};
        int k = 1;
        if (v.levelCount > 1)
            count[k++] = levels;
        count[k++] = ny;
        count[k++] = nx;
        std::vector<float> fill;
        for (int m = 0; m < out.memberCount; ++m) {
            const auto own = out.members[m].find(name);
            const float* values = nullptr;
            if (own != out.members[m].end() && own->second.data.size() == slice) {
                values = own->second.data.data();
            } else {
                if (fill.empty())
                    fill.assign(slice, v.fillValue);
                values = fill.data();
            }
            const size_t start[4] = {static_cast<size_t>(m), 0, 0, 0};
            ncCheck(nc_put_vara_float(out.nc, v.varid, start, count, values), "writing a variable");
        }
    }
}
