#include "readers/ncinput.h"

#include "logging/fatal.h"
#include "logging/lowerablelimit.h"
#include "model/levels.h"

#include <QStringList>

#include <netcdf.h>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <tuple>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KV_ADDRESS_SANITIZER 1
#endif
#elif defined(__SANITIZE_ADDRESS__)
#define KV_ADDRESS_SANITIZER 1
#endif
#ifdef KV_ADDRESS_SANITIZER
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

// Walks the header of a classic-format file (CDF-1, CDF-2 or CDF-5) before
// the netCDF library opens it. The library copies names of such files into
// the caller's NC_MAX_NAME + 1 bytes whatever their length, allocates the
// lengths and counts it reads before checking them against the file, and
// takes a header that runs past the end of the file as if zeros followed.
// Every header the library writes lies within its file and names nothing
// longer than NC_MAX_NAME, so a file breaking either rule is damaged and is
// refused here. A tag or type this walk does not know is left to the
// library to refuse.
class ClassicHeader {
public:
    explicit ClassicHeader(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        struct stat st {};
        if (m_fd >= 0 && ::fstat(m_fd, &st) == 0)
            m_size = static_cast<uint64_t>(st.st_size);
    }
    ~ClassicHeader()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ClassicHeader(const ClassicHeader&) = delete;
    ClassicHeader& operator=(const ClassicHeader&) = delete;

    // What is wrong with the header; empty when nothing is or the file is
    // not of the classic format.
    QString fault()
    {
        unsigned char magic[4];
        if (m_fd < 0 || !bytes(magic, 4) || std::memcmp(magic, "CDF", 3) != 0 ||
            (magic[3] != 1 && magic[3] != 2 && magic[3] != 5))
            return QString();
        m_countSize = magic[3] == 5 ? 8 : 4;
        const uint64_t offsetSize = magic[3] == 1 ? 4 : 8;
        walk(offsetSize);
        if (m_longest > NC_MAX_NAME)
            return QString("its header holds a name of %1 bytes, more than %2").arg(m_longest).arg(NC_MAX_NAME);
        if (m_pastEnd)
            return QString("its header runs past the end of the file");
        if (m_stringVariable)
            return QString("its header gives a variable the type string, which a classic file cannot hold");
        return QString();
    }

private:
    // Dimensions (name, length), global attributes, variables (name,
    // dimension ids, attributes, type, size, data offset), up to the first
    // fault.
    void walk(uint64_t offsetSize)
    {
        uint64_t n = 0;
        if (!skip(m_countSize) || !list(0x0A, n))  // after the number of records
            return;
        for (uint64_t i = 0; i < n; ++i)
            if (!name() || !skip(m_countSize))
                return;
        if (!attributes() || !list(0x0B, n))
            return;
        for (uint64_t i = 0; i < n; ++i) {
            uint64_t dims = 0, type = 0;
            if (!name() || !count(dims) || !skip(dims, m_countSize) || !attributes() || !number(type, 4))
                return;
            // The library takes a variable of strings, which take no bytes
            // in a classic file, and divides by its size of 0 checking its
            // shape.
            if (type == kString) {
                m_stringVariable = true;
                return;
            }
            if (!skip(m_countSize + offsetSize))
                return;
        }
    }

    static constexpr uint64_t kString = 12;

    bool fits(uint64_t n)
    {
        if (n > m_size - m_pos) {
            m_pastEnd = true;
            return false;
        }
        return true;
    }
    bool bytes(unsigned char* out, size_t n)
    {
        if (!fits(n) || ::pread(m_fd, out, n, static_cast<off_t>(m_pos)) != static_cast<ssize_t>(n))
            return false;
        m_pos += n;
        return true;
    }
    bool skip(uint64_t n)
    {
        if (!fits(n))
            return false;
        m_pos += n;
        return true;
    }
    // `n` entries of `size` bytes, padded to four bytes.
    bool skip(uint64_t n, uint64_t size)
    {
        if (n > m_size / size + 1)
            return fits(m_size + 1);
        return skip((n * size + 3) / 4 * 4);
    }
    bool number(uint64_t& value, size_t width)
    {
        unsigned char b[8];
        if (!bytes(b, width))
            return false;
        value = 0;
        for (size_t i = 0; i < width; ++i)
            value = value << 8 | b[i];
        return true;
    }
    bool count(uint64_t& value) { return number(value, m_countSize); }
    // A list header with the expected tag, or an absent list (no entries).
    bool list(uint64_t expected, uint64_t& n)
    {
        uint64_t tag = 0;
        if (!number(tag, 4) || !count(n))
            return false;
        // The library allocates a list by its count before reading it; every
        // entry takes at least a count's bytes.
        if (n > (m_size - m_pos) / m_countSize)
            return fits(m_size + 1);
        // The library takes an empty list whatever its tag.
        return n == 0 || tag == expected;
    }
    bool name()
    {
        uint64_t n = 0;
        if (!count(n))
            return false;
        m_longest = std::max(m_longest, n);
        return n <= NC_MAX_NAME && skip(n, 1);
    }
    bool attributes()
    {
        // Bytes per value by type; the library takes strings (12) as taking
        // none in a classic header, whatever their count.
        static const unsigned kSizes[] = {0, 1, 1, 2, 4, 4, 8, 1, 2, 4, 8, 8, 0};
        uint64_t n = 0;
        if (!list(0x0C, n))
            return false;
        for (uint64_t i = 0; i < n; ++i) {
            uint64_t type = 0, values = 0;
            if (!name() || !number(type, 4) || !count(values))
                return false;
            if (type == 0 || type > 12) {
                // A type the library refuses itself, unless its count is
                // more than the file holds.
                if (values > m_size - m_pos)
                    m_pastEnd = true;
                return false;
            }
            if (kSizes[type] > 0 && !skip(values, kSizes[type]))
                return false;
        }
        return true;
    }

    int m_fd;
    uint64_t m_size = 0;
    uint64_t m_pos = 0;
    size_t m_countSize = 4;
    uint64_t m_longest = 0;
    bool m_pastEnd = false;
    bool m_stringVariable = false;
};

// Reads what NcInput reads of any open file: every dimension, variable and
// attribute, and the values of the coordinate variables. Failures the
// library reports are the caller's to report.
void readHeader(int nc)
{
    int ndims = 0, nvars = 0, natts = 0;
    char name[NC_MAX_NAME + 1] = {};
    auto attributes = [&](int var, int count) {
        for (int a = 0; a < count; ++a) {
            nc_type type = NC_NAT;
            size_t length = 0;
            if (nc_inq_attname(nc, var, a, name) != NC_NOERR || nc_inq_att(nc, var, name, &type, &length) != NC_NOERR ||
                length > NcInput::kMaxListValues)
                continue;
            if (type == NC_CHAR) {
                std::vector<char> text(length + 1);
                nc_get_att_text(nc, var, name, text.data());
            } else if (type >= NC_BYTE && type <= NC_UINT64 && length > 0) {
                std::vector<double> values(length);
                nc_get_att_double(nc, var, name, values.data());
            }
        }
    };
    if (nc_inq(nc, &ndims, &nvars, &natts, nullptr) == NC_NOERR) {
        for (int d = 0; d < ndims; ++d) {
            size_t length = 0;
            nc_inq_dim(nc, d, name, &length);
        }
        attributes(NC_GLOBAL, natts);
        for (int var = 0; var < nvars; ++var) {
            int varDims = 0, varAtts = 0;
            nc_type type = NC_NAT;
            if (nc_inq_varndims(nc, var, &varDims) != NC_NOERR || varDims < 0 || varDims > NC_MAX_VAR_DIMS)
                continue;
            std::vector<int> dims(static_cast<size_t>(varDims) + 1);
            if (nc_inq_var(nc, var, name, &type, &varDims, dims.data(), &varAtts) != NC_NOERR)
                continue;
            attributes(var, varAtts);
            char dimName[NC_MAX_NAME + 1] = {};
            size_t length = 0;
            if (varDims == 1 && nc_inq_dim(nc, dims[0], dimName, &length) == NC_NOERR &&
                std::strcmp(name, dimName) == 0 && length > 0 && length <= NcInput::kMaxListValues &&
                NcInput::fitsInMemory(length)) {
                std::vector<float> values(length);
                nc_get_var_float(nc, var, values.data());
            }
        }
    }
}

#ifndef KELVANE_HEADER_CHECK_IN_PROCESS
// The same of the file at `path`, opened and closed again.
void readHeader(const std::string& path)
{
    int nc = -1;
    if (nc_open(path.c_str(), NC_NOWRITE, &nc) != NC_NOERR)
        return;
    readHeader(nc);
    nc_close(nc);
}

// What reading the header (readHeader) does to a process: empty when it
// leaves it standing, otherwise why the file cannot be read. The netCDF-4
// layer hands a damaged file to the HDF5 library, which can read past its
// own buffers on one or loop for ever; the read runs first in a child
// process, so that such a failure ends the child, not the run. Empty too
// when no child can be started.
QString headerReadFault(const std::string& path)
{
    // Processor seconds a header read may take: a valid header of thousands
    // of variables reads in well under one.
    constexpr rlim_t kHeaderSeconds = 10;
    // A run reads one output once per ensemble member: a file read soundly
    // before, unchanged since, is not read again.
    static std::set<std::tuple<std::string, dev_t, ino_t, off_t, time_t, long, time_t, long>> s_sound;
    struct stat st {};
    const bool known = ::stat(path.c_str(), &st) == 0;
    const auto key = std::make_tuple(path, st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
                                     st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
    if (known && s_sound.count(key) != 0)
        return QString();

    std::fflush(nullptr);  // nothing buffered is written twice
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0)
        return QString();
    if (child == 0) {
        // Gone with the run, however it ends.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(1);
        const struct rlimit cpu = {kHeaderSeconds, kHeaderSeconds};
        ::setrlimit(RLIMIT_CPU, &cpu);
        // The parent says why the file cannot be read; the child says nothing.
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
        }
#ifdef KV_ADDRESS_SANITIZER
        // A sanitizer's report on the child is the child's end, not a crash
        // of the process it came from to record or to report.
        __sanitizer_set_death_callback(nullptr);
        if (null >= 0)
            __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(null)));
#endif
        // Nothing may unwind out of the child into the run it was forked from.
        try {
            readHeader(path);
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return QString();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        if (known)
            s_sound.insert(key);
        return QString();
    }
    if (WIFSIGNALED(status) && (WTERMSIG(status) == SIGXCPU || WTERMSIG(status) == SIGKILL))
        return QString("the netCDF library does not finish reading its header within %1 s").arg(kHeaderSeconds);
    return QString("the netCDF library fails on its header");
}
#endif

}  // namespace

NcInput::NcInput(const std::string& path, const QString& detail) : m_path(path), m_detail(detail)
{
    QString fault = ClassicHeader(path).fault();
#ifndef KELVANE_HEADER_CHECK_IN_PROCESS
    if (fault.isEmpty())
        fault = headerReadFault(path);
#endif
    if (!fault.isEmpty())
        throw FatalError(2, QString("netCDF: cannot read %1: %2").arg(QString::fromStdString(path), fault), KV_HERE,
                         m_detail);
    check(nc_open(path.c_str(), NC_NOWRITE, &m_id));
    // A failure from here on leaves the constructor without the destructor:
    // close the file first.
    auto opened = [this](int status) {
        if (status != NC_NOERR) {
            nc_close(m_id);
            m_id = -1;
        }
        check(status);
    };
#ifdef KELVANE_HEADER_CHECK_IN_PROCESS
    // The fuzz build reads the header in-process, on the file's own handle:
    // the fuzzer's crash and time-out handling stands in for the child, and
    // a failure of the library is reported there, not contained.
    readHeader(m_id);
#endif
    opened(nc_inq(m_id, &m_ndims, &m_nvars, nullptr, nullptr));
    m_dimLength.assign(static_cast<size_t>(std::max(m_ndims, 0)), 0);
    for (int d = 0; d < m_ndims; ++d)
        opened(nc_inq_dimlen(m_id, d, &m_dimLength[static_cast<size_t>(d)]));
}

NcInput::~NcInput()
{
    if (m_id >= 0)
        nc_close(m_id);
}

void NcInput::check(int status, const QString& subject) const
{
    if (status == NC_NOERR)
        return;
    std::printf("Error: %s\n", nc_strerror(status));
    std::fflush(stdout);
    const QString what = subject.isEmpty() ? QString() : subject + ": ";
    throw FatalError(2,
                     QString("netCDF: cannot read %1: %2%3")
                         .arg(QString::fromStdString(m_path), what, QString::fromLatin1(nc_strerror(status))),
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
    const size_t length = valueCount(var, name, true);
    std::string value(length, '\0');
    if (length > 0)
        check(nc_get_att_text(m_id, var, name, value.data()));
    // Writers that store a terminating zero byte: keep the text before it.
    value.resize(std::strlen(value.c_str()));
    return value;
}

std::string NcInput::optionalText(int var, const char* name) const
{
    nc_type type = NC_NAT;
    return nc_inq_atttype(m_id, var, name, &type) == NC_NOERR && type == NC_CHAR ? text(var, name) : std::string();
}

size_t NcInput::valueCount(int var, const char* name, bool text) const
{
    size_t length = 0;
    nc_type type = NC_NAT;
    check(nc_inq_att(m_id, var, name, &type, &length));
    // Text is read only as text and numbers only as numbers: a classic
    // header may give a string any length without the bytes to back it.
    const bool isText = type == NC_CHAR;
    if (isText != text || type == NC_STRING)
        check(NC_ECHAR);
    return length;
}

// The library writes every value of an attribute: read them all, keep the
// first (0 when there is none).
int NcInput::integer(int var, const char* name) const
{
    std::vector<int> values(valueCount(var, name, false));
    if (!values.empty())
        check(nc_get_att_int(m_id, var, name, values.data()));
    return values.empty() ? 0 : values.front();
}

float NcInput::real(int var, const char* name) const
{
    std::vector<float> values(valueCount(var, name, false));
    if (!values.empty())
        check(nc_get_att_float(m_id, var, name, values.data()));
    return values.empty() ? 0.0f : values.front();
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
            varDims != 1 || nc_inq_vardimid(m_id, var, &varDim) != NC_NOERR || varDim != d ||
            length > kMaxListValues || !fitsInMemory(length))
            continue;
        std::vector<float> values(length);
        if (length == 0 || nc_get_var_float(m_id, var, values.data()) == NC_NOERR)
            out[name] = std::move(values);
    }
    return out;
}

std::vector<float> NcInput::bounds(int dim, std::string& name) const
{
    name.clear();
    int var = -1, varDims = 0, boundsVar = -1, boundsDims = 0;
    const std::string dimName = this->dimName(dim);
    if (nc_inq_varid(m_id, dimName.c_str(), &var) != NC_NOERR || nc_inq_varndims(m_id, var, &varDims) != NC_NOERR ||
        varDims != 1)
        return {};
    name = optionalText(var, "bounds");
    int dims[2] = {-1, -1};
    if (name.empty() || nc_inq_varid(m_id, name.c_str(), &boundsVar) != NC_NOERR ||
        nc_inq_varndims(m_id, boundsVar, &boundsDims) != NC_NOERR || boundsDims != 2 ||
        nc_inq_vardimid(m_id, boundsVar, dims) != NC_NOERR || dims[0] != dim || dimLength(dims[1]) != 2 ||
        dimLength(dim) > kMaxListValues)
        return {};
    std::vector<float> values(2 * dimLength(dim));
    if (!values.empty() && nc_get_var_float(m_id, boundsVar, values.data()) != NC_NOERR)
        return {};
    return values;
}

QString NcInput::layoutFault(const NcLayout& layout) const
{
    const std::vector<float>& levels = *layout.levels;
    const size_t lats = layout.lats->size();
    const size_t lons = layout.lons->size();
    if (lats == 0 || lons == 0)
        return "has no longitude or latitude values";
    // Values per level: every dimension but the level axis and the picked ones.
    uint64_t perLevel = 1;
    size_t levelLength = 0;
    bool empty = false, overflow = false;
    QStringList lengths;
    for (size_t k = 0; k < layout.dims.size(); ++k) {
        const size_t length = dimLength(layout.dims[k]);
        lengths << QString::number(length);
        const auto pick = layout.picks.find(k);
        if (pick != layout.picks.end())
            empty = empty || pick->second >= length;
        else if (static_cast<int>(k) == layout.levelAt)
            levelLength = length;
        else
            overflow = __builtin_mul_overflow(perLevel, uint64_t(length), &perLevel) || overflow;
        empty = empty || length == 0;
    }
    if (empty)
        return "has no values";
    const bool levelAxis = layout.levelAt >= 0;
    if (overflow || perLevel != uint64_t(lats) * lons || levelAxis != !levels.empty() ||
        (levelAxis && levelLength != levels.size())) {
        QStringList axes;
        if (!levels.empty())
            axes << QString::number(levels.size());
        axes << QString::number(lats) << QString::number(lons);
        return QString("does not have the shape of its axes (dimensions %1, axes %2)")
            .arg(lengths.join(" x "), axes.join(" x "));
    }
    uint64_t kept = 0;
    if (__builtin_mul_overflow(uint64_t(std::max<size_t>(levels.size(), 1)), perLevel, &kept) || !fitsInMemory(kept))
        return QString("is too large for this machine's memory (%1 values, at most %2 fit)")
            .arg(static_cast<double>(std::max<size_t>(levels.size(), 1)) * static_cast<double>(perLevel), 0, 'g', 15)
            .arg(memoryLimit() / sizeof(double));
    return QString();
}

void NcInput::readLevel(int var, const NcLayout& layout, size_t level, std::vector<float>& values) const
{
    std::vector<size_t> start(layout.dims.size(), 0), count(layout.dims.size(), 1);
    for (size_t k = 0; k < layout.dims.size(); ++k) {
        const auto pick = layout.picks.find(k);
        if (pick != layout.picks.end())
            start[k] = pick->second;
        else if (static_cast<int>(k) == layout.levelAt)
            start[k] = level;
        else
            count[k] = dimLength(layout.dims[k]);
    }
    values.resize(layout.lats->size() * layout.lons->size());
    const int status = nc_get_vara_float(m_id, var, start.data(), count.data(), values.data());
    if (status != NC_NOERR)
        check(status, QString("variable %1").arg(QString::fromStdString(varName(var))));
}

namespace {

size_t physicalMemory()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    size_t bytes = 0;
    if (pages <= 0 || pageSize <= 0 ||
        __builtin_mul_overflow(static_cast<size_t>(pages), static_cast<size_t>(pageSize), &bytes))
        return std::numeric_limits<size_t>::max();
    return bytes;
}

LowerableLimit<size_t>& memory()
{
    static LowerableLimit<size_t> limit(physicalMemory());
    return limit;
}

}  // namespace

void NcInput::setMemoryLimit(size_t bytes)
{
    memory().lower(bytes);
}

size_t NcInput::memoryLimit()
{
    return memory().get();
}

bool NcInput::fitsInMemory(uint64_t values)
{
    return values <= memoryLimit() / sizeof(double);
}

bool isLevelNumber(float level, const std::string& variable)
{
    if (level > -2147483648.0f && level < 2147483648.0f)
        return true;
    reportProblem(QString("[READ NC] %1: level %2 is not a level number; it is not read")
                      .arg(QString::fromStdString(variable))
                      .arg(static_cast<double>(level)),
                  KV_HERE);
    return false;
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
    const ExactLevel level = exactLevelOf(field);
    const bool present = std::any_of(it->second.begin(), it->second.end(),
                                     [&](const p_data& f) { return exactLevelOf(f) == level; });
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
