#include "readers/gribmessages.h"

#include "logging/fatal.h"
#include "logging/qlogger.h"
#include "readers/compressed.h"
#include "readers/gribdamage.h"

#include <QFile>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace {

// The input ecCodes is reading, for the message of one of its own checks
// failing: it would abort the process, and ends the run as any message it
// cannot read does.
QString s_readingFile;

// No exception may cross ecCodes' frames, and ecCodes goes on past a
// failed check when this returns: the process ends here (the output lock,
// if the run holds one, is released at exit).
void onEccodesAssertion(const char* message)
{
    std::exit(reportFatal(FatalError(
        255, QString("ecCodes cannot read a message of %1: %2").arg(s_readingFile, QString::fromLocal8Bit(message)),
        KV_HERE)));
}

// Logged and said on standard error: the run goes on without this input.
void report(const QString& message)
{
    KV_LOG_ERROR(message);
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

}  // namespace

GribMessages::GribMessages(const QString& fileName) : m_fileName(fileName)
{
    s_readingFile = fileName;
    codes_set_codes_assertion_failed_proc(onEccodesAssertion);
    const int dot = fileName.lastIndexOf('.');
    const QString extension = dot < 0 ? QString() : fileName.mid(dot);
    if (extension == ".bz2" || extension == ".gz" || extension == ".GZ") {
        decompress(extension);
    } else {
        m_file = std::fopen(QFile::encodeName(fileName).constData(), "rb");
        if (!m_file) {
            report(QString("[READGIRB] openfile[%1]").arg(fileName));
            m_failed = true;
        } else {
            m_fileSize = static_cast<uint64_t>(QFile(fileName).size());
        }
    }
    grib_multi_support_on(nullptr);
}

void GribMessages::decompress(const QString& extension)
{
    m_source = FromMemory;
    // Numbered as the plain file for the trace line: bzip2 input was once
    // read through a file.
    m_traceNumber = extension == ".bz2" ? 2 : 3;
    Decompressed d = extension == ".bz2" ? bunzip2File(m_fileName) : gunzipFile(m_fileName);
    if (!d.opened) {
        report(QString("[READGIRB] open failed %1").arg(m_fileName));
        m_failed = true;
        return;
    }
    if (!d.complete) {
        report(QString("[READGIRB] %1 is damaged (%2); only the messages before the damage are read")
                   .arg(m_fileName, d.error));
        m_damaged = true;
    }
    if (d.notCompressed)
        report(QString("[READGIRB] %1 is not gzip-compressed; it is read as a plain GRIB file").arg(m_fileName));
    m_buffer = std::move(d.bytes);
    m_next = m_buffer.data();
    m_left = m_buffer.size();
}

GribMessages::~GribMessages()
{
    if (m_file)
        std::fclose(m_file);
}

GribHandle GribMessages::next()
{
    if (m_failed || !nextIsSound())
        return nullptr;
    int err = 0;
    grib_handle* h = nullptr;
    if (m_source == FromFile) {
        h = grib_handle_new_from_file(nullptr, m_file, &err);
    } else {
        // ecCodes moves past a multi-field message with its first field and
        // hands out the others on the calls that follow, so it is asked
        // again after the last byte until it has none left.
        void* data = m_next;
        h = grib_handle_new_from_multi_message(nullptr, &data, &m_left, &err);
        m_next = static_cast<unsigned char*>(data);
    }
    if (err != 0) {
        if (h)
            grib_handle_delete(h);
        if (m_damaged)
            return nullptr;
        throw FatalError(255,
                         QString("ecCodes cannot read a message of %1: %2")
                             .arg(m_fileName, QString::fromLatin1(grib_get_error_message(err))),
                         KV_HERE);
    }
    return GribHandle(h);
}

double GribMessages::fractionRead() const
{
    if (m_source == FromFile) {
        const off_t at = m_file ? ftello(m_file) : 0;
        return m_fileSize > 0 && at > 0 ? static_cast<double>(at) / static_cast<double>(m_fileSize) : 0;
    }
    return m_buffer.empty() ? 0 : 1.0 - static_cast<double>(m_left) / static_cast<double>(m_buffer.size());
}

// Whether the next message can be given to ecCodes. A cut-short or damaged
// one ends the run as a message ecCodes cannot read would, except past the
// damage of a compressed stream, where reading simply stops.
bool GribMessages::nextIsSound()
{
    std::string fault;
    if (m_source == FromFile) {
        const int fd = fileno(m_file);
        const off_t at = ftello(m_file);
        if (at < 0)
            return true;
        fault = gribMessageFault(
            [fd](uint64_t offset, unsigned char* buffer, size_t n) -> size_t {
                const ssize_t got = pread(fd, buffer, n, static_cast<off_t>(offset));
                return got > 0 ? static_cast<size_t>(got) : 0;
            },
            static_cast<uint64_t>(at), m_fileSize, 0);
    } else {
        const unsigned char* next = m_next;
        const size_t left = m_left;
        fault = gribMessageFault(
            [next, left](uint64_t offset, unsigned char* buffer, size_t n) -> size_t {
                const size_t got = offset < left ? std::min<uint64_t>(n, left - offset) : 0;
                if (got > 0)
                    std::memcpy(buffer, next + offset, got);
                return got;
            },
            0, m_left, static_cast<uint64_t>(m_next - m_buffer.data()));
    }
    if (fault.empty())
        return true;
    if (!m_damaged)
        throw FatalError(255, QString("[READGIRB] %1 %2").arg(m_fileName, QString::fromStdString(fault)), KV_HERE);
    return false;
}
