// What the fixed-layout model-file readers share: a byte source over a
// plain or bzip2 file, decoding of numbers at an offset in either byte
// order, the field every reader builds, and the reporting of short files.
#pragma once

#include "model/basereader.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// Numbers at an offset of a byte buffer, never by casting a struct over it.
inline uint32_t u32le(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint32_t u32be(const unsigned char* p)
{
    return uint32_t(p[3]) | uint32_t(p[2]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[0]) << 24;
}
inline int32_t i32le(const unsigned char* p)
{
    return static_cast<int32_t>(u32le(p));
}
inline int16_t i16le(const unsigned char* p)
{
    return static_cast<int16_t>(uint16_t(p[0]) | uint16_t(p[1]) << 8);
}
inline float bitsToFloat(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}
inline float f32le(const unsigned char* p)
{
    return bitsToFloat(u32le(p));
}
inline float f32be(const unsigned char* p)
{
    return bitsToFloat(u32be(p));
}

// Sequential bytes of a plain file or of a bzip2 stream.
class ByteSource {
public:
    enum class Kind { Plain, Bzip2 };

    ByteSource() = default;
    ~ByteSource();
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    bool open(const QString& path, Kind kind);
    bool isOpen() const { return m_file != nullptr; }

    // Reads up to `size` bytes; fewer only at the end or at damage.
    // `status` receives the bzip2 status of a compressed read (BZ_OK,
    // BZ_STREAM_END, or an error), BZ_OK for plain files.
    size_t read(unsigned char* buffer, size_t size, int* status = nullptr);
    bool skip(size_t size);

    // Bytes left in a plain file (the largest value for a compressed one).
    uint64_t remaining() const;
    // The part of the file read so far (of the compressed bytes for bzip2), 0 to 1.
    double fractionRead() const;
    Kind kind() const { return m_kind; }

private:
    std::FILE* m_file = nullptr;
    void* m_bz = nullptr;  // BZFILE of a compressed source
    Kind m_kind = Kind::Plain;
    uint64_t m_size = 0;
    uint64_t m_position = 0;
    int m_stopped = 0;  // BZ_OK while the bzip2 stream may still be read
};

// The field a model-file reader builds, with the fixed values every such
// field carries: member 0, no surface, not derived, not read back.
p_data modelField(const std::string& name, int level, const std::vector<double>& lons,
                  const std::vector<double>& lats, float fillValue);

// Says once per file how many values it could not supply (they hold the
// field's fill value): an error log line and a line on standard error.
void reportMissingValues(const QString& path, uint64_t missing, const char* reader);

// Says that a header's grid size cannot be right for the file.
void reportBadSize(const QString& path, const QString& what, const char* reader);
// Says what is wrong with an input the reader goes on with (or skips).
void reportInput(const QString& path, const QString& what, const char* reader);

// A grid of `a` x `b` values of `bytesPerValue` bytes that the rest of the
// source holds at least half of: a file cut short keeps the values it holds
// and the rest hold the fill value, while a header claiming far more than
// the file holds is refused before anything is allocated (as are zero,
// negative and overflowing sizes).
bool sizeFits(int64_t a, int64_t b, int bytesPerValue, const ByteSource& source, uint64_t* values);

// The extension of a file name: the text from its last "." on.
QString extensionOf(const QString& fileName);
