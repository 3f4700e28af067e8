// Decompression of gzip and bzip2 input: piece by piece as a stream, or
// whole into memory.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// A gzip or bzip2 file decompressed piece by piece. Several gzip members or
// bzip2 streams in a row read as one stream; a gzip file that holds no gzip
// data reads as it stands, as zlib reads it (known once it is opened), and
// bytes after the last gzip member that are not gzip data are ignored.
class CompressedStream {
public:
    enum class Format { Gzip, Bzip2 };

    CompressedStream(const QString& path, Format format);
    ~CompressedStream();
    CompressedStream(const CompressedStream&) = delete;
    CompressedStream& operator=(const CompressedStream&) = delete;

    // The file could be opened.
    bool opened() const;
    // Decodes at most `n` more bytes into `buffer` and returns how many it
    // gave (possibly none before the end, while the decoder takes in more
    // input). Every byte decoded before damage is given, also by the call
    // that meets it. No bytes come once finished.
    size_t read(unsigned char* buffer, size_t n);
    // No more bytes will come: the stream ended, cleanly or at damage.
    bool finished() const;
    // It ended cleanly.
    bool complete() const;
    // Why it did not end cleanly, once finished.
    QString error() const;
    // A ".gz" file that holds no gzip data, taken as it stands.
    bool notCompressed() const;
    // Calls of the decoder so far.
    int reads() const;
    // The part of the compressed file taken in so far, 0 to 1.
    double fractionRead() const;

    class Decoder;

private:
    std::unique_ptr<Decoder> m_decoder;
    uint64_t m_fileSize;
};

struct Decompressed {
    std::vector<unsigned char> bytes;  // everything decoded up to the end or the damage
    int reads = 0;                     // number of chunk reads
    bool opened = false;               // the compressed file could be opened
    bool complete = false;             // the stream ended cleanly
    QString error;                     // why it did not, when it did not
    bool notCompressed = false;        // a ".gz" file that holds no gzip data, taken as it stands
};

// Decodes a whole file into memory, in chunks of 10 MiB, up to its end or
// its damage.
Decompressed decompressFile(const QString& path, CompressedStream::Format format);

// Decompresses a gzip file (several members in a row are read as one
// stream). A read error stops at the damage. A file without gzip data is
// taken as it stands, as zlib reads it, and flagged.
Decompressed gunzipFile(const QString& path);

// Decompresses a bzip2 file (several streams in a row are read as one).
// A damaged stream stops at the damage.
Decompressed bunzip2File(const QString& path);
