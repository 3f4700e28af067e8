#include "readers/compressed.h"

#include <QFile>

#include <bzlib.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Chunk size of one read.
constexpr size_t kChunk = 10485760;

struct FileCloser {
    void operator()(std::FILE* f) const
    {
        if (f)
            std::fclose(f);
    }
};

}  // namespace

Decompressed gunzipFile(const QString& path)
{
    Decompressed result;
    gzFile in = gzopen(QFile::encodeName(path).constData(), "rb");
    if (!in)
        return result;
    result.opened = true;
    gzbuffer(in, 256 * 1024);
    try {
        std::vector<unsigned char> chunk(kChunk);
        for (;;) {
            const int n = gzread(in, chunk.data(), static_cast<unsigned>(chunk.size()));
            ++result.reads;
            // A damaged or cut stream can still deliver the bytes before the
            // damage; the error state tells.
            int code = Z_OK;
            const char* message = gzerror(in, &code);
            if (n < 0 || (code != Z_OK && code != Z_STREAM_END)) {
                if (n > 0)
                    result.bytes.insert(result.bytes.end(), chunk.begin(), chunk.begin() + n);
                result.error = QString::fromLatin1(message);
                break;
            }
            result.bytes.insert(result.bytes.end(), chunk.begin(), chunk.begin() + n);
            if (result.reads == 1 && gzdirect(in))
                result.notCompressed = true;
            if (gzeof(in) || n == 0) {
                result.complete = gzeof(in) != 0;
                if (!result.complete)
                    result.error = "unexpected end of the gzip stream";
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        result.error = "not enough memory to decompress the file";
        result.complete = false;
    }
    gzclose(in);
    return result;
}

Decompressed bunzip2File(const QString& path)
{
    Decompressed result;
    std::unique_ptr<std::FILE, FileCloser> in(std::fopen(QFile::encodeName(path).constData(), "rb"));
    if (!in)
        return result;
    result.opened = true;

    bz_stream stream {};
    bool streamOpen = false;
    try {
        std::vector<char> input(1 << 20);
        std::vector<unsigned char> chunk(kChunk);
        size_t inputUsed = 0;  // bytes of `input` not yet given to the decoder
        bool inputEnded = false;
        bool anyStream = false;
        for (;;) {
            if (!streamOpen) {
                // A new stream starts where the previous one ended; nothing
                // after a clean end means the file is complete.
                if (inputUsed == 0 && !inputEnded) {
                    inputUsed = std::fread(input.data(), 1, input.size(), in.get());
                    inputEnded = inputUsed < input.size();
                }
                if (inputUsed == 0) {
                    result.complete = anyStream;
                    if (!anyStream)
                        result.error = "empty bzip2 file";
                    break;
                }
                stream = bz_stream {};
                if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) {
                    result.error = "cannot start the bzip2 decoder";
                    break;
                }
                streamOpen = true;
                anyStream = true;
                stream.next_in = input.data();
                stream.avail_in = static_cast<unsigned>(inputUsed);
            }
            if (stream.avail_in == 0 && !inputEnded) {
                inputUsed = std::fread(input.data(), 1, input.size(), in.get());
                inputEnded = inputUsed < input.size();
                stream.next_in = input.data();
                stream.avail_in = static_cast<unsigned>(inputUsed);
            }
            stream.next_out = reinterpret_cast<char*>(chunk.data());
            stream.avail_out = static_cast<unsigned>(chunk.size());
            const int status = BZ2_bzDecompress(&stream);
            ++result.reads;
            const size_t produced = chunk.size() - stream.avail_out;
            if (status == BZ_OK || status == BZ_STREAM_END)
                result.bytes.insert(result.bytes.end(), chunk.begin(), chunk.begin() + produced);
            if (status == BZ_STREAM_END) {
                // Keep what follows this stream for the next one.
                const size_t rest = stream.avail_in;
                if (rest > 0)
                    std::memmove(input.data(), stream.next_in, rest);
                inputUsed = rest;
                BZ2_bzDecompressEnd(&stream);
                streamOpen = false;
                continue;
            }
            if (status != BZ_OK) {
                result.error = status == BZ_DATA_ERROR || status == BZ_DATA_ERROR_MAGIC
                                   ? "damaged bzip2 data"
                                   : QString("bzip2 error %1").arg(status);
                break;
            }
            if (stream.avail_in == 0 && inputEnded && produced == 0) {
                result.error = "unexpected end of the bzip2 stream";
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        result.error = "not enough memory to decompress the file";
    }
    if (streamOpen)
        BZ2_bzDecompressEnd(&stream);
    if (!result.error.isEmpty())
        result.complete = false;
    return result;
}
