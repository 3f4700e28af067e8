#include "readers/gribmessages.h"

#include "logging/fatal.h"
#include "logging/qlogger.h"
#include "readers/compressed.h"
#include "readers/gribdamage.h"

#include <QFile>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

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

// Decompressed bytes decoded at a time onto the window.
constexpr size_t kPiece = 1 << 20;

}  // namespace

GribMessages::GribMessages(const QString& fileName) : m_fileName(fileName)
{
    s_readingFile = fileName;
    codes_set_codes_assertion_failed_proc(onEccodesAssertion);
    const int dot = fileName.lastIndexOf('.');
    const QString extension = dot < 0 ? QString() : fileName.mid(dot);
    if (extension == ".bz2" || extension == ".gz" || extension == ".GZ") {
        openCompressed(extension);
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

void GribMessages::openCompressed(const QString& extension)
{
    m_source = FromMemory;
    // Numbered as the plain file for the trace line: bzip2 input was once
    // read through a file.
    m_traceNumber = extension == ".bz2" ? 2 : 3;
    const CompressedStream::Format format =
        extension == ".bz2" ? CompressedStream::Format::Bzip2 : CompressedStream::Format::Gzip;
    // The whole stream is decoded once first, in the chunks a whole read
    // takes, so that where reading stops on damage, and what is said about
    // it, are known before the first message.
    const Decompressed d = decompressFile(m_fileName, format, false);
    if (!d.opened) {
        report(QString("[READGIRB] open failed %1").arg(m_fileName));
        m_failed = true;
        return;
    }
    if (!d.complete)
        reportDamage(d.error);
    if (d.notCompressed)
        report(QString("[READGIRB] %1 is not gzip-compressed; it is read as a plain GRIB file").arg(m_fileName));
    m_size = d.size;
    m_stream = std::make_unique<CompressedStream>(m_fileName, format);
}

void GribMessages::reportDamage(const QString& why)
{
    report(QString("[READGIRB] %1 is damaged (%2); only the messages before the damage are read").arg(m_fileName, why));
    m_damaged = true;
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
    GribHandle h;
    if (m_source == FromFile)
        h.reset(grib_handle_new_from_file(nullptr, m_file, &err));
    else
        h = fromCompressed(err);
    if (err != 0) {
        h.reset();
        if (m_damaged)
            return nullptr;
        throw FatalError(255,
                         QString("ecCodes cannot read a message of %1: %2")
                             .arg(m_fileName, QString::fromLatin1(grib_get_error_message(err))),
                         KV_HERE);
    }
    return h;
}

GribHandle GribMessages::fromCompressed(int& err)
{
    // ecCodes moves past a multi-field message with its first field and
    // hands out the others on the calls that follow, so it is asked again
    // after the last byte until it has none left.
    unsigned char* at = m_window.data() + (m_pos - m_windowStart);
    void* data = at;
    size_t left = static_cast<size_t>(m_windowStart + m_window.size() - m_pos);
    GribHandle h(grib_handle_new_from_multi_message(nullptr, &data, &left, &err));
    const uint64_t taken = static_cast<uint64_t>(static_cast<unsigned char*>(data) - at);
    if (taken > 0) {
        m_pos += taken;
        m_windowRead = true;
        std::vector<unsigned char>().swap(m_read);
    }
    return h;
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
        fault = compressedFault();
    }
    if (fault.empty())
        return true;
    if (!m_damaged)
        throw FatalError(255, QString("[READGIRB] %1 %2").arg(m_fileName, QString::fromStdString(fault)), KV_HERE);
    return false;
}

// The fault of the next message of a compressed input, which is then held
// whole, with the byte after it: ecCodes is given what the window holds and
// must not meet its end before the input's, or it would read a message cut
// short where the input holds it whole.
std::string GribMessages::compressedFault()
{
    const GribByteReader read = [this](uint64_t offset, unsigned char* buffer, size_t n) {
        return held(offset, buffer, n);
    };
    const uint64_t end = gribMessageEnd(read, m_pos, m_size);
    if (end <= m_size)
        cover(end + 1);
    std::string fault;
    if (m_holdFailure.isEmpty())
        fault = gribMessageFault(read, m_pos, m_size, 0);
    // A message that claims more than the input holds, and that the checks
    // let through, gets the rest of the input, as ecCodes reads on to its end.
    if (fault.empty() && end > m_size)
        cover(m_size);
    if (!m_holdFailure.isEmpty())
        fault = m_holdFailure.toStdString();
    return fault;
}

size_t GribMessages::held(uint64_t offset, unsigned char* buffer, size_t n)
{
    if (offset < m_pos || offset >= m_size || !m_holdFailure.isEmpty())
        return 0;
    const uint64_t want = std::min<uint64_t>(m_size, offset + std::min<uint64_t>(n, m_size - offset));
    cover(want);
    const uint64_t have = m_windowStart + m_window.size();
    if (offset >= have)
        return 0;
    const size_t got = static_cast<size_t>(std::min<uint64_t>(n, have - offset));
    std::memcpy(buffer, m_window.data() + (offset - m_windowStart), got);
    return got;
}

bool GribMessages::cover(uint64_t end)
{
    end = std::min(end, m_size);
    if (end <= m_windowStart + m_window.size())
        return true;
    if (end - m_pos > kMaxHeld) {
        m_holdFailure = QString("cannot be read: the GRIB message at byte %1 would take more than %2 bytes of memory")
                            .arg(m_pos)
                            .arg(kMaxHeld);
        return false;
    }
    try {
        // Only ecCodes moves the reading position, so the bytes before it
        // are those of a window ecCodes has read from.
        if (m_windowRead) {
            std::vector<unsigned char> rest(m_window.begin() + static_cast<std::ptrdiff_t>(m_pos - m_windowStart),
                                            m_window.end());
            m_read.swap(m_window);
            m_window.swap(rest);
            m_windowStart = m_pos;
            m_windowRead = false;
        }
        // Room for the message at once, or for half as much again when the
        // bytes are searched through piece by piece.
        const uint64_t room = std::min<uint64_t>(end - m_windowStart + kPiece, m_size - m_windowStart);
        if (m_window.capacity() < room)
            m_window.reserve(static_cast<size_t>(std::max<uint64_t>(room, m_window.capacity() + m_window.capacity() / 2)));
        while (m_windowStart + m_window.size() < end)
            if (!pull())
                return false;
    } catch (const std::bad_alloc&) {
        m_holdFailure = QString("cannot be read: there is not enough memory for the GRIB message at byte %1").arg(m_pos);
        return false;
    }
    return true;
}

bool GribMessages::pull()
{
    const size_t had = m_window.size();
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(kPiece, m_size - m_produced));
    m_window.resize(had + piece);
    const size_t got = m_stream->read(m_window.data() + had, piece);
    m_window.resize(had + got);
    m_produced += got;
    if (got == 0 && m_stream->finished()) {
        // The stream ended sooner than it did a moment ago: the file changed.
        // The input ends here, as at damage.
        m_size = m_produced;
        if (!m_damaged)
            reportDamage(m_stream->opened() && !m_stream->error().isEmpty() ? m_stream->error()
                                                                             : QString("it changed while it was read"));
        return false;
    }
    return true;
}
