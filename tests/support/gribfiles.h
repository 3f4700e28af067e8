// GRIB messages made for tests from ecCodes' bundled samples, and the
// compressed forms of files.
#pragma once

#include <QByteArray>
#include <QString>

#include "scripts/gribsample.h"

#include <string>
#include <vector>

// Longitude and latitude of point k of the field, in scanning order.
double pointLon(const GribField& f, long k);
double pointLat(const GribField& f, long k);

// Fills values with an integer pattern that identifies each point.
void fillPattern(GribField& f, double base = 200);

QByteArray gribMessage(const GribField& f);

// ecCodes' own decoding of every message of a GRIB file, missing points as 9999.
struct DecodedField {
    std::string shortName, surface;
    long level = 0;
    std::vector<double> lats, lons, values;
};
std::vector<DecodedField> decodeGribFile(const QString& path);

bool writeBytes(const QString& path, const QByteArray& bytes);
QByteArray gzipBytes(const QByteArray& bytes);
QByteArray bzip2Bytes(const QByteArray& bytes);
