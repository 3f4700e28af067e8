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

QString unreadable(const QString& fileName, int err)
{
    return QString("ecCodes cannot read a message of %1: %2").arg(fileName, QString::fromLatin1(grib_get_error_message(err)));
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
            reportProblem(QString("[READGIRB] openfile[%1]").arg(fileName), KV_HERE);
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
    m_stream = std::make_unique<CompressedStream>(
        m_fileName, extension == ".bz2" ? CompressedStream::Format::Bzip2 : CompressedStream::Format::Gzip);
    if (!m_stream->opened()) {
        reportProblem(QString("[READGIRB] open failed %1").arg(m_fileName), KV_HERE);
        m_failed = true;
        return;
    }
    if (m_stream->notCompressed())
        reportProblem(QString("[READGIRB] %1 is not gzip-compressed; it is read as a plain GRIB file").arg(m_fileName),
                      KV_HERE);
    // A decoder that could not even start.
    if (m_stream->finished())
        noteEnd();
}

void GribMessages::reportDamage(const QString& why)
{
    // A wrong check value means any byte before it may be wrong, and a cut
    // file is as incomplete as a cut plain one: nothing of the input is
    // used, whatever was decoded before the damage.
    throw FatalError(255,
                     QString("[READGIRB] %1 is damaged (%2) after %3 bytes of decompressed data; nothing of it is "
                             "used")
                         .arg(m_fileName, why)
                         .arg(m_produced),
                     KV_HERE);
}

GribMessages::~GribMessages()
{
    if (m_file)
        std::fclose(m_file);
}

GribHandle GribMessages::next(QString* skipped)
{
    for (;;) {
        if (m_failed || m_stopped)
            return nullptr;
        checkNext();
        int err = 0;
        GribHandle h;
        const uint64_t from = m_source == FromFile ? static_cast<uint64_t>(std::max<off_t>(ftello(m_file), 0)) : m_pos;
        if (m_source == FromFile)
            h.reset(grib_handle_new_from_file(nullptr, m_file, &err));
        else
            h = fromCompressed(err);
        if (err != 0) {
            h.reset();
            QString reason;
            if (passOverGridless(from, reason)) {
                if (skipped) {
                    *skipped = reason;
                    return nullptr;
                }
                reportProblem(QString("[READGIRB] %1: %2; the message is skipped").arg(m_fileName, reason), KV_HERE);
                continue;
            }
            m_stopped = true;
            damageFirst();
            throw FatalError(255, unreadable(m_fileName, err), KV_HERE);
        }
        if (h && m_fieldsLeft > 0)
            --m_fieldsLeft;
        // The last message: whatever the stream still holds is decoded, so
        // that damage after it is said.
        if (!h) {
            m_stopped = true;
            if (m_stream && !m_stream->finished())
                drain();
        }
        return h;
    }
}

void GribMessages::unreadableAt(uint64_t offset)
{
    m_stopped = true;
    int err = GRIB_INVALID_MESSAGE;
    if (m_file && fseeko(m_file, static_cast<off_t>(offset), SEEK_SET) == 0) {
        int fromFile = 0;
        GribHandle h(grib_handle_new_from_file(nullptr, m_file, &fromFile));
        if (fromFile != 0)
            err = fromFile;
    }
    throw FatalError(255, unreadable(m_fileName, err), KV_HERE);
}

bool GribMessages::take(Taken& out)
{
    out.handle.reset();
    out.bytes.clear();
    out.passed.clear();
    if (m_source == FromFile && m_fieldsLeft == 0 && !m_failed && !m_stopped) {
        const off_t at = ftello(m_file);
        GribShape shape;
        checkNext(shape);
        if (shape.plain && shape.fields == 1) {
            out.offset = static_cast<uint64_t>(at);
            out.bytes.resize(static_cast<size_t>(shape.end - out.offset));
            const ssize_t got = pread(fileno(m_file), out.bytes.data(), out.bytes.size(), at);
            if (got == static_cast<ssize_t>(out.bytes.size()) &&
                fseeko(m_file, static_cast<off_t>(shape.end), SEEK_SET) == 0)
                return true;
            out.bytes.clear();
        }
        // ecCodes hands out the fields of a multi-field message one per
        // call, keeping the rest of it to itself.
        if (shape.plain && shape.fields > 1)
            m_fieldsLeft = shape.fields;
    }
    out.handle = next(&out.passed);
    return out.handle || !out.passed.isEmpty();
}

GribHandle GribMessages::makeHandle(std::vector<unsigned char>& bytes)
{
    return GribHandle(grib_handle_new_from_message(nullptr, bytes.data(), bytes.size()));
}

GribByteReader GribMessages::byteReader()
{
    if (m_source != FromFile)
        return [this](uint64_t offset, unsigned char* buffer, size_t n) { return held(offset, buffer, n); };
    const int fd = fileno(m_file);
    return [fd](uint64_t offset, unsigned char* buffer, size_t n) -> size_t {
        const ssize_t got = pread(fd, buffer, n, static_cast<off_t>(offset));
        return got > 0 ? static_cast<size_t>(got) : 0;
    };
}

bool GribMessages::passOverGridless(uint64_t from, QString& reason)
{
    int grid = 0;
    uint64_t end = 0;
    if (!gribOneWithoutGrid(byteReader(), from, m_source == FromFile ? m_fileSize : m_size, grid, end))
        return false;
    if (m_source == FromFile) {
        if (fseeko(m_file, static_cast<off_t>(end), SEEK_SET) != 0)
            return false;
    } else {
        if (end > m_windowStart + m_window.size())
            return false;
        m_pos = end;
        m_windowRead = true;
    }
    reason = gridlessReason(grid);
    return true;
}

QString gridlessReason(long grid)
{
    return QString("a GRIB 1 message without a grid description (grid %1) ecCodes does not know").arg(grid);
}

void GribMessages::damageFirst()
{
    if (m_source == FromMemory && !m_stream->finished())
        drain();
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

double GribMessages::fractionRead() const
{
    if (m_source == FromFile) {
        const off_t at = m_file ? ftello(m_file) : 0;
        return m_fileSize > 0 && at > 0 ? static_cast<double>(at) / static_cast<double>(m_fileSize) : 0;
    }
    return m_stream ? m_stream->fractionRead() : 0.0;
}

// Ends the run unless the next message can be given to ecCodes: a cut-short
// or damaged one ends it as a message ecCodes cannot read would, and so does
// the damage of a compressed stream at or after it.
void GribMessages::checkNext()
{
    GribShape shape;
    checkNext(shape);
}

void GribMessages::checkNext(GribShape& shape)
{
    std::string fault;
    if (m_source == FromFile) {
        const off_t at = ftello(m_file);
        if (at < 0)
            return;
        fault = gribMessageFault(byteReader(), static_cast<uint64_t>(at), m_fileSize, 0, shape);
    } else {
        fault = compressedFault();
    }
    if (fault.empty())
        return;
    damageFirst();
    throw FatalError(255, QString("[READGIRB] %1 %2").arg(m_fileName, QString::fromStdString(fault)), KV_HERE);
}

// The fault of the next message of a compressed input, which is then held
// whole, with the byte after it: ecCodes is given what the window holds and
// must not meet its end before the input's, or it would read a message cut
// short where the input holds it whole. The input's size is known once the
// stream has ended; a message that reaches it is checked against it.
std::string GribMessages::compressedFault()
{
    const GribByteReader read = byteReader();
    const uint64_t end = gribMessageEnd(read, m_pos, m_size);
    cover(end >= m_size ? end : end + 1);
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
    const uint64_t want = offset + std::min<uint64_t>(n, m_size - offset);
    cover(want);
    const uint64_t have = m_windowStart + m_window.size();
    if (offset >= have)
        return 0;
    const size_t got = static_cast<size_t>(std::min<uint64_t>(n, have - offset));
    std::memcpy(buffer, m_window.data() + (offset - m_windowStart), got);
    return got;
}

void GribMessages::tooLarge()
{
    m_holdFailure = QString("cannot be read: the GRIB message at byte %1 would take more than %2 bytes of memory")
                        .arg(m_pos)
                        .arg(kMaxHeld);
}

bool GribMessages::cover(uint64_t end)
{
    end = std::min(end, m_size);
    if (end <= m_windowStart + m_window.size())
        return true;
    if (!m_holdFailure.isEmpty())
        return false;
    // A known end past what may be held: the stream is decoded to its end
    // unheld, whose place tells a message cut short from one too large.
    // Nothing more can be held once it has been.
    if (m_drained || (end != kUnknownSize && end - m_pos > kMaxHeld)) {
        if (!m_drained)
            drain();
        if (std::min(end, m_size) > m_windowStart + m_window.size())
            tooLarge();
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
        if (end != kUnknownSize) {
            const uint64_t room = end - m_windowStart + kPiece;
            if (m_window.capacity() < room)
                m_window.reserve(
                    static_cast<size_t>(std::max<uint64_t>(room, m_window.capacity() + m_window.capacity() / 2)));
        }
        while (m_windowStart + m_window.size() < end && !m_stream->finished()) {
            pull();
            if (end == kUnknownSize && m_windowStart + m_window.size() - m_pos > kMaxHeld) {
                tooLarge();
                return false;
            }
        }
    } catch (const std::bad_alloc&) {
        m_holdFailure = QString("cannot be read: there is not enough memory for the GRIB message at byte %1").arg(m_pos);
        return false;
    }
    return m_windowStart + m_window.size() >= std::min(end, m_size);
}

void GribMessages::pull()
{
    // Pieces grow with the window, from 64 KiB up to kPiece: a small file
    // is not given a mebibyte to fill.
    const size_t had = m_window.size();
    const size_t piece = std::min(kPiece, std::max<size_t>(size_t(64) << 10, had));
    m_window.resize(had + piece);
    const size_t got = m_stream->read(m_window.data() + had, piece);
    m_window.resize(had + got);
    m_produced += got;
    if (m_stream->finished())
        noteEnd();
}

void GribMessages::drain()
{
    m_drained = true;
    if (m_stream->finished())
        return;
    std::vector<unsigned char> scratch(kPiece);
    while (!m_stream->finished())
        m_produced += m_stream->read(scratch.data(), scratch.size());
    noteEnd();
}

void GribMessages::noteEnd()
{
    m_size = m_produced;
    if (!m_stream->complete())
        reportDamage(m_stream->error());
}
