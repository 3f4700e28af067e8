#include "harness.h"

#include "logging/qlogger.h"
#include "support/tables.h"
#include "table/csvfileparser.h"

#include <QDir>
#include <QFile>

#include <cstdio>
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

    const char* tmp = std::getenv("TMPDIR");
    QByteArray pattern = QByteArray(tmp && *tmp ? tmp : "/tmp") + "/kvfuzz-XXXXXX";
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
