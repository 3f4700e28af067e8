#include "harness.h"

#include "logging/qlogger.h"
#include "support/tables.h"
#include "table/csvfileparser.h"

#include <QDir>
#include <QFile>

#include <hdf5.h>
#include <netcdf.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>

namespace fuzz {

namespace {

QString s_directory;

void removeDirectory()
{
    if (!s_directory.isEmpty())
        QDir(s_directory).removeRecursively();
}

}  // namespace

void setUp()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    // The readers trace to stdout; libFuzzer reports on stderr.
    if (!std::freopen("/dev/null", "w", stdout))
        std::perror("fuzz: stdout");
    QLogger::getInstance();
    loglevel = 0;

    // Every input is written to a file and read back, and a table is
    // written through a save file that syncs it: in memory (/dev/shm) that
    // costs microseconds, on a disk milliseconds.
    const char* tmp = std::getenv("TMPDIR");
    const char* base = tmp && *tmp ? tmp : QDir("/dev/shm").isReadable() ? "/dev/shm" : "/tmp";
    QByteArray pattern = QByteArray(base) + "/kvfuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("fuzz: temporary directory");
        std::abort();
    }
    s_directory = QString::fromLocal8Bit(pattern);
    std::atexit(removeDirectory);
}

InputFile::InputFile(const uint8_t* data, size_t size, const QString& fileName)
{
    m_path = s_directory + "/" + fileName;
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) != static_cast<qint64>(size)) {
        std::fprintf(stderr, "fuzz: cannot write %s\n", m_path.toLocal8Bit().constData());
        std::abort();
    }
}

InputFile::~InputFile()
{
    if (!m_path.isEmpty())
        QFile::remove(m_path);
}

QString nameFor(const uint8_t* data, size_t size, const QString& base)
{
    if (size >= 2 && data[0] == 0x1f && data[1] == 0x8b)
        return base + ".gz";
    if (size >= 3 && data[0] == 'B' && data[1] == 'Z' && data[2] == 'h')
        return base + ".bz2";
    return base;
}

void keepNetcdfOpen()
{
    static const bool kept = [] {
        // HDF5 keeps the blocks it frees for reuse, but by default only
        // 64 KiB of a kind: its metadata cache of every file it opens is
        // larger, and was allocated and freed anew on every input. 16 MiB
        // of a kind, 64 MiB in all.
        const int kind = 16 << 20, all = 64 << 20;
        H5set_free_list_limits(all, kind, all, kind, all, kind);
        int id = -1;
        const QByteArray path = (s_directory + "/kept.nc").toLocal8Bit();
        if (nc_create(path.constData(), NC_CLOBBER, &id) != NC_NOERR) {
            std::fprintf(stderr, "fuzz: cannot create %s\n", path.constData());
            std::abort();
        }
        return true;
    }();
    (void)kept;
}

namespace {

uint64_t littleEndian(const uint8_t* p, int bytes)
{
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

// The collection at `at` (signature, version, 3 reserved bytes, size, then
// objects of index, reference count, 4 reserved bytes, size and data padded
// to 8 bytes; index 0 is the free space, its size counting its header),
// walked as the library walks it.
bool collectionMishandled(const uint8_t* data, size_t size, size_t at)
{
    if (size - at < 16 || data[at + 4] != 1)
        return false;
    const uint64_t length = littleEndian(data + at + 8, 8);
    const uint64_t end = at + std::min<uint64_t>(length, size - at);
    for (uint64_t p = at + 16; p + 16 <= end;) {
        const uint64_t index = littleEndian(data + p, 2);
        const uint64_t object = littleEndian(data + p + 8, 8);
        if (index == 0) {
            if (object == 0)
                return true;
            if (object >= end - p)
                return false;
            p += object;
        } else {
            if (object > end - p - 16)
                return true;
            p += 16 + (object + 7) / 8 * 8;
        }
    }
    return false;
}

}  // namespace

bool hdf5HeapMishandled(const uint8_t* data, size_t size)
{
    for (size_t at = 0; at + 4 <= size; ++at)
        if (std::memcmp(data + at, "GCOL", 4) == 0 && collectionMishandled(data, size, at))
            return true;
    return false;
}

void loadTable(const QString& fileType, bool overwrite, const QStringList& rows)
{
    const QByteArray text = tableText(QString(",%1,%2,2.0").arg(overwrite ? 1 : 0).arg(fileType), "80,137,12,60", rows);
    const QByteArray bytes = text;
    InputFile table(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()),
                    "table.csv");
    if (CsvFileParser::getInstance()->load(table.path()) != 0) {
        std::fprintf(stderr, "fuzz: the table for %s cannot be loaded\n", fileType.toLocal8Bit().constData());
        std::abort();
    }
}

QString row(const QString& shortName, const QString& surface, const QString& levelType, const QString& newName,
            const QString& levels)
{
    QStringList f = variableRow(shortName, surface, levelType, newName).split(",");
    f[14] = levels;
    return f.join(",");
}

}  // namespace fuzz
