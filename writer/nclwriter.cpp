#include "writer/nclwriter.h"

#include "logging/fatal.h"
#include "logging/qlogger.h"
#include "logging/trace.h"
#include "table/csvfileparser.h"
#include "writer/levelaxes.h"
#include "writer/ncput.h"
#include "writer/slotvalues.h"
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

// The finished file becomes the output in one step.
void installFile(const std::string& workingPath, const std::string& finalPath)
{
    syncFile(workingPath);
    if (std::rename(workingPath.c_str(), finalPath.c_str()) == 0)
        return;
    const int err = errno;
    throw FatalError(2,
                     QString("cannot install %1 as %2: %3")
                         .arg(QString::fromStdString(workingPath), QString::fromStdString(finalPath),
                              QString::fromLocal8Bit(std::strerror(err))),
                     KV_HERE, "the existing output is left as it was");
}

}  // namespace

void nclWriter::write(const CachedData* in_data, std::string outPath, std::string)
{
    plan(in_data);
    writePlanned(outPath);
}

void nclWriter::writePlanned(const std::string& outPath)
{
    // A file without variables would be taken for a product: none is made.
    m_written = 0;
    if (m_planned == 0)
        return;
    if (m_members.size() == 1)
        write2File(m_members[0], outPath.c_str(), -1);
    else
        write2File(m_members.data(), outPath.c_str(), -1);
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
    NC_DATA* members = nullptr;  // the variables of each member
    int memberCount = 1;
    // Every variable of any member, in name order, as described by the
    // lowest member holding it; the file's variables and their order.
    NC_DATA vars;
    bool ensemble = false;
    int ensDim = -1;
    int ensVar = -1;
    int boundsDim = -1;
    TimeCoordinates* times = nullptr;
};

NC_DATA nclWriter::describeVariables(NC_DATA* members, int memberCount) const
{
    NC_DATA vars;
    for (int m = 0; m < memberCount; ++m)
        for (const auto& [name, v] : members[m])
            vars.emplace(name, v);
    return vars;
}

void nclWriter::writeFile(NC_DATA* members, int memberCount, bool ensemble, const char* filename)
{
    const std::string finalPath = filename;
    const std::string workingPath = workingPathOf(finalPath);
    OutFile out;
    out.members = members;
    out.memberCount = memberCount;
    out.ensemble = ensemble;
    out.vars = describeVariables(members, memberCount);

    std::vector<std::string> names;
    for (const auto& [name, v] : out.vars)
        names.push_back(name);
    TimeCoordinates times(names);
    out.times = &times;

    ncCheck(nc_create(workingPath.c_str(), NC_NETCDF4, &out.nc), "creating the file");
    putGlobalAttributes(out.nc, m_history);
    if (ensemble)
        ncCheck(nc_def_dim(out.nc, "ens", static_cast<size_t>(memberCount), &out.ensDim), "defining \"ens\"");
    defineGridDimensions(out);
    // Level dimensions; without variables the single-member layout has none.
    const bool levelAxes = ensemble || !out.vars.empty();
    if (levelAxes)
        defineLevelDimensions(out);
    // The two surfaces of each layer, for axes of layers.
    if (levelAxes && std::any_of(m_levels.begin(), m_levels.end(), [](const auto& a) { return !a.second.bounds.empty(); }))
        ncCheck(nc_def_dim(out.nc, "bnds", 2, &out.boundsDim), "defining \"bnds\"");
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

    installFile(workingPath, finalPath);
    if (ensemble)
        nLog("write nc finish\n");
}

NC_LATLON* nclWriter::gridOf(const NC_STRUCT& v)
{
    if (v.lons.empty() || v.lats.empty())
        return nullptr;
    const auto g = m_latlons.find(gridKey(v.dimDx, v.lons.front(), v.lats.front(), v.lons.size(), v.lats.size()));
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
    const std::map<int, LevelLabel> labels = labelAxes(out.vars);
    for (auto& [id, axis] : m_levels) {
        if (axis.dimId < 0)
            continue;
        const QString name = QString("level_%1").arg(id);
        ncCheck(nc_def_var(out.nc, name.toLatin1().constData(), NC_FLOAT, 1, &axis.dimId, &axis.levelId),
                "defining a level variable");
        const auto label = labels.find(id);
        putLevelAttributes(out.nc, axis.levelId, label == labels.end() ? LevelLabel() : label->second);
        if (axis.bounds.empty() || out.boundsDim < 0)
            continue;
        // The layers' two surfaces, as CF bounds of the axis.
        const QByteArray bounds = (name + "_bnds").toLatin1();
        putText(out.nc, axis.levelId, "bounds", bounds.constData());
        const int dims[2] = {axis.dimId, out.boundsDim};
        ncCheck(nc_def_var(out.nc, bounds.constData(), NC_FLOAT, 2, dims, &axis.boundsId),
                "defining the bounds of a level variable");
    }
}

void nclWriter::defineDataVariables(OutFile& out)
{
    for (auto& [name, v] : out.vars) {
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

// Level axis values (and bounds) and, in the ensemble layout, the member
// numbers.
void nclWriter::writeAxisValues(const OutFile& out, bool levelAxes)
{
    if (levelAxes)
        for (const auto& [id, axis] : m_levels) {
            if (axis.levelId >= 0)
                ncCheck(nc_put_var_float(out.nc, axis.levelId, axis.levels.data()), "writing a level axis");
            if (axis.boundsId >= 0 && axis.bounds.size() == 2 * axis.levels.size())
                ncCheck(nc_put_var_float(out.nc, axis.boundsId, axis.bounds.data()), "writing a level axis's bounds");
        }
    if (out.ensemble) {
        std::vector<int> numbers(static_cast<size_t>(out.memberCount));
        for (int m = 0; m < out.memberCount; ++m)
            numbers[static_cast<size_t>(m)] = m;
        ncCheck(nc_put_var_int(out.nc, out.ensVar, numbers.data()), "writing \"ens\"");
    }
}

void nclWriter::writeDataValues(OutFile& out)
{
    for (auto& [name, v] : out.vars) {
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
        // The planning put every field on its variable's grid; values that
        // still do not match the variable's dimensions are not written.
        const auto first = out.members[0].find(name);
        if (!out.ensemble && (v.lons.size() != nx || v.lats.size() != ny || first == out.members[0].end() ||
                              first->second.valueCount != slice)) {
            std::printf("Error:datasize check failed,skip %s\n", name.c_str());
            continue;
        }
        if (!grid->isWrite) {
            ncCheck(nc_put_var_float(out.nc, grid->dimxDataId, v.lons.data()), "writing longitudes");
            ncCheck(nc_put_var_float(out.nc, grid->dimyDataId, v.lats.data()), "writing latitudes");
            grid->isWrite = true;
        }
        ++m_written;
        // One member after the other; a member without this variable, or
        // with one of other size, contributes fill values.
        std::vector<const NC_STRUCT*> members;
        for (int m = 0; m < (out.ensemble ? out.memberCount : 1); ++m) {
            const auto own = out.members[m].find(name);
            members.push_back(own != out.members[m].end() && own->second.valueCount == slice ? &own->second : nullptr);
        }
        putVariableValues(out.nc, v.varid, members, out.ensemble, v.levelCount > 1, levels, ny, nx, v.fillValue);
    }
}
