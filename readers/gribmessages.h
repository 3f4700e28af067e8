// Where the GRIB messages of one input file come from: the open file itself,
// or its content decompressed into memory (".gz", ".GZ", ".bz2"). Each
// message is checked for damage before ecCodes is given it.
#pragma once

#include <QString>

#include <grib_api.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

struct GribHandleDeleter {
    void operator()(grib_handle* h) const { grib_handle_delete(h); }
};
using GribHandle = std::unique_ptr<grib_handle, GribHandleDeleter>;

class GribMessages {
public:
    enum Source { FromFile = 2, FromMemory = 3 };

    // Opens or decompresses the file; a file that cannot be read gives no
    // messages, with an error logged and said on standard error.
    explicit GribMessages(const QString& fileName);
    ~GribMessages();
    GribMessages(const GribMessages&) = delete;
    GribMessages& operator=(const GribMessages&) = delete;

    // The next message, or null after the last one. A message that ecCodes
    // cannot read, or that is cut short or damaged, ends the run
    // (FatalError), except past the damage of a compressed stream, where
    // reading simply stops.
    GribHandle next();

    // The source's number in the table generation's trace line.
    int traceNumber() const { return m_traceNumber; }
    // The part of the input read so far, 0 to 1.
    double fractionRead() const;
    // The input could not be opened or was damaged.
    bool incomplete() const { return m_failed || m_damaged; }

private:
    bool nextIsSound();
    void decompress(const QString& extension);

    QString m_fileName;
    Source m_source = FromFile;
    int m_traceNumber = 2;
    std::FILE* m_file = nullptr;
    uint64_t m_fileSize = 0;
    std::vector<unsigned char> m_buffer;
    unsigned char* m_next = nullptr;
    size_t m_left = 0;
    bool m_failed = false;
    bool m_damaged = false;
};
