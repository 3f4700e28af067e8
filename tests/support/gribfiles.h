// GRIB messages made for tests from ecCodes' bundled samples, and the
// compressed forms of files.
#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

struct GribField {
    int edition = 2;
    std::string shortName = "t";          // empty: keep the sample's parameter
    long parameterNumber = -1;            // set instead of the short name when >= 0
    std::string typeOfLevel = "isobaricInhPa";
    long level = 850;
    long member = -1;                     // ensemble member; -1 for none
    long forecastTime = 0;
    long dataDate = 20261208;
    long dataTime = 1200;
    // Regular latitude/longitude grid: first point, steps, sizes. Rows run
    // north to south unless southToNorth.
    double firstLon = 0, firstLat = 0, step = 1;
    long ni = 2, nj = 2;
    bool southToNorth = false;
    std::vector<double> values;  // ni * nj, in scanning order; 9999 marks a missing point
};

// Longitude and latitude of point k of the field, in scanning order.
double pointLon(const GribField& f, long k);
double pointLat(const GribField& f, long k);

// Fills values with an integer pattern that identifies each point.
void fillPattern(GribField& f, double base = 200);

QByteArray gribMessage(const GribField& f);

bool writeBytes(const QString& path, const QByteArray& bytes);
QByteArray gzipBytes(const QByteArray& bytes);
QByteArray bzip2Bytes(const QByteArray& bytes);
