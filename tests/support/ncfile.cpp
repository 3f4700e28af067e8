#include "support/ncfile.h"

#include <QFile>
#include <gtest/gtest.h>

#include <netcdf.h>

const NcAttribute* NcVariable::attribute(const std::string& n) const
{
    for (const NcAttribute& a : attributes)
        if (a.name == n)
            return &a;
    return nullptr;
}

std::vector<std::string> NcVariable::attributeNames() const
{
    std::vector<std::string> names;
    for (const NcAttribute& a : attributes)
        names.push_back(a.name);
    return names;
}

namespace {

std::vector<NcAttribute> attributesOf(int id, int v, int natts)
{
    std::vector<NcAttribute> attributes;
    for (int a = 0; a < natts; ++a) {
        NcAttribute att;
        char an[NC_MAX_NAME + 1] = {};
        nc_inq_attname(id, v, a, an);
        att.name = an;
        nc_type at = 0;
        size_t len = 0;
        nc_inq_att(id, v, an, &at, &len);
        att.type = at;
        if (at == NC_CHAR) {
            att.text.resize(len);
            nc_get_att_text(id, v, an, att.text.data());
        } else {
            att.numbers.resize(len);
            nc_get_att_double(id, v, an, att.numbers.data());
        }
        attributes.push_back(att);
    }
    return attributes;
}

}  // namespace

std::string attributeText(const NcVariable* v, const char* name)
{
    const NcAttribute* a = v ? v->attribute(name) : nullptr;
    return a ? a->text : "(none)";
}

NcFile::NcFile(const QString& path)
{
    int id = -1;
    const int status = nc_open(QFile::encodeName(path).constData(), NC_NOWRITE, &id);
    if (status != NC_NOERR) {
        ADD_FAILURE() << "cannot open " << path.toStdString() << ": " << nc_strerror(status);
        return;
    }
    m_id = id;
    int ngatts = 0;
    nc_inq_natts(m_id, &ngatts);
    m_globals.attributes = attributesOf(m_id, NC_GLOBAL, ngatts);
    int nvars = 0;
    nc_inq_nvars(m_id, &nvars);
    for (int v = 0; v < nvars; ++v) {
        NcVariable var;
        char name[NC_MAX_NAME + 1] = {};
        int ndims = 0, natts = 0;
        nc_type type = 0;
        int dimids[NC_MAX_VAR_DIMS];
        nc_inq_var(m_id, v, name, &type, &ndims, dimids, &natts);
        var.name = name;
        var.type = type;
        for (int d = 0; d < ndims; ++d) {
            char dn[NC_MAX_NAME + 1] = {};
            nc_inq_dimname(m_id, dimids[d], dn);
            var.dims.push_back(dn);
        }
        var.attributes = attributesOf(m_id, v, natts);
        m_vars.push_back(var);
    }
}

NcFile::~NcFile()
{
    if (m_id >= 0)
        nc_close(m_id);
}

int NcFile::format() const
{
    int f = -1;
    nc_inq_format(m_id, &f);
    return f;
}

int NcFile::globalAttributeCount() const
{
    int n = -1;
    nc_inq_natts(m_id, &n);
    return n;
}

std::vector<std::pair<std::string, size_t>> NcFile::dims() const
{
    std::vector<std::pair<std::string, size_t>> out;
    int n = 0;
    nc_inq_ndims(m_id, &n);
    for (int d = 0; d < n; ++d) {
        char name[NC_MAX_NAME + 1] = {};
        size_t len = 0;
        nc_inq_dim(m_id, d, name, &len);
        out.emplace_back(name, len);
    }
    return out;
}

std::vector<NcVariable> NcFile::variables() const
{
    return m_vars;
}

std::vector<std::string> NcFile::variableNames() const
{
    std::vector<std::string> names;
    for (const NcVariable& v : m_vars)
        names.push_back(v.name);
    return names;
}

const NcVariable* NcFile::variable(const std::string& name) const
{
    for (const NcVariable& v : m_vars)
        if (v.name == name)
            return &v;
    return nullptr;
}

namespace {

size_t valueCount(int id, int var)
{
    int ndims = 0;
    nc_inq_varndims(id, var, &ndims);
    int dimids[NC_MAX_VAR_DIMS];
    nc_inq_vardimid(id, var, dimids);
    size_t n = 1;
    for (int d = 0; d < ndims; ++d) {
        size_t len = 0;
        nc_inq_dimlen(id, dimids[d], &len);
        n *= len;
    }
    return n;
}

}  // namespace

std::vector<float> NcFile::floats(const std::string& name) const
{
    int var = -1;
    if (nc_inq_varid(m_id, name.c_str(), &var) != NC_NOERR) {
        ADD_FAILURE() << "no variable " << name;
        return {};
    }
    std::vector<float> values(valueCount(m_id, var));
    EXPECT_EQ(nc_get_var_float(m_id, var, values.data()), NC_NOERR) << name;
    return values;
}

std::vector<int> NcFile::ints(const std::string& name) const
{
    int var = -1;
    if (nc_inq_varid(m_id, name.c_str(), &var) != NC_NOERR) {
        ADD_FAILURE() << "no variable " << name;
        return {};
    }
    std::vector<int> values(valueCount(m_id, var));
    EXPECT_EQ(nc_get_var_int(m_id, var, values.data()), NC_NOERR) << name;
    return values;
}

int NcFile::deflateLevel(const std::string& name, int* shuffle) const
{
    int var = -1, sh = 0, deflate = 0, level = 0;
    nc_inq_varid(m_id, name.c_str(), &var);
    nc_inq_var_deflate(m_id, var, &sh, &deflate, &level);
    if (shuffle)
        *shuffle = sh;
    return deflate ? level : 0;
}
