// The fixed-layout model files written byte by byte, for tests and for the
// fuzzers' seed corpora.
#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

void putU32(QByteArray& out, uint32_t v, bool bigEndian);
void putF32(QByteArray& out, float v, bool bigEndian = false);
void putI32(QByteArray& out, int32_t v);
void putI16(QByteArray& out, int16_t v);

// A text field padded with blanks to `size` bytes.
QByteArray padded(const QByteArray& text, int size);

// Records of big-endian floats (cpefs, grapscm): value of record r, point k.
QByteArray records(int count, size_t values, const std::function<float(int, size_t)>& value);
float recordValue(int r, size_t k);

// A cctv_ec file: the 120-byte identification, three 80-byte header lines,
// then little-endian floats.
QByteArray cctvFile(const QByteArray& format, const QByteArray& line1, const QByteArray& line2,
                    const QByteArray& line3, const std::vector<float>& values);

// A cpas_bin file of a w x h grid with `recordsWritten` records, less its
// last `cut` bytes.
QByteArray cpasFile(int32_t w, int32_t h, float x0, float y0, float x1, float y1, int recordsWritten,
                    size_t cut = 0);

// The 256-byte header of a latlon level, and little-endian 16-bit values.
QByteArray latlonHeader(int32_t rows, int32_t cols, int16_t amp, int16_t compmode, int16_t level, bool more);
QByteArray shorts(std::initializer_list<int> values);
