// The "cpas_bin" type: a 32-byte grid header, then nine single-level fields
// of little-endian floats with fixed names.
#pragma once

#include "model/basereader.h"

#include <string>
#include <vector>

// The grid header, little-endian.
struct tagFYHead {
    int32_t lwidth;
    int32_t lheight;
    float xmin, ymin, xmax, ymax;
    float SizeX, SizeY;
};

class cpasReader : public baseReader {
public:
    cpasReader();

    bool readFile(QString fileName) override;
    bool fileProbe(QString, QString) override { return false; }

    // Decodes the header from its 32 bytes.
    static tagFYHead parseHeader(const unsigned char* bytes);

    std::vector<std::string> m_varNames;
    std::vector<int> m_varLevels;
    std::vector<double> m_varlons;
    std::vector<double> m_varlats;
};
