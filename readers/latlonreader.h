// The "latlon" type: radar reflectivity on a latitude/longitude grid as
// scaled 16-bit integers, full grid or run-length packed, one or more
// levels per file. Every field is "dbz".
#pragma once

#include "model/basereader.h"

struct LATLON_DOMAIN {
    float slat, wlon, nlat, elon, clat, clon;
    int32_t rows, cols;
    float dlat, dlon;
};

// The 256-byte level header, little-endian; only the fields the reader uses.
struct LLDF_HEADER {
    LATLON_DOMAIN domain;
    int16_t amp;
    int16_t compmode;
    int16_t enablemultiLevel;
    int16_t height_Ftime;
    int32_t index_nextbytes;
};

class latlonReader : public baseReader {
public:
    latlonReader() = default;

    // False when the file does not exist or cannot be opened.
    bool readFile(QString filename) override;
    bool fileProbe(QString, QString) override { return true; }

    static LLDF_HEADER parseHeader(const unsigned char* bytes);
};
