#include "readers/ncinput.h"

#include "logging/fatal.h"

#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

NcInput::NcInput(const std::string& path, const QString& detail) : m_path(path), m_detail(detail)
{
    check(nc_open(path.c_str(), NC_NOWRITE, &m_id));
    check(nc_inq(m_id, &m_ndims, &m_nvars, nullptr, nullptr));
    m_dimLength.assign(static_cast<size_t>(std::max(m_ndims, 0)), 0);
    for (int d = 0; d < m_ndims; ++d)
        check(nc_inq_dimlen(m_id, d, &m_dimLength[static_cast<size_t>(d)]));
}

NcInput::~NcInput()
{
    if (m_id >= 0)
        nc_close(m_id);
}

void NcInput::check(int status) const
{
    if (status == NC_NOERR)
        return;
    std::printf("Error: %s\n", nc_strerror(status));
    std::fflush(stdout);
    fatal(2,
          QString("netCDF: cannot read %1: %2")
              .arg(QString::fromStdString(m_path), QString::fromLatin1(nc_strerror(status))),
          KV_HERE, m_detail);
}

std::string NcInput::varName(int var) const
{
    char name[NC_MAX_NAME + 1] = {};
    check(nc_inq_varname(m_id, var, name));
    return name;
}

std::string NcInput::dimName(int dim) const
{
    char name[NC_MAX_NAME + 1] = {};
    check(nc_inq_dimname(m_id, dim, name));
    return name;
}

std::vector<int> NcInput::varDims(int var) const
{
    int ndims = 0;
    check(nc_inq_varndims(m_id, var, &ndims));
    std::vector<int> dims(static_cast<size_t>(std::max(ndims, 0)));
    if (ndims > 0)
        check(nc_inq_vardimid(m_id, var, dims.data()));
    return dims;
}

std::string NcInput::text(int var, const char* name) const
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

int NcInput::integer(int var, const char* name) const
{
    int value = 0;
    check(nc_get_att_int(m_id, var, name, &value));
    return value;
}

float NcInput::real(int var, const char* name) const
{
    float value = 0;
    check(nc_get_att_float(m_id, var, name, &value));
    return value;
}

std::map<std::string, std::vector<float>> NcInput::coordinates(const std::vector<int>& dims) const
{
    std::map<std::string, std::vector<float>> out;
    for (int d : dims) {
        if (d < 0 || d >= m_ndims)
            continue;
        char name[NC_MAX_NAME + 1] = {};
        if (nc_inq_dimname(m_id, d, name) != NC_NOERR)
            continue;
        const size_t length = dimLength(d);
        int var = -1, varDims = 0, varDim = -1;
        if (nc_inq_varid(m_id, name, &var) != NC_NOERR || nc_inq_varndims(m_id, var, &varDims) != NC_NOERR ||
            varDims != 1 || nc_inq_vardimid(m_id, var, &varDim) != NC_NOERR || varDim != d || length > kMaxValues)
            continue;
        std::vector<float> values(length);
        if (length == 0 || nc_get_var_float(m_id, var, values.data()) == NC_NOERR)
            out[name] = std::move(values);
    }
    return out;
}

bool NcInput::readSlab(int var, const std::vector<int>& dims, const std::map<size_t, size_t>& picks,
                       size_t expected, std::vector<float>& values) const
{
    std::vector<size_t> start(dims.size(), 0), count(dims.size(), 0);
    size_t total = 1;
    for (size_t k = 0; k < dims.size(); ++k) {
        const size_t length = dimLength(dims[k]);
        const auto pick = picks.find(k);
        if (pick != picks.end()) {
            if (pick->second >= length)
                return false;
            start[k] = pick->second;
            count[k] = 1;
        } else {
            count[k] = length;
            total *= length;
        }
    }
    if (total != expected || expected > kMaxValues)
        return false;
    values.resize(expected);
    if (expected > 0)
        check(nc_get_vara_float(m_id, var, start.data(), count.data(), values.data()));
    return true;
}

void fileKeepingLevels(p_data&& field, CachedData* store)
{
    const int64_t member = field.perturbationNumber;
    if (member < 0 || member >= kMemberSlots)
        return;
    CachedData& slot = store[member];
    const auto it = slot.find(variableKey(field));
    if (it == slot.end()) {
        insertRecord(std::move(field), store);
        return;
    }
    const bool present = std::any_of(it->second.begin(), it->second.end(),
                                     [&](const p_data& f) { return f.level == field.level; });
    if (!present)
        it->second.push_back(std::move(field));
}

int spacingCode(const std::vector<float>& lons)
{
    if (lons.size() < 2)
        return 0;
    const float step = std::fabs(lons.front() - lons.back()) / static_cast<float>(lons.size() - 1);
    return spacingCodeOf(step);
}
