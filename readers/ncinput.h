// What the two netCDF readers share: a file opened read-only whose failures
// end the run with status 2, coordinate values by dimension name, slabs of
// a variable, and the filing of one field per level.
#pragma once

#include "logging/fatal.h"
#include "model/pdata.h"

#include <QString>

#include <map>
#include <string>
#include <vector>

class NcInput {
public:
    // Opens the file; a failure ends the run with status 2. `detail` is said
    // with every failure.
    explicit NcInput(const std::string& path, const QString& detail = QString());
    ~NcInput();
    NcInput(const NcInput&) = delete;
    NcInput& operator=(const NcInput&) = delete;

    int id() const { return m_id; }
    int dimCount() const { return m_ndims; }
    int varCount() const { return m_nvars; }
    size_t dimLength(int dim) const { return m_dimLength[static_cast<size_t>(dim)]; }

    // A netCDF status that must be success: otherwise "Error: <message>" on
    // standard output, the message and the file on standard error, status 2.
    void check(int status) const;

    std::string varName(int var) const;
    std::string dimName(int dim) const;
    std::vector<int> varDims(int var) const;
    std::string text(int var, const char* name) const;
    // The first value of a numeric attribute.
    int integer(int var, const char* name) const;
    float real(int var, const char* name) const;

    // Values of the one-dimensional variables named like the given
    // dimensions, by dimension name; dimensions without such a variable, or
    // whose values cannot be read, are left out.
    std::map<std::string, std::vector<float>> coordinates(const std::vector<int>& dims) const;

    // Reads `expected` values of a variable: every entry of its dimensions
    // except at the positions of `picks`, where only the given entry is
    // taken. False, with nothing read, when the values do not number
    // `expected` or a picked entry is past its dimension.
    bool readSlab(int var, const std::vector<int>& dims, const std::map<size_t, size_t>& picks, size_t expected,
                  std::vector<float>& values) const;

    // Largest variable read, in values.
    static constexpr size_t kMaxValues = size_t(1) << 28;

private:
    // The number of values of an attribute of text (`text`) or of numbers;
    // one of the other kind ends the run.
    size_t valueCount(int var, const char* name, bool text) const;

    std::string m_path;
    QString m_detail;
    int m_id = -1;
    int m_ndims = 0;
    int m_nvars = 0;
    std::vector<size_t> m_dimLength;
};

// Files a field in member perturbationNumber, unless its key already holds
// a field of the same level: fields already in the store win.
void fileKeepingLevels(p_data&& field, CachedData* store);

// Files one field per level of `values` (levels x lats x lons, longitude
// fastest; one level when `levels` is empty), each a copy of `base` with
// its level, axes and `restore(value)` as data.
template <typename Restore>
void fileLevels(const p_data& base, const std::vector<float>& levels, const std::vector<float>& lats,
                const std::vector<float>& lons, const std::vector<float>& values, Restore restore, CachedData* store)
{
    const size_t slice = lats.size() * lons.size();
    const size_t count = levels.empty() ? 1 : levels.size();
    for (size_t p = 0; p < count && (p + 1) * slice <= values.size(); ++p) {
        const float level = levels.empty() ? 0.0f : levels[p];
        // A level value that is not a number or lies beyond the range of a
        // level number names no level.
        if (!(level > -2147483648.0f && level < 2147483648.0f)) {
            reportProblem(QString("[READ NC] %1: level %2 is not a level number; it is not read")
                              .arg(QString::fromStdString(base.factorShortName))
                              .arg(static_cast<double>(level)),
                          KV_HERE);
            continue;
        }
        p_data field = base;
        field.level = static_cast<int32_t>(level);
        field.lat.assign(lats.begin(), lats.end());
        field.lon.assign(lons.begin(), lons.end());
        field.data.resize(slice);
        const float* v = values.data() + p * slice;
        for (size_t i = 0; i < slice; ++i)
            field.data[i] = restore(v[i]);
        fileKeepingLevels(std::move(field), store);
    }
}

// Longitude step in eighths of a degree; 0 for an axis of fewer than two entries.
int spacingCode(const std::vector<float>& lons);
