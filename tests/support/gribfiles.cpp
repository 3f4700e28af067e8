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
    const char* sample = f.edition == 1 ? "regular_ll_pl_grib1" : "regular_ll_pl_grib2";
    grib_handle* h = grib_handle_new_from_samples(nullptr, sample);
    if (!h) {
        ADD_FAILURE() << "no ecCodes sample " << sample;
        return QByteArray();
    }
    auto setLong = [&](const char* key, long v) {
        const int err = grib_set_long(h, key, v);
        EXPECT_EQ(err, 0) << key << ": " << grib_get_error_message(err);
    };
    auto setDouble = [&](const char* key, double v) {
        const int err = grib_set_double(h, key, v);
        EXPECT_EQ(err, 0) << key << ": " << grib_get_error_message(err);
    };
    auto setText = [&](const char* key, const std::string& v) {
        size_t len = v.size();
        const int err = grib_set_string(h, key, v.c_str(), &len);
        EXPECT_EQ(err, 0) << key << "=" << v << ": " << grib_get_error_message(err);
    };

    if (f.edition == 2 && f.member >= 0) {
        setLong("productDefinitionTemplateNumber", 1);
        setLong("perturbationNumber", f.member);
        setLong("numberOfForecastsInEnsemble", 200);
    }
    if (f.parameterNumber >= 0) {
        setLong(f.edition == 1 ? "indicatorOfParameter" : "parameterNumber", f.parameterNumber);
    } else if (!f.shortName.empty()) {
        setText("shortName", f.shortName);
    }
    setText("typeOfLevel", f.typeOfLevel);
    setLong("level", f.level);
    setLong("dataDate", f.dataDate);
    setLong("dataTime", f.dataTime);
    setLong(f.edition == 1 ? "P1" : "forecastTime", f.forecastTime);

    const double lastLon = f.firstLon + static_cast<double>(f.ni - 1) * f.step;
    const double lastLat = f.firstLat + static_cast<double>(f.nj - 1) * (f.southToNorth ? f.step : -f.step);
    setLong("Ni", f.ni);
    setLong("Nj", f.nj);
    setLong("jScansPositively", f.southToNorth ? 1 : 0);
    setDouble("latitudeOfFirstGridPointInDegrees", f.firstLat);
    setDouble("longitudeOfFirstGridPointInDegrees", f.firstLon);
    setDouble("latitudeOfLastGridPointInDegrees", lastLat);
    setDouble("longitudeOfLastGridPointInDegrees", lastLon);
    setDouble("iDirectionIncrementInDegrees", f.step);
    setDouble("jDirectionIncrementInDegrees", f.step);

    bool anyMissing = false;
    for (double v : f.values)
        anyMissing = anyMissing || v == 9999.0;
    if (anyMissing) {
        setDouble("missingValue", 9999.0);
        setLong("bitmapPresent", 1);
    }
    setLong("bitsPerValue", 24);
    const int err = grib_set_double_array(h, "values", f.values.data(), f.values.size());
    EXPECT_EQ(err, 0) << "values: " << grib_get_error_message(err);

    const void* message = nullptr;
    size_t size = 0;
    EXPECT_EQ(grib_get_message(h, &message, &size), 0);
    const QByteArray bytes(static_cast<const char*>(message), static_cast<int>(size));
    grib_handle_delete(h);
    return bytes;
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
