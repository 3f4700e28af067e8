// What the two netCDF readers share: a file opened read-only whose failures
// end the run with status 2, coordinate values by dimension name, slabs of
// a variable, and the filing of one field per level.
#pragma once

#include "logging/fatal.h"
#include "model/pdata.h"

#include <QString>

#include <algorithm>
#include <map>
#include <new>
#include <string>
#include <vector>

// Where the fields of a data variable lie in it: its dimensions, the
// positions read at one entry only (a member, a further axis), the position
// of its level axis (-1 without one) and the values of its axes.
struct NcLayout {
    std::vector<int> dims;
    std::map<size_t, size_t> picks;
    int levelAt = -1;
    const std::vector<float>* levels = &kNone;
    // The two surfaces of each level of an axis of layers; empty for others.
    const std::vector<float>* levelBounds = &kNone;
    const std::vector<float>* lats = &kNone;
    const std::vector<float>* lons = &kNone;

    inline static const std::vector<float> kNone{};
};

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
    // standard output, the message, the file and the subject (a variable),
    // when given, on standard error, status 2.
    void check(int status, const QString& subject = QString()) const;

    std::string varName(int var) const;
    std::string dimName(int dim) const;
    std::vector<int> varDims(int var) const;
    std::string text(int var, const char* name) const;
    // The text of an attribute that may be absent or of another type (empty
    // then); NC_GLOBAL for the file's own.
    std::string optionalText(int var, const char* name) const;
    // The first value of a numeric attribute.
    int integer(int var, const char* name) const;
    float real(int var, const char* name) const;

    // Values of the one-dimensional variables named like the given
    // dimensions, by dimension name; dimensions without such a variable,
    // whose values cannot be read or are more than kMaxListValues or this
    // machine's memory holds, are left out.
    std::map<std::string, std::vector<float>> coordinates(const std::vector<int>& dims) const;

    // The values of the bounds variable that the coordinate variable of
    // dimension `dim` names ("bounds"), two per entry of the dimension, and
    // that variable's name; empty when it names none or it has another shape.
    std::vector<float> bounds(int dim, std::string& name) const;

    // Why the variable cannot be read as `layout` places it: no longitude or
    // latitude values, no values, another shape than its axes, more values
    // than this machine's memory holds. Empty when it can.
    QString layoutFault(const NcLayout& layout) const;

    // The values of one level of the variable (entry `level` of its level
    // axis; its only level without one), latitudes x longitudes, longitude
    // fastest. The layout must be one without a fault.
    void readLevel(int var, const NcLayout& layout, size_t level, std::vector<float>& values) const;

    // Bytes the values kept of one variable may take, at 8 bytes a value:
    // the machine's physical memory, unless set lower (0 sets it back). A
    // harness that runs under an allocation limit lowers it.
    static void setMemoryLimit(size_t bytes);
    static size_t memoryLimit();
    static bool fitsInMemory(uint64_t values);

    // Longest coordinate list or attribute read, in values.
    static constexpr size_t kMaxListValues = size_t(1) << 28;

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

// A level value that is not a number or lies beyond the range of a level
// number names no level: false, with the problem reported.
bool isLevelNumber(float level, const std::string& variable);

// Reads the variable one level at a time and files one field per level,
// each a copy of `base` with its level, axes and `restore(value)` as data
// (and, where `base` comes from an input, the origin of its level's unit);
// levels whose value is not a level number are left out. Returns why the
// variable cannot be read (NcInput::layoutFault), with nothing filed; empty
// once it is filed. Memory: the fields kept and one level of floats.
template <typename Restore>
QString fileLevels(const NcInput& file, int var, const NcLayout& layout, const p_data& base, Restore restore,
                   CachedData* store)
{
    const QString fault = file.layoutFault(layout);
    if (!fault.isEmpty())
        return fault;
    const std::vector<float>& levels = *layout.levels;
    const size_t slice = layout.lats->size() * layout.lons->size();
    std::vector<p_data> fields;
    std::vector<float> values;
    try {
        for (size_t p = 0; p < std::max<size_t>(levels.size(), 1); ++p) {
            const float level = levels.empty() ? 0.0f : levels[p];
            if (!isLevelNumber(level, base.factorShortName))
                continue;
            file.readLevel(var, layout, p, values);
            p_data& field = fields.emplace_back(base);
            field.level = static_cast<int32_t>(level);
            field.levelValue = level;
            // A layer keeps its two surfaces; a single level its value.
            const std::vector<float>& bounds = *layout.levelBounds;
            if (!levels.empty() && bounds.size() == 2 * levels.size() && bounds[2 * p] == bounds[2 * p] &&
                bounds[2 * p + 1] != bounds[2 * p]) {
                field.levelValue = bounds[2 * p];
                field.levelBottom = bounds[2 * p + 1];
            }
            if (base.origin != 0)
                field.origin = base.origin + p;
            field.lat.assign(layout.lats->begin(), layout.lats->end());
            field.lon.assign(layout.lons->begin(), layout.lons->end());
            field.data.resize(slice);
            for (size_t i = 0; i < slice; ++i)
                field.data[i] = restore(values[i]);
        }
    } catch (const std::bad_alloc&) {
        return QString("is too large for this machine's memory (%1 levels of %2 values)")
            .arg(std::max<size_t>(levels.size(), 1))
            .arg(slice);
    }
    for (p_data& field : fields)
        fileKeepingLevels(std::move(field), store);
    return QString();
}

// Longitude step in eighths of a degree; 0 for an axis of fewer than two entries.
int spacingCode(const std::vector<float>& lons);
