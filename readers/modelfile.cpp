#include "readers/modelfile.h"

#include "logging/fatal.h"

#include <QFile>

#include <bzlib.h>
#include <sys/stat.h>

#include <limits>

ByteSource::~ByteSource()
{
    if (m_bz) {
        int err = 0;
        BZ2_bzReadClose(&err, static_cast<BZFILE*>(m_bz));
    }
    if (m_file)
        std::fclose(m_file);
}

bool ByteSource::open(const QString& path, Kind kind)
{
    m_kind = kind;
    m_file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!m_file)
        return false;
    struct stat st {};
    if (::fstat(fileno(m_file), &st) == 0 && st.st_size > 0)
        m_size = static_cast<uint64_t>(st.st_size);
    if (kind == Kind::Bzip2) {
        int err = BZ_OK;
        m_bz = BZ2_bzReadOpen(&err, m_file, 0, 0, nullptr, 0);
        if (err != BZ_OK) {
            BZ2_bzReadClose(&err, static_cast<BZFILE*>(m_bz));
            m_bz = nullptr;
            std::fclose(m_file);
            m_file = nullptr;
            return false;
        }
    }
    return true;
}

size_t ByteSource::read(unsigned char* buffer, size_t size, int* status)
{
    if (status)
        *status = BZ_OK;
    if (!m_file)
        return 0;
    if (m_kind == Kind::Plain) {
        const size_t n = std::fread(buffer, 1, size, m_file);
        m_position += n;
        return n;
    }
    // bzip2 may not be read again after its stream ended or failed: every
    // later read gives nothing, with the status the stream stopped with.
    if (m_stopped != BZ_OK) {
        if (status)
            *status = m_stopped;
        return 0;
    }
    size_t total = 0;
    while (total < size) {
        int err = BZ_OK;
        const size_t chunk = std::min<size_t>(size - total, 1u << 30);
        const int n = BZ2_bzRead(&err, static_cast<BZFILE*>(m_bz), buffer + total, static_cast<int>(chunk));
        if (n > 0)
            total += static_cast<size_t>(n);
        if (err != BZ_OK) {
            m_stopped = err;
            if (status)
                *status = err;
            break;
        }
    }
    m_position += total;
    return total;
}

bool ByteSource::skip(size_t size)
{
    std::vector<unsigned char> scratch(std::min<size_t>(size, 1u << 20));
    while (size > 0) {
        const size_t n = read(scratch.data(), std::min(size, scratch.size()));
        if (n == 0)
            return false;
        size -= n;
    }
    return true;
}

uint64_t ByteSource::remaining() const
{
    if (m_kind == Kind::Bzip2)
        return std::numeric_limits<uint64_t>::max();
    return m_size > m_position ? m_size - m_position : 0;
}

double ByteSource::fractionRead() const
{
    if (!m_file || m_size == 0)
        return 0;
    const off_t at = m_kind == Kind::Plain ? static_cast<off_t>(m_position) : ftello(m_file);
    return at > 0 ? static_cast<double>(at) / static_cast<double>(m_size) : 0;
}

p_data modelField(const std::string& name, int level, const std::vector<double>& lons,
                  const std::vector<double>& lats, float fillValue)
{
    p_data f;
    f.factorShortName = name;
    f.level = level;
    f.xnum = static_cast<int32_t>(lons.size());
    f.ynum = static_cast<int32_t>(lats.size());
    f.forecastTime = 0;
    f.prop_fillValue = fillValue;
    f.lon = lons;
    f.lat = lats;
    f.perturbationNumber = 0;
    f.dimDx = 0;
    f.isFi = false;
    f.readout = false;
    return f;
}

void reportMissingValues(const QString& path, uint64_t missing, const char* reader)
{
    if (missing == 0)
        return;
    const QString message = QString("[%1] %2 is short: %3 values could not be read and hold the fill value")
                                .arg(reader, path)
                                .arg(missing);
    reportProblem(message, SourcePlace{__FILE_NAME__, reader, __LINE__});
}

void reportBadSize(const QString& path, const QString& what, const char* reader)
{
    reportInput(path, what + "; nothing is read for it", reader);
}

void reportInput(const QString& path, const QString& what, const char* reader)
{
    reportProblem(QString("[%1] %2: %3").arg(reader, path, what), SourcePlace{__FILE_NAME__, reader, __LINE__});
}

bool sizeFits(int64_t a, int64_t b, int bytesPerValue, const ByteSource& source, uint64_t* values)
{
    if (a <= 0 || b <= 0 || a > (int64_t(1) << 31) || b > (int64_t(1) << 31))
        return false;
    const uint64_t n = static_cast<uint64_t>(a) * static_cast<uint64_t>(b);
    const uint64_t bytes = n * static_cast<uint64_t>(bytesPerValue);
    const uint64_t left = source.remaining();
    if (n > (uint64_t(1) << 28) || (bytes > left && bytes - left > left))
        return false;
    *values = n;
    return true;
}

QString extensionOf(const QString& fileName)
{
    const int dot = fileName.lastIndexOf('.');
    return dot < 0 ? QString() : fileName.mid(dot);
}
