#include "support/modelfiles.h"

#include <cstring>

void putU32(QByteArray& out, uint32_t v, bool bigEndian)
{
    for (int k = 0; k < 4; ++k)
        out.append(static_cast<char>(bigEndian ? (v >> (24 - 8 * k)) & 0xff : (v >> (8 * k)) & 0xff));
}

void putF32(QByteArray& out, float v, bool bigEndian)
{
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    putU32(out, bits, bigEndian);
}

void putI32(QByteArray& out, int32_t v)
{
    putU32(out, static_cast<uint32_t>(v), false);
}

void putI16(QByteArray& out, int16_t v)
{
    out.append(static_cast<char>(v & 0xff));
    out.append(static_cast<char>((v >> 8) & 0xff));
}

// A text field padded with blanks to `size` bytes.
QByteArray padded(const QByteArray& text, int size)
{
    QByteArray out = text.left(size);
    out.append(QByteArray(size - out.size(), ' '));
    return out;
}

QByteArray records(int count, size_t values, const std::function<float(int, size_t)>& value)
{
    QByteArray out;
    out.reserve(static_cast<int>(count * values * 4));
    for (int r = 0; r < count; ++r)
        for (size_t k = 0; k < values; ++k)
            putF32(out, value(r, k), true);
    return out;
}

float recordValue(int r, size_t k)
{
    return static_cast<float>(r * 10 + static_cast<int>(k % 7));
}

QByteArray cctvFile(const QByteArray& format, const QByteArray& line1, const QByteArray& line2,
                    const QByteArray& line3, const std::vector<float>& values)
{
    QByteArray out = padded("diamond " + format + " ident", 120);
    out += padded(line1, 80) + padded(line2, 80) + padded(line3, 80);
    for (float v : values)
        putF32(out, v);
    return out;
}

QByteArray cpasFile(int32_t w, int32_t h, float x0, float y0, float x1, float y1, int recordsWritten, size_t cut)
{
    QByteArray out;
    putI32(out, w);
    putI32(out, h);
    for (float v : {x0, y0, x1, y1, 0.0f, 0.0f})
        putF32(out, v);
    const size_t n = w > 0 && h > 0 ? static_cast<size_t>(w) * static_cast<size_t>(h) : 0;
    for (int r = 0; r < recordsWritten; ++r)
        for (size_t k = 0; k < n; ++k)
            putF32(out, k == 1 ? 3.0e38f : static_cast<float>(r));
    out.chop(static_cast<int>(cut));
    return out;
}

QByteArray latlonHeader(int32_t rows, int32_t cols, int16_t amp, int16_t compmode, int16_t level, bool more)
{
    QByteArray h(256, '\0');
    QByteArray domain;
    for (float v : {30.0f, 110.0f, 0.0f, 0.0f, 0.0f, 0.0f})
        putF32(domain, v);
    putI32(domain, rows);
    putI32(domain, cols);
    putF32(domain, 1.0f);
    putF32(domain, 1.0f);
    h.replace(180, 40, domain);
    QByteArray tail;
    putI16(tail, amp);
    putI16(tail, compmode);
    h.replace(230, 4, tail);
    QByteArray multi;
    putI16(multi, more ? 1 : 0);
    putI16(multi, level);
    putI32(multi, more ? 1234 : 0);
    h.replace(244, 8, multi);
    return h;
}

QByteArray shorts(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        putI16(out, static_cast<int16_t>(v));
    return out;
}
