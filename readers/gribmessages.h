// Where the GRIB messages of one input file come from: the open file itself,
// or its content decompressed as a stream (".gz", ".GZ", ".bz2"), of which
// about one message at a time is held. Each message is checked for damage
// before ecCodes is given it.
#pragma once

#include <QString>

#include <grib_api.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class CompressedStream;

struct GribHandleDeleter {
    void operator()(grib_handle* h) const { grib_handle_delete(h); }
};
using GribHandle = std::unique_ptr<grib_handle, GribHandleDeleter>;

class GribMessages {
public:
    enum Source { FromFile = 2, FromMemory = 3 };

    // Opens the file; a compressed one is decoded once to its end (or its
    // damage) first, without being held, so that its size and soundness are
    // known before any message is read. A file that cannot be read gives no
    // messages, with an error logged and said on standard error.
    explicit GribMessages(const QString& fileName);
    ~GribMessages();
    GribMessages(const GribMessages&) = delete;
    GribMessages& operator=(const GribMessages&) = delete;

    // The next message, or null after the last one. A message that ecCodes
    // cannot read, or that is cut short or damaged, ends the run
    // (FatalError), except past the damage of a compressed stream, where
    // reading simply stops. A handle must be deleted before the next call:
    // the bytes of a compressed input it was made from may go then.
    GribHandle next();

    // The source's number in the table generation's trace line.
    int traceNumber() const { return m_traceNumber; }
    // The input could not be opened or was damaged.
    bool incomplete() const { return m_failed || m_damaged; }

    // Most bytes of a compressed input held at once: a message ecCodes is
    // given, with the bytes before it from the reading position on.
    static constexpr uint64_t kMaxHeld = uint64_t(1) << 31;

private:
    bool nextIsSound();
    std::string compressedFault();
    void openCompressed(const QString& extension);
    // Says that the compressed stream is damaged; reading stops there.
    void reportDamage(const QString& why);
    GribHandle fromCompressed(int& err);
    // Copies up to `n` held bytes from `offset` on, decoding as far as needed.
    size_t held(uint64_t offset, unsigned char* buffer, size_t n);
    // Holds the decompressed bytes from the reading position up to `end`
    // (or the input's end); false when they cannot be held.
    bool cover(uint64_t end);
    // Decodes the next piece of the stream onto the window.
    bool pull();

    QString m_fileName;
    Source m_source = FromFile;
    int m_traceNumber = 2;
    std::FILE* m_file = nullptr;
    uint64_t m_fileSize = 0;
    bool m_failed = false;
    bool m_damaged = false;

    // Compressed input: its decoder, the bytes it gives (to its end or its
    // damage), how many it has given, and where ecCodes reads next.
    std::unique_ptr<CompressedStream> m_stream;
    uint64_t m_size = 0;
    uint64_t m_produced = 0;
    uint64_t m_pos = 0;
    // The decompressed bytes held, from m_windowStart on. Once ecCodes has
    // read a message from the window, the window stays as it is (ecCodes may
    // go on using those bytes for the further fields of the message) until
    // ecCodes reads from another; the bytes after the reading position then
    // go on in a new window, and the old one waits in m_read.
    std::vector<unsigned char> m_window;
    uint64_t m_windowStart = 0;
    bool m_windowRead = false;
    std::vector<unsigned char> m_read;
    // Why the bytes the next message needs cannot be held, when they cannot.
    QString m_holdFailure;
};
