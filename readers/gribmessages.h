// Where the GRIB messages of one input file come from: the open file itself,
// or its content decompressed as a stream (".gz", ".GZ", ".bz2") in one
// pass, of which about one message at a time is held. Each message is
// checked for damage before ecCodes is given it.
#pragma once

#include "readers/gribdamage.h"

#include <QString>

#include <grib_api.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class CompressedStream;

// Why a GRIB 1 message without a grid description, of a grid ecCodes does
// not know by its catalogue number `grid`, is skipped.
QString gridlessReason(long grid);

struct GribHandleDeleter {
    void operator()(grib_handle* h) const { grib_handle_delete(h); }
};
using GribHandle = std::unique_ptr<grib_handle, GribHandleDeleter>;

class GribMessages {
public:
    enum Source { FromFile = 2, FromMemory = 3 };

    // Opens the file; a compressed one is decoded as its messages are read.
    // A file that cannot be read gives no messages, with an error logged and
    // said on standard error.
    explicit GribMessages(const QString& fileName);
    ~GribMessages();
    GribMessages(const GribMessages&) = delete;
    GribMessages& operator=(const GribMessages&) = delete;

    // The next message, or null after the last one. A message that ecCodes
    // cannot read, or that is cut short or damaged, ends the run
    // (FatalError), except at or past the damage of a compressed stream,
    // where reading simply stops: the damage is said when the stream reaches
    // it, or, when a message fails first, once the rest of the stream has
    // been decoded to tell. A handle must be deleted before the next call:
    // the bytes of a compressed input it was made from may go then.
    // A GRIB 1 message without a grid description whose grid ecCodes does
    // not know is passed over: with `skipped`, null is returned with the
    // reason in it (empty at the end of the input); without, the reason is
    // said on standard error and the next message is taken.
    GribHandle next(QString* skipped = nullptr);

    // The next message, taken for reading on another thread: a plain
    // single-field message of the file as its checked bytes, whose handle
    // the reading thread makes (makeHandle); any other as next() gives it
    // (the fields of a multi-field message one by one, a message passed
    // over as its reason). False after the last one.
    struct Taken {
        std::vector<unsigned char> bytes;
        GribHandle handle;  // declared after the bytes it may point into
        QString passed;
        uint64_t offset = 0;  // of the bytes in the file
    };
    bool take(Taken& out);
    // The handle of a message taken as bytes, which it reads in place; null
    // when ecCodes cannot make one.
    static GribHandle makeHandle(std::vector<unsigned char>& bytes);
    // Ends the run (status 255) for a message taken as bytes at `offset`
    // whose handle could not be made, with the error ecCodes gives reading
    // it from the file. No message is taken after this.
    [[noreturn]] void unreadableAt(uint64_t offset);

    // Whether handles given out may be kept while further ones are taken.
    bool severalAtOnce() const { return m_source == FromFile; }

    // The source's number in the table generation's trace line.
    int traceNumber() const { return m_traceNumber; }
    // The part of the input read so far, 0 to 1.
    double fractionRead() const;
    // The input could not be opened. (Damage ends the run.)
    bool incomplete() const { return m_failed; }

    // Most bytes of a compressed input held at once: a message ecCodes is
    // given, with the bytes before it from the reading position on.
    static constexpr uint64_t kMaxHeld = uint64_t(1) << 31;

private:
    void checkNext();
    // The same, with what the checks found of a message of the file.
    void checkNext(GribShape& shape);
    // The input's bytes for the checks: the file's, or the held window's.
    GribByteReader byteReader();
    // After ecCodes failed on the message from `from` on: whether it is one
    // without a grid description, which is then passed over.
    bool passOverGridless(uint64_t from, QString& reason);
    std::string compressedFault();
    void openCompressed(const QString& extension);
    // Ends the run (status 255): the compressed stream is damaged or cut
    // short, so nothing of it may be used.
    void reportDamage(const QString& why);
    // Before a fault of the next message ends the run: the rest of a
    // compressed stream is decoded, unheld, so that its damage, which may
    // have caused the fault, ends the run instead.
    void damageFirst();
    GribHandle fromCompressed(int& err);
    // Copies up to `n` held bytes from `offset` on, decoding as far as needed.
    size_t held(uint64_t offset, unsigned char* buffer, size_t n);
    // Holds the decompressed bytes from the reading position up to `end`
    // (or the input's end); false when they cannot be held.
    bool cover(uint64_t end);
    void tooLarge();
    // Decodes the next piece of the stream onto the window.
    void pull();
    // Decodes the rest of the stream without holding it.
    void drain();
    // Notes where the stream ended, and its damage.
    void noteEnd();

    QString m_fileName;
    Source m_source = FromFile;
    // Fields of a multi-field message of the file that next() has still to
    // give, one per call.
    int m_fieldsLeft = 0;
    int m_traceNumber = 2;
    std::FILE* m_file = nullptr;
    uint64_t m_fileSize = 0;
    bool m_failed = false;
    bool m_stopped = false;

    // Compressed input: its decoder, its size once it has ended (at its end
    // or its damage; kUnknownSize before), how many bytes it has given, and
    // where ecCodes reads next. Once drained, no more bytes can be held.
    static constexpr uint64_t kUnknownSize = UINT64_MAX;
    std::unique_ptr<CompressedStream> m_stream;
    uint64_t m_size = kUnknownSize;
    uint64_t m_produced = 0;
    uint64_t m_pos = 0;
    bool m_drained = false;
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
