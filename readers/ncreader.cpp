#include "readers/ncreader.h"

#include "logging/fatal.h"
#include "logging/qlogger.h"
#include "table/csvfileparser.h"

#include <QFile>

#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace {

// Largest variable read back, in values.
constexpr size_t kMaxValues = size_t(1) << 28;

// An output file that cannot be read back ends the run with status 2 before
// anything is written; the file itself is left as it is.
class NcFile {
public:
    explicit NcFile(const std::string& path) : m_path(path)
    {
        check(nc_open(path.c_str(), NC_NOWRITE, &m_id));
        m_open = true;
    }
    ~NcFile()
    {
        if (m_open)
            nc_close(m_id);
    }
    NcFile(const NcFile&) = delete;
    NcFile& operator=(const NcFile&) = delete;

    int id() const { return m_id; }

    void check(int status) const
    {
        if (status == NC_NOERR)
            return;
        std::printf("Error: %s\n", nc_strerror(status));
        std::fflush(stdout);
        fatal(2,
              QString("netCDF: cannot read back %1: %2")
                  .arg(QString::fromStdString(m_path), QString::fromLatin1(nc_strerror(status))),
              KV_HERE, "the existing output is left as it was");
    }

    std::string text(int var, const char* name) const
    {
        size_t length = 0;
        check(nc_inq_attlen(m_id, var, name, &length));
        std::string value(length, '\0');
        if (length > 0)
            check(nc_get_att_text(m_id, var, name, value.data()));
        // Writers that store a terminating zero byte: keep the text before it.
        value.resize(std::strlen(value.c_str()));
        return value;
    }

    int integer(int var, const char* name) const
    {
        int value = 0;
        check(nc_get_att_int(m_id, var, name, &value));
        return value;
    }

    float real(int var, const char* name) const
    {
        float value = 0;
        check(nc_get_att_float(m_id, var, name, &value));
        return value;
    }

    std::string dimName(int dim) const
    {
        char name[NC_MAX_NAME + 1] = {};
        check(nc_inq_dimname(m_id, dim, name));
        return name;
    }

private:
    std::string m_path;
    int m_id = -1;
    bool m_open = false;
};

// The filing rule of read-back fields: a key that already holds a field of
// the same level keeps it.
void fileField(p_data&& field, CachedData* mcache)
{
    const int64_t member = field.perturbationNumber;
    if (member < 0 || member >= kMemberSlots)
        return;
    CachedData& store = mcache[member];
    const auto it = store.find(variableKey(field));
    if (it == store.end()) {
        insertRecord(std::move(field), mcache);
        return;
    }
    const bool present = std::any_of(it->second.begin(), it->second.end(),
                                     [&](const p_data& f) { return f.level == field.level; });
    if (!present)
        it->second.push_back(std::move(field));
}

void logError(const QString& m, int line)
{
    QLogger::getInstance()->printError(m, __FILE_NAME__, "readFormNcfile", line);
}

void logDebug(const QString& m, int line)
{
    QLogger::getInstance()->printDebug(m, __FILE_NAME__, "readFormNcfile", line);
}

}  // namespace

void ncReader::read(std::string path, CachedData* in_data)
{
    if (!CsvFileParser::getInstance()->m_overWrite)
        return;
    const int last = std::clamp<int>(g_collect_number, 0, kMemberSlots - 1);
    for (int i = 0; i <= last; ++i)
        readFormNcfile(path, in_data, i);
}

void ncReader::readFormNcfile(std::string path, CachedData* in_data, int chs)
{
    if (!QFile::exists(QString::fromStdString(path)))
        return;
    const NcFile file(path);
    const int nc = file.id();
    int ndims = 0, nvars = 0;
    file.check(nc_inq(nc, &ndims, &nvars, nullptr, nullptr));

    // Coordinate values by dimension name, from one-dimensional variables
    // named like their dimension. Failures here leave a dimension without values.
    std::map<std::string, std::vector<float>> coordinates;
    std::vector<size_t> dimLength(static_cast<size_t>(std::max(ndims, 0)), 0);
    for (int d = 0; d < ndims; ++d) {
        char name[NC_MAX_NAME + 1] = {};
        size_t length = 0;
        if (nc_inq_dimname(nc, d, name) != NC_NOERR || nc_inq_dimlen(nc, d, &length) != NC_NOERR)
            continue;
        dimLength[static_cast<size_t>(d)] = length;
        int var = -1, varDims = 0, varDim = -1;
        if (nc_inq_varid(nc, name, &var) != NC_NOERR || nc_inq_varndims(nc, var, &varDims) != NC_NOERR ||
            varDims != 1 || nc_inq_vardimid(nc, var, &varDim) != NC_NOERR || varDim != d || length > kMaxValues)
            continue;
        std::vector<float> values(length);
        if (length == 0 || nc_get_var_float(nc, var, values.data()) == NC_NOERR)
            coordinates[name] = std::move(values);
    }

    CsvFileParser* table = CsvFileParser::getInstance();
    int variablesRead = 0;
    for (int var = 0; var < nvars; ++var) {
        char nameBuffer[NC_MAX_NAME + 1] = {};
        file.check(nc_inq_varname(nc, var, nameBuffer));
        const std::string name = nameBuffer;
        // The member axis of an ensemble file carries no attributes.
        if (name == "ens")
            continue;
        const std::string longName = file.text(var, "long_name");
        if (longName == "isobaric level" || longName == "longitude" || longName == "latitude" || longName == "ens")
            continue;

        int varDims = 0;
        file.check(nc_inq_varndims(nc, var, &varDims));
        std::vector<int> dims(static_cast<size_t>(std::max(varDims, 0)));
        if (varDims > 0)
            file.check(nc_inq_vardimid(nc, var, dims.data()));

        const std::vector<float>* levels = nullptr;
        const std::vector<float>* lons = nullptr;
        const std::vector<float>* lats = nullptr;
        int ensPosition = -1;
        size_t perMember = 1;  // values of one member
        for (int k = 0; k < varDims; ++k) {
            const int dim = dims[static_cast<size_t>(k)];
            const std::string dimName = file.dimName(dim);
            if (dimName == "ens") {
                ensPosition = k;
                continue;
            }
            perMember *= dimLength[static_cast<size_t>(dim)];
            int coordinate = -1;
            file.check(nc_inq_varid(nc, dimName.c_str(), &coordinate));
            const std::string role = file.text(coordinate, "long_name");
            const auto values = coordinates.find(dimName);
            const std::vector<float>* list = values == coordinates.end() ? nullptr : &values->second;
            if (role == "isobaric level")
                levels = list;
            else if (role == "longitude")
                lons = list;
            else if (role == "latitude")
                lats = list;
        }

        const std::string units = file.text(var, "units");
        if (!lons || !lats || lons->empty() || lats->empty()) {
            logError("[READ NC] data error", __LINE__);
            continue;
        }
        const size_t nx = lons->size(), ny = lats->size();
        const int dimDx =
            nx < 2 ? 0
                   : static_cast<int>(std::fabs(lons->front() - lons->back()) / static_cast<float>(nx - 1) / 0.125f);
        const std::string initialTime = file.text(var, "initial_time");
        file.integer(var, "forcast_time");
        const std::string surface = file.text(var, "nameOfFirstFixedSurface");
        const std::string levelType = file.text(var, "indicatorOfTypeOfLevel");
        const float fillValue = file.real(var, "_FillValue");
        const bool isFi = file.integer(var, "calByKVL") != 0;

        const std::string key = name + "_" + surface + "_" + levelType;
        const CSV_FILE* row = table->findfr(key);
        if (!row) {
            logError(QString("[READ NC] find null pointer %1").arg(QString::fromStdString(name)), __LINE__);
            continue;
        }

        const size_t levelCount = levels && !levels->empty() ? levels->size() : 1;
        const size_t sliceSize = nx * ny;
        const size_t total = levelCount * sliceSize;
        // The buffer holds exactly one member's values of the variable's own
        // dimensions; a variable of another shape is not read.
        if (total != perMember || total > kMaxValues) {
            logError(QString("[READ NC] data error: %1 does not have the shape of its axes")
                         .arg(QString::fromStdString(name)),
                     __LINE__);
            continue;
        }
        std::vector<float> buffer(total);
        if (total == 0) {
            logError(QString("[READ NC] error %1 data is empty").arg(QString::fromStdString(name)), __LINE__);
            continue;
        }
        if (ensPosition >= 0) {
            const size_t members = dimLength[static_cast<size_t>(dims[static_cast<size_t>(ensPosition)])];
            if (static_cast<size_t>(chs) >= members)
                continue;  // the file has no such member
            std::vector<size_t> start(dims.size(), 0), count(dims.size());
            for (size_t k = 0; k < dims.size(); ++k)
                count[k] = dimLength[static_cast<size_t>(dims[k])];
            start[static_cast<size_t>(ensPosition)] = static_cast<size_t>(chs);
            count[static_cast<size_t>(ensPosition)] = 1;
            file.check(nc_get_vara_float(nc, var, start.data(), count.data(), buffer.data()));
        } else {
            file.check(nc_get_var_float(nc, var, buffer.data()));
        }
        logDebug(QString("[READ NC] nc_read %1").arg(QString::fromStdString(row->oldFactorName)), __LINE__);

        const double amplification = row->amplification;
        const double offset = row->offset;
        for (size_t p = 0; p < levelCount; ++p) {
            p_data field;
            field.factorShortName = row->oldFactorName;
            field.factorLongName = row->oldDesc;
            field.nameOfFirstFixedSurface = row->nameOfFirstFixedSurface;
            field.prop_units = units;
            field.typedoflevels = levelType;
            field.prop_initial_time = initialTime;
            field.prop_fillValue = fillValue;
            field.level = levels && !levels->empty() ? static_cast<int32_t>((*levels)[p]) : 0;
            field.lat.assign(lats->begin(), lats->end());
            field.lon.assign(lons->begin(), lons->end());
            field.dimDx = dimDx;
            field.forecastTime = g_forcastTime;
            field.perturbationNumber = chs;
            field.isFi = isFi;
            field.readout = true;
            field.data.resize(sliceSize);
            // Undo the writer's rescaling; the writer maps fill values back.
            const float* values = buffer.data() + p * sliceSize;
            for (size_t i = 0; i < sliceSize; ++i)
                field.data[i] = (static_cast<double>(values[i]) - offset) / amplification;
            fileField(std::move(field), in_data);
        }
        ++variablesRead;
    }
    logDebug(QString("[READ NC] read nc end %1").arg(variablesRead), __LINE__);
}

void ncReader::insert(const p_data& in_vexa_data, CachedData* mcache)
{
    fileField(p_data(in_vexa_data), mcache);
}
