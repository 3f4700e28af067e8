#include "readers/compressed.h"

#include <QFile>
#include <QFileInfo>

#include <bzlib.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

// What a stream has come to, and its decoder's call for more bytes.
class CompressedStream::Decoder {
public:
    virtual ~Decoder() = default;
    virtual size_t decode(unsigned char* buffer, size_t n) = 0;

    bool opened = false;
    bool finished = false;
    bool complete = false;
    bool notCompressed = false;
    int reads = 0;
    uint64_t taken = 0;  // compressed bytes read from the file
    QString error;

protected:
    void fail(const QString& why)
    {
        error = why;
        finished = true;
        complete = false;
    }
    void end()
    {
        finished = true;
        complete = true;
    }
};

namespace {

// Chunk size of one read of a whole file.
constexpr size_t kChunk = 10485760;
// Compressed bytes taken in at a time.
constexpr size_t kBzipInput = 1 << 20;
constexpr size_t kGzipInput = 256 * 1024;

// gzip through zlib's inflate, so that every byte decoded before damage is
// given (gzread drops what a read that meets damage decoded). Read as
// zlib's gzread reads: a file that does not start with the gzip magic is
// taken as it stands; after a member, another follows only where the magic
// does, and any other bytes after the last member are ignored.
class GzipDecoder : public CompressedStream::Decoder {
public:
    explicit GzipDecoder(const QString& path)
        : m_path(path), m_in(std::fopen(QFile::encodeName(path).constData(), "rb"))
    {
        opened = m_in != nullptr;
        finished = !opened;
        if (!opened)
            return;
        fill();
        if (!atMagic()) {
            notCompressed = true;
            return;
        }
        if (inflateInit2(&m_stream, 15 + 16) != Z_OK) {
            fail("cannot start the gzip decoder");
            return;
        }
        m_inflating = true;
    }
    ~GzipDecoder() override
    {
        if (m_inflating)
            inflateEnd(&m_stream);
        if (m_in)
            std::fclose(m_in);
    }

    size_t decode(unsigned char* buffer, size_t n) override
    {
        ++reads;
        n = std::min<size_t>(n, UINT_MAX);
        if (notCompressed)
            return copy(buffer, n);
        m_stream.next_out = buffer;
        m_stream.avail_out = static_cast<uInt>(n);
        // Until the buffer is full, the file ends or damage is met; the bytes
        // decoded before damage are given all the same.
        while (m_stream.avail_out > 0 && !finished) {
            if (m_stream.avail_in == 0 && !m_inputEnded)
                fill();
            const int status = inflate(&m_stream, Z_NO_FLUSH);
            if (status == Z_STREAM_END) {
                nextMember();
            } else if (status == Z_BUF_ERROR && m_stream.avail_in == 0 && m_inputEnded) {
                fail(m_path + ": unexpected end of file");
            } else if (status != Z_OK && status != Z_BUF_ERROR) {
                fail(m_path + ": " +
                     (m_stream.msg ? QString::fromLatin1(m_stream.msg) : QString("compressed data error")));
            }
        }
        return n - m_stream.avail_out;
    }

private:
    // Reads the next compressed bytes, after those not yet decoded.
    void fill()
    {
        if (m_stream.avail_in > 0 && m_stream.next_in != m_input.data())
            std::memmove(m_input.data(), m_stream.next_in, m_stream.avail_in);
        const size_t had = m_stream.avail_in;
        const size_t got = std::fread(m_input.data() + had, 1, m_input.size() - had, m_in);
        taken += got;
        m_inputEnded = got < m_input.size() - had;
        m_stream.next_in = m_input.data();
        m_stream.avail_in = static_cast<uInt>(had + got);
    }

    bool atMagic()
    {
        if (m_stream.avail_in < 2 && !m_inputEnded)
            fill();
        return m_stream.avail_in >= 2 && m_stream.next_in[0] == 0x1f && m_stream.next_in[1] == 0x8b;
    }

    // After a member: the next one, or the end.
    void nextMember()
    {
        if (atMagic() && inflateReset(&m_stream) == Z_OK)
            return;
        end();
    }

    // A file that holds no gzip data, as it stands.
    size_t copy(unsigned char* buffer, size_t n)
    {
        size_t given = 0;
        while (given < n) {
            if (m_stream.avail_in == 0) {
                if (m_inputEnded)
                    break;
                fill();
            }
            const size_t k = std::min<size_t>(n - given, m_stream.avail_in);
            std::memcpy(buffer + given, m_stream.next_in, k);
            m_stream.next_in += k;
            m_stream.avail_in -= static_cast<uInt>(k);
            given += k;
        }
        if (m_stream.avail_in == 0 && m_inputEnded)
            end();
        return given;
    }

    QString m_path;
    std::FILE* m_in;
    std::vector<unsigned char> m_input = std::vector<unsigned char>(kGzipInput);
    bool m_inputEnded = false;
    bool m_inflating = false;
    z_stream m_stream {};
};

class Bzip2Decoder : public CompressedStream::Decoder {
public:
    explicit Bzip2Decoder(const QString& path) : m_in(std::fopen(QFile::encodeName(path).constData(), "rb"))
    {
        opened = m_in != nullptr;
        finished = !opened;
    }
    ~Bzip2Decoder() override
    {
        if (m_streamOpen)
            BZ2_bzDecompressEnd(&m_stream);
        if (m_in)
            std::fclose(m_in);
    }

    size_t decode(unsigned char* buffer, size_t n) override
    {
        if (!m_streamOpen && !startStream())
            return 0;
        if (m_stream.avail_in == 0 && !m_inputEnded)
            fill();
        m_stream.next_out = reinterpret_cast<char*>(buffer);
        m_stream.avail_out = static_cast<unsigned>(std::min<size_t>(n, UINT_MAX));
        const unsigned asked = m_stream.avail_out;
        const int status = BZ2_bzDecompress(&m_stream);
        ++reads;
        const size_t produced = asked - m_stream.avail_out;
        if (status == BZ_STREAM_END) {
            // Keep what follows this stream for the next one.
            const size_t rest = m_stream.avail_in;
            if (rest > 0)
                std::memmove(m_input.data(), m_stream.next_in, rest);
            m_inputUsed = rest;
            BZ2_bzDecompressEnd(&m_stream);
            m_streamOpen = false;
            return produced;
        }
        if (status != BZ_OK) {
            fail(status == BZ_DATA_ERROR || status == BZ_DATA_ERROR_MAGIC ? QString("damaged bzip2 data")
                                                                          : QString("bzip2 error %1").arg(status));
            // What the call decoded before the damage is given.
            return produced;
        }
        if (m_stream.avail_in == 0 && m_inputEnded && produced == 0)
            fail("unexpected end of the bzip2 stream");
        return produced;
    }

private:
    // Reads the next compressed bytes into the input buffer.
    void fill()
    {
        m_inputUsed = std::fread(m_input.data(), 1, m_input.size(), m_in);
        taken += m_inputUsed;
        m_inputEnded = m_inputUsed < m_input.size();
        m_stream.next_in = m_input.data();
        m_stream.avail_in = static_cast<unsigned>(m_inputUsed);
    }

    // A new stream starts where the previous one ended; nothing after a
    // clean end means the file is complete.
    bool startStream()
    {
        if (m_inputUsed == 0 && !m_inputEnded)
            fill();
        if (m_inputUsed == 0) {
            if (m_anyStream)
                end();
            else
                fail("empty bzip2 file");
            return false;
        }
        m_stream = bz_stream {};
        if (BZ2_bzDecompressInit(&m_stream, 0, 0) != BZ_OK) {
            fail("cannot start the bzip2 decoder");
            return false;
        }
        m_streamOpen = true;
        m_anyStream = true;
        m_stream.next_in = m_input.data();
        m_stream.avail_in = static_cast<unsigned>(m_inputUsed);
        return true;
    }

    std::FILE* m_in;
    std::vector<char> m_input = std::vector<char>(kBzipInput);
    size_t m_inputUsed = 0;  // bytes of m_input not yet given to the decoder
    bool m_inputEnded = false;
    bool m_anyStream = false;
    bool m_streamOpen = false;
    bz_stream m_stream {};
};

}  // namespace

CompressedStream::CompressedStream(const QString& path, Format format)
    : m_fileSize(static_cast<uint64_t>(std::max<qint64>(0, QFileInfo(path).size())))
{
    if (format == Format::Gzip)
        m_decoder = std::make_unique<GzipDecoder>(path);
    else
        m_decoder = std::make_unique<Bzip2Decoder>(path);
}

CompressedStream::~CompressedStream() = default;

double CompressedStream::fractionRead() const
{
    return m_fileSize > 0 ? std::min(1.0, static_cast<double>(m_decoder->taken) / static_cast<double>(m_fileSize))
                          : 0.0;
}

bool CompressedStream::opened() const
{
    return m_decoder->opened;
}

size_t CompressedStream::read(unsigned char* buffer, size_t n)
{
    return m_decoder->finished || n == 0 ? 0 : m_decoder->decode(buffer, n);
}

bool CompressedStream::finished() const
{
    return m_decoder->finished;
}

bool CompressedStream::complete() const
{
    return m_decoder->complete;
}

QString CompressedStream::error() const
{
    return m_decoder->error;
}

bool CompressedStream::notCompressed() const
{
    return m_decoder->notCompressed;
}

int CompressedStream::reads() const
{
    return m_decoder->reads;
}

Decompressed decompressFile(const QString& path, CompressedStream::Format format)
{
    Decompressed result;
    std::unique_ptr<CompressedStream> in;
    try {
        in = std::make_unique<CompressedStream>(path, format);
        result.opened = in->opened();
        if (!result.opened)
            return result;
        std::vector<unsigned char> chunk(kChunk);
        while (!in->finished()) {
            const size_t n = in->read(chunk.data(), chunk.size());
            result.bytes.insert(result.bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
        }
        result.complete = in->complete();
        result.error = in->error();
    } catch (const std::bad_alloc&) {
        result.complete = false;
        result.error = "not enough memory to decompress the file";
    }
    if (in) {
        result.reads = in->reads();
        result.notCompressed = in->notCompressed();
    }
    return result;
}

Decompressed gunzipFile(const QString& path)
{
    return decompressFile(path, CompressedStream::Format::Gzip);
}

Decompressed bunzip2File(const QString& path)
{
    return decompressFile(path, CompressedStream::Format::Bzip2);
}
