#include "writer/nclwriter.h"

#include "logging/fatal.h"
#include "logging/qlogger.h"
#include "logging/trace.h"
#include "table/csvfileparser.h"

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

// A netCDF call that must succeed: its failure ends the run with status 2.
// The file under construction is the run's lock file, which its owner
// removes when the run fails; an existing output is never touched.
void ncCheck(int status, const char* what)
{
    if (status == NC_NOERR)
        return;
    std::printf("Error: %s\n", nc_strerror(status));
    std::fflush(stdout);
    throw FatalError(2, QString("netCDF: %1 failed: %2").arg(what, nc_strerror(status)), KV_HERE);
}

// Attribute writes are not checked: a missing attribute does not spoil the data.
void putText(int nc, int var, const char* name, const std::string& text)
{
    nc_put_att_text(nc, var, name, text.size(), text.data());
}

void putFloat(int nc, int var, const char* name, float value)
{
    nc_put_att_float(nc, var, name, NC_FLOAT, 1, &value);
}

void putInt(int nc, int var, const char* name, int value)
{
    nc_put_att_int(nc, var, name, NC_INT, 1, &value);
}

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

void nclWriter::write(CachedData* in_data, std::string outPath, std::string iniPath)
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

void nclWriter::convertGrb2Nc(CachedData& in_data, NC_DATA& nc_data, std::string)
{
    CsvFileParser* table = CsvFileParser::getInstance();
    int stored = 0;
    for (auto& [key, fields] : in_data) {
        const QString qKey = QString::fromStdString(key);
        logInfo(QString("[WRITE NC] deal with data %1").arg(qKey), __LINE__);
        const CSV_FILE* row = table->find(key);
        if (!row) {
            logError(QString("[WRITE NC] find null pointer %1").arg(qKey), __LINE__);
            continue;
        }
        if (row->writeSw == 0 || fields.empty())
            continue;

        const int levelIndex = containLevel(row->levels);
        const QStringList parts = levelParts(row->levels);
        // A one-entry list takes a field of any level only when no field of
        // the key has the listed one.
        const bool listedLevelPresent =
            levelIndex >= 0 && parts.size() == 1 &&
            std::any_of(fields.begin(), fields.end(),
                        [&](const p_data& f) { return findLevelIndex(levelIndex, f.level) >= 0; });

        // Several input keys may feed one output variable: the later ones add
        // their levels into the buffer the first one made.
        auto [it, added] = nc_data.emplace(row->newFactorName, NC_STRUCT {});
        NC_STRUCT& rec = it->second;
        rec.var = row->newFactorName;
        rec.longname = row->newDesc;
        convert(fields.front().lat, rec.lats);
        convert(fields.front().lon, rec.lons);
        rec.levelIndex = levelIndex;
        rec.needCompress = row->isCompress;

        std::stable_sort(fields.begin(), fields.end(), cmpdata);
        const p_data& low = fields.front();
        rec.dimDx = low.dimDx;
        rec.prop_initial_time = low.prop_initial_time;
        rec.forecastTime = static_cast<int>(low.forecastTime);
        rec.gribEdition = low.gribEdition;
        rec.prop_level_indicator = low.prop_level_indicator;
        rec.nameOfFirstFixedSurface = low.nameOfFirstFixedSurface;
        rec.fillValue = low.prop_fillValue;
        rec.isFi = low.isFi;
        rec.indicatorOfTypeOfLevel = low.typedoflevels;
        rec.units = row->newUnit.empty() ? low.prop_units : row->newUnit;
        rec.levelCount = std::max(1, static_cast<int>(parts.size()));

        if (rec.data.empty()) {
            const size_t size = low.data.size() * static_cast<size_t>(rec.levelCount);
            std::printf("alloc oncstarct data,size = %zu\n", size);
            rec.data.assign(size, rec.fillValue);
        } else {
            logError(QString("[WRITE NC] oncstruct.data.size: %1").arg(rec.data.size()), __LINE__);
        }

        const double amplification = row->amplification;
        const double offset = row->offset;
        for (p_data& f : fields) {
            const size_t n = f.data.size();
            const double fill = f.prop_fillValue;
            for (double& v : f.data)
                if (v != fill)
                    v = v * amplification + offset;

            if (f.lon.empty() || f.lat.empty()) {
                std::printf("no lon\n");
                continue;
            }
            // Keyed by the single-precision coordinates the file will hold.
            m_latlons.emplace(gridKey(f.dimDx, static_cast<float>(f.lon.front()), static_cast<float>(f.lat.front())),
                              NC_LATLON {});

            const QString level = QString::number(f.level);
            const bool accepted = parts.size() == 1
                                      ? !listedLevelPresent || findLevelIndex(levelIndex, f.level) >= 0
                                      : parts.contains(level);
            if (!accepted) {
                logError(QString("[WRITE NC] drop this level: %1").arg(f.level), __LINE__);
                continue;
            }

            if (f.forecastTime != g_forcastTime && f.forecastTime != -1) {
                const size_t first = std::min(n, rec.data.size());
                const bool filled = std::any_of(rec.data.begin(), rec.data.begin() + static_cast<long>(first),
                                                [&](float v) { return v != f.prop_fillValue; });
                if (filled) {
                    std::printf("error:sum =1 name:%s  forcastTime %lldg_fo:%lld\n", f.factorShortName.c_str(),
                                static_cast<long long>(f.forecastTime), static_cast<long long>(g_forcastTime));
                    continue;
                }
            }

            int slice = findLevelIndex(levelIndex, f.level);
            if (slice < 0) {
                logError(QString("[WRITE NC] levelIndex= %1").arg(slice), __LINE__);
                if (parts.size() != 1)
                    continue;
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
            std::transform(f.data.begin(), f.data.end(), rec.data.begin() + static_cast<long>(begin),
                           [](double v) { return static_cast<float>(v); });
        }

        if (!rec.data.empty()) {
            ++stored;
        } else {
            std::printf("error: [%s] data is empty\n", rec.var.c_str());
            if (added)
                nc_data.erase(it);
        }
    }
    logInfo(QString("[WRITE NC] process var sucess num: %1").arg(stored), __LINE__);
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

void nclWriter::writeFile(NC_DATA* members, int memberCount, bool ensemble, const char* filename)
{
    const std::string finalPath = filename;
    const std::string tmpPath = finalPath + ".tmp";
    NC_DATA& vars = members[0];

    int nc = -1;
    ncCheck(nc_create(tmpPath.c_str(), NC_NETCDF4, &nc), "creating the file");
    int ensDim = -1;
    if (ensemble)
        ncCheck(nc_def_dim(nc, "ens", static_cast<size_t>(memberCount), &ensDim), "defining \"ens\"");

    auto gridOf = [&](const NC_STRUCT& v) -> NC_LATLON* {
        if (v.lons.empty() || v.lats.empty())
            return nullptr;
        const auto g = m_latlons.find(gridKey(v.dimDx, v.lons.front(), v.lats.front()));
        return g == m_latlons.end() ? nullptr : &g->second;
    };

    // Grid dimensions, numbered in the order the variables first use them.
    for (int m = 0; m < (ensemble ? memberCount : 1); ++m) {
        for (auto& [name, v] : members[m]) {
            NC_LATLON* grid = gridOf(v);
            if (!grid)
                continue;
            if (grid->dimxId == -1 || grid->dimyId == -1) {
                const int n = indexlons;
                ++indexlons;
                ++indexlats;
                v.lonIndex = v.latIndex = n;
                grid->lonIndex = grid->latIndex = n;
                ncCheck(nc_def_dim(nc, QString("g0_lon_%1").arg(n).toLatin1().constData(), v.lons.size(),
                                   &grid->dimxId),
                        "defining a longitude dimension");
                ncCheck(nc_def_dim(nc, QString("g0_lat_%1").arg(n).toLatin1().constData(), v.lats.size(),
                                   &grid->dimyId),
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

    // Level dimensions; without variables the single-member layout has none.
    const bool levelAxes = ensemble || !vars.empty();
    if (levelAxes)
        for (auto& [id, axis] : m_levels)
            ncCheck(nc_def_dim(nc, QString("level_%1").arg(id).toLatin1().constData(), axis.levels.size(),
                               &axis.dimId),
                    "defining a level dimension");

    // Coordinate variables of the grids that a variable uses.
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
        };
        const Axis axes[] = {
            {"g0_lat_%1", grid.dimyId, &grid.dimyDataId, "latitude", "Lat", "degrees_north",
             {{"Dj", grid.dx}, {"Di", grid.dy}, {"La2", grid.la2}, {"La1", grid.la1}, {"Lo2", grid.lo2}, {"Lo1", grid.lo1}}},
            {"g0_lon_%1", grid.dimxId, &grid.dimxDataId, "longitude", "Lon", "degrees_east",
             {{"Di", grid.dy}, {"Dj", grid.dx}, {"Lo2", grid.lo2}, {"Lo1", grid.lo1}, {"La2", grid.la2}, {"La1", grid.la1}}},
        };
        for (const Axis& axis : axes) {
            const QByteArray name = QString(axis.prefix).arg(grid.latIndex).toLatin1();
            ncCheck(nc_def_var(nc, name.constData(), NC_FLOAT, 1, &axis.dim, axis.var), "defining a coordinate variable");
            putText(nc, *axis.var, "long_name", axis.longName);
            putText(nc, *axis.var, "_CoordinateAxisType", axis.type);
            putText(nc, *axis.var, "units", axis.units);
            for (const auto& [attribute, value] : axis.numbers)
                putFloat(nc, *axis.var, attribute, value);
        }
    }

    for (auto& [id, axis] : m_levels) {
        if (axis.dimId < 0)
            continue;
        ncCheck(nc_def_var(nc, QString("level_%1").arg(id).toLatin1().constData(), NC_FLOAT, 1, &axis.dimId,
                           &axis.levelId),
                "defining a level variable");
        putText(nc, axis.levelId, "long_name", "isobaric level");
        putText(nc, axis.levelId, "units", "hPa");
    }

    int ensVar = -1;
    if (ensemble) {
        std::printf("123123\n");
        ncCheck(nc_def_var(nc, "ens", NC_INT, 1, &ensDim, &ensVar), "defining \"ens\"");
    }

    // Data variables.
    for (auto& [name, v] : vars) {
        v.varid = -1;
        const NC_LATLON* grid = gridOf(v);
        if (!grid || grid->dimxId < 0 || grid->dimyId < 0) {
            logError(QString("[WRITE NC] %1 has no grid; not written").arg(QString::fromStdString(name)), __LINE__);
            continue;
        }
        int dims[4];
        int ndims = 0;
        if (ensemble)
            dims[ndims++] = ensDim;
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
        if (ensemble)
            std::printf("#def var of %s\n", name.c_str());
        ncCheck(nc_def_var(nc, name.c_str(), NC_FLOAT, ndims, dims, &v.varid), "defining a variable");
        if (v.needCompress > 0)
            ncCheck(nc_def_var_deflate(nc, v.varid, 0, 1, std::min(v.needCompress, 9)), "setting compression");
        putText(nc, v.varid, "grid_type", "Latitude/longitude");
        putText(nc, v.varid, "initial_time", v.prop_initial_time);
        putText(nc, v.varid, "forcast_time_units", "hours");
        putInt(nc, v.varid, "forcast_time", v.forecastTime);
        putText(nc, v.varid, "long_name", v.longname);
        putText(nc, v.varid, "nameOfFirstFixedSurface", v.nameOfFirstFixedSurface);
        putText(nc, v.varid, "indicatorOfTypeOfLevel", v.indicatorOfTypeOfLevel);
        nc_put_att_float(nc, v.varid, "_FillValue", NC_FLOAT, 1, &v.fillValue);
        putText(nc, v.varid, "units", v.units);
        if (!ensemble)
            putInt(nc, v.varid, "dimDx", v.dimDx);
        putInt(nc, v.varid, "calByKVL", v.isFi ? 1 : 0);
    }
    if (ensemble)
        nLog("def nc var\n");

    ncCheck(nc_enddef(nc), "ending the definitions");

    if (levelAxes)
        for (const auto& [id, axis] : m_levels)
            if (axis.levelId >= 0)
                ncCheck(nc_put_var_float(nc, axis.levelId, axis.levels.data()), "writing a level axis");
    if (ensemble) {
        std::vector<int> numbers(static_cast<size_t>(memberCount));
        for (int m = 0; m < memberCount; ++m)
            numbers[static_cast<size_t>(m)] = m;
        ncCheck(nc_put_var_int(nc, ensVar, numbers.data()), "writing \"ens\"");
    }

    for (auto& [name, v] : vars) {
        if (v.varid < 0)
            continue;
        NC_LATLON* grid = gridOf(v);
        size_t nx = 0, ny = 0;
        nc_inq_dimlen(nc, grid->dimxId, &nx);
        nc_inq_dimlen(nc, grid->dimyId, &ny);
        const size_t levels = static_cast<size_t>(std::max(1, v.levelCount));
        const size_t slice = levels * ny * nx;
        if (!ensemble)
            KV_LOG_DEBUG(QString("[WRITE NC] write: %1").arg(QString::fromStdString(name)));
        // The buffer must match the variable's dimensions: a variable on a
        // grid of other sizes that shares the grid's key is not written.
        if (v.lons.size() != nx || v.lats.size() != ny || v.data.size() != slice) {
            std::printf("Error:datasize check failed,skip %s\n", name.c_str());
            continue;
        }
        if (!grid->isWrite) {
            ncCheck(nc_put_var_float(nc, grid->dimxDataId, v.lons.data()), "writing longitudes");
            ncCheck(nc_put_var_float(nc, grid->dimyDataId, v.lats.data()), "writing latitudes");
            grid->isWrite = true;
        }
        ++m_written;
        if (!ensemble) {
            ncCheck(nc_put_var_float(nc, v.varid, v.data.data()), "writing a variable");
            continue;
        }
        // One member after the other; a member without this variable, or
        // with one of other size, contributes fill values.
        std::vector<float> fill;
        for (int m = 0; m < memberCount; ++m) {
            const auto own = members[m].find(name);
            const float* values = nullptr;
            if (own != members[m].end() && own->second.data.size() == slice) {
                values = own->second.data.data();
            } else {
                fill.assign(slice, v.fillValue);
                values = fill.data();
            }
            const size_t start[4] = {static_cast<size_t>(m), 0, 0, 0};
            size_t count[4] = {1, 0, 0, 0};
            int k = 1;
            if (v.levelCount > 1)
                count[k++] = levels;
            count[k++] = ny;
            count[k++] = nx;
            ncCheck(nc_put_vara_float(nc, v.varid, start, count, values), "writing a variable");
        }
    }

    ncCheck(nc_close(nc), "closing the file");
    if (!ensemble)
        logInfo("[WRITE NC] write nc finish", __LINE__);

    // Installing the file releases the lock: the lock file becomes the output,
    // and the caller hands its lock over.
    syncFile(tmpPath);
    if (std::rename(tmpPath.c_str(), finalPath.c_str()) != 0) {
        const int err = errno;
        throw FatalError(2,
                         QString("cannot install %1 as %2: %3")
                             .arg(QString::fromStdString(tmpPath), QString::fromStdString(finalPath),
                                  QString::fromLocal8Bit(std::strerror(err))),
                         KV_HERE, "the existing output is left as it was");
    }
    if (ensemble)
        nLog("write nc finish\n");
}
