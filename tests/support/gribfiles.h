// GRIB messages made for tests from ecCodes' bundled samples, and the
// compressed forms of files.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include "scripts/gribsample.h"

#include <cstdint>

struct grib_handle;
#include <string>
#include <utility>
#include <vector>

// Longitude and latitude of point k of the field, in scanning order.
double pointLon(const GribField& f, long k);
double pointLat(const GribField& f, long k);

// Fills values with an integer pattern that identifies each point.
void fillPattern(GribField& f, double base = 200);

QByteArray gribMessage(const GribField& f);
// A GRIB 2 message of several fields sharing sections 1 to 3: the sections 4
// to 7 of each single-field message after the first, with the level of
// each, and one indicator section of the total length.
QByteArray multiFieldMessage(const std::vector<QByteArray>& singles);
// The bytes of the handle's message (empty for none), the handle deleted.
QByteArray takeMessage(grib_handle* h);
// The message, or ecCodes' sample when it is empty, with whole-number keys
// set one after the other, as grib_set -s sets them.
QByteArray withGribKeys(const QByteArray& message, const std::vector<std::pair<const char*, long>>& keys,
                        const char* sample = "GRIB2");

// ecCodes' own decoding of every message of a GRIB file, missing points as 9999.
struct DecodedField {
    std::string shortName, surface;
    long level = 0;
    double levelValue = 0;  // "level" as ecCodes gives it in double precision
    std::vector<double> lats, lons, values;
};
// The first `messages` of them only, where given.
std::vector<DecodedField> decodeGribFile(const QString& path, size_t messages = SIZE_MAX);

bool writeBytes(const QString& path, const QByteArray& bytes);
QByteArray gzipBytes(const QByteArray& bytes);
QByteArray bzip2Bytes(const QByteArray& bytes);

// A file of the shared data folder; empty when it is not there.
inline QString sharedFile(const char* name)
{
    const QString path = QString(KELVANE_SHARED_GRIB) + "/" + name;
    return QFile::exists(path) ? path : QString();
}

#define NEED_SHARED(var, name)                                      \
    const QString var = sharedFile(name);                           \
    if (var.isEmpty())                                              \
        GTEST_SKIP() << name << " is not in the shared data folder"
