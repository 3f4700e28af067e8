#include "support/gribfiles.h"

#include <QFile>
#include <gtest/gtest.h>

#include <bzlib.h>
#include <grib_api.h>
#include <zlib.h>

double pointLon(const GribField& f, long k)
{
    return f.firstLon + static_cast<double>(k % f.ni) * f.step;
}

double pointLat(const GribField& f, long k)
{
    const double dy = f.southToNorth ? f.step : -f.step;
    return f.firstLat + static_cast<double>(k / f.ni) * dy;
}

void fillPattern(GribField& f, double base)
{
    f.values.resize(static_cast<size_t>(f.ni * f.nj));
    for (long k = 0; k < f.ni * f.nj; ++k)
        f.values[static_cast<size_t>(k)] = base + static_cast<double>(k % 997);
}

QByteArray gribMessage(const GribField& f)
{
    std::string error;
    const std::string bytes = makeGribMessage(f, &error);
    EXPECT_TRUE(error.empty()) << error;
    return QByteArray(bytes.data(), static_cast<int>(bytes.size()));
}

namespace {

uint32_t be32(const QByteArray& b, int at)
{
    return uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 | uint32_t(uint8_t(b[at + 2])) << 8 |
           uint8_t(b[at + 3]);
}

}  // namespace

QByteArray multiFieldMessage(const std::vector<QByteArray>& singles)
{
    QByteArray out = singles.front().left(singles.front().size() - 4);
    for (size_t m = 1; m < singles.size(); ++m) {
        const QByteArray& g = singles[m];
        int pos = 16;
        while (pos + 5 <= g.size() && g[pos + 4] != 4)
            pos += static_cast<int>(be32(g, pos));
        out += g.mid(pos, g.size() - 4 - pos);
    }
    out += "7777";
    const uint64_t total = static_cast<uint64_t>(out.size());
    for (int i = 0; i < 8; ++i)
        out[8 + i] = char(total >> (56 - 8 * i));
    return out;
}

QByteArray withGribKeys(const QByteArray& message, const std::vector<std::pair<const char*, long>>& keys,
                        const char* sample)
{
    grib_handle* h = message.isEmpty() ? grib_handle_new_from_samples(nullptr, sample)
                                       : grib_handle_new_from_message_copy(nullptr, message.constData(),
                                                                           static_cast<size_t>(message.size()));
    if (!h) {
        ADD_FAILURE() << "ecCodes gave no message";
        return {};
    }
    for (const auto& [key, value] : keys)
        EXPECT_EQ(grib_set_long(h, key, value), 0) << key;
    return takeMessage(h);
}

QByteArray takeMessage(grib_handle* h)
{
    if (!h)
        return {};
    const void* bytes = nullptr;
    size_t size = 0;
    QByteArray out;
    if (grib_get_message(h, &bytes, &size) == 0)
        out = QByteArray(static_cast<const char*>(bytes), static_cast<int>(size));
    grib_handle_delete(h);
    return out;
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray gzipBytes(const QByteArray& bytes)
{
    z_stream s {};
    EXPECT_EQ(deflateInit2(&s, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray out(static_cast<int>(deflateBound(&s, static_cast<uLong>(bytes.size()))) + 64, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    s.avail_in = static_cast<uInt>(bytes.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(static_cast<int>(s.total_out));
    deflateEnd(&s);
    return out;
}

QByteArray bzip2Bytes(const QByteArray& bytes)
{
    unsigned int size = static_cast<unsigned int>(bytes.size() + bytes.size() / 100 + 1024);
    QByteArray out(static_cast<int>(size), '\0');
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(bytes.constData()),
                                       static_cast<unsigned int>(bytes.size()), 9, 0, 0),
              BZ_OK);
    out.resize(static_cast<int>(size));
    return out;
}

std::vector<DecodedField> decodeGribFile(const QString& path, size_t messages)
{
    std::vector<DecodedField> out;
    FILE* f = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!f) {
        ADD_FAILURE() << "cannot open " << path.toStdString();
        return out;
    }
    // Messages may hold several fields (u and v together, for example).
    grib_multi_support_on(nullptr);
    int err = 0;
    grib_handle* h = nullptr;
    while (out.size() < messages && (h = grib_handle_new_from_file(nullptr, f, &err))) {
        DecodedField d;
        char buf[256];
        size_t len = sizeof buf;
        if (grib_get_string(h, "shortName", buf, &len) == 0)
            d.shortName = buf;
        len = sizeof buf;
        if (grib_get_string(h, "nameOfFirstFixedSurface", buf, &len) == 0)
            d.surface = buf;
        grib_get_long(h, "level", &d.level);
        grib_get_double(h, "level", &d.levelValue);
        long n = 0;
        grib_get_long(h, "numberOfPoints", &n);
        grib_set_double(h, "missingValue", 9999.0);
        d.lats.resize(static_cast<size_t>(n));
        d.lons.resize(static_cast<size_t>(n));
        d.values.resize(static_cast<size_t>(n));
        EXPECT_EQ(grib_get_data(h, d.lats.data(), d.lons.data(), d.values.data()), 0);
        out.push_back(std::move(d));
        grib_handle_delete(h);
    }
    std::fclose(f);
    return out;
}
