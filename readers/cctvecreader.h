// Single-field grid files of the "cctv_ec" type: a text header naming the
// format (104, 106, 112, 113) and the grid, then little-endian floats. The
// variable comes from the file name.
#pragma once

#include "model/basereader.h"

#include <QStringList>

#include <string>
#include <vector>

class ByteSource;

// The three 80-character header lines.
struct CCTV_EC_104 {
    char fisrtLine[80];
    char secondLine[80];
    char thridLine[80];
};

class cctvEcReader : public baseReader {
public:
    cctvEcReader() = default;

    // True when the file's format number was read, whether or not it is known.
    bool readFile(QString fileName) override;
    bool fileProbe(QString, QString) override { return false; }

    void readfFileFormat104(ByteSource& file, p_data& field);
    void readfFileFormat106(ByteSource& file, p_data& field);
    void readfFileFormat112(ByteSource& file, p_data& field);
    void readfFileFormat113(ByteSource& file, p_data& field);

    // Words of a header line: white space collapsed, split at blanks.
    static QStringList words(const char* text, size_t size);

    std::vector<std::string> m_varNames;
    std::vector<int> m_varLevels;
    std::vector<double> m_varlons;
    std::vector<double> m_varlats;

    struct Grid {
        long xnum = 0, ynum = 0;
        double lon0 = 0, lat0 = 0, dlon = 0, dlat = 0;
    };
    using GridWords = bool (*)(const CCTV_EC_104& header, Grid& grid);

private:
    // Header, grid and first block of values; false, with nothing filed, when
    // any of them is missing or wrong. `headerError` is printed when the
    // header is.
    bool readField(ByteSource& file, p_data& field, GridWords gridWords, const char* headerError = nullptr);
    // Reads `count` values; values above 100000 become 0, values the file
    // cannot supply hold the fill value.
    void readValues(ByteSource& file, uint64_t count, std::vector<double>& values);
    // Header and first line; false when the header is short or line 1 has too few words.
    bool readHeader(ByteSource& file, p_data& field, CCTV_EC_104& header);
    // Reads xnum x ynum values into `values` (values above 100000 become 0);
    // false when the sizes cannot be right for the file.
    bool readBlock(ByteSource& file, const Grid& grid, std::vector<double>& values);
    void setGrid(const Grid& grid, p_data& field);

    QString m_fileName;
    uint64_t m_missing = 0;
    size_t m_read = 0;  // values the last block read from the file
};
