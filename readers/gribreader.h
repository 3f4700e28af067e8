// GRIB edition 1 and 2 input, plain, gzip or bzip2 compressed, read through
// ecCodes' GRIB API; also writes conversion tables for GRIB files (-p).
#pragma once

#include "model/basereader.h"
#include "readers/areacut.h"
#include "readers/regulargrid.h"

#include <functional>

#include <string>
#include <vector>

struct grib_handle;

class gribReader : public baseReader {
public:
    // Files every message of the file that the loaded table has a row for,
    // cut to the table's area. False when the file could not be read whole.
    bool readFile(QString fileName) override;
    // Writes a conversion table listing every variable and surface of the
    // GRIB file with its levels. False when the input could not be read
    // whole or the table could not be written.
    bool fileProbe(QString fileName, QString tableFile) override;

    // Whole decompressed content of a gzip or bzip2 file; `count` receives
    // the number of chunk reads. Empty when the file cannot be opened.
    static std::vector<unsigned char> readGz(const std::string& path, int* count);
    static std::vector<unsigned char> readbz2(const std::string& path, int* count);

    // Places the points of a message on the table's area: placeOnArea.
    static bool dataConvert(const std::vector<double>& lon, const std::vector<double>& lat,
                            const std::vector<double>& values, std::vector<double>& outLon,
                            std::vector<double>& outLat, std::vector<double>& outValues,
                            const float* area, float dx, float dy, double fill);

    // Removes trailing blanks.
    static void trim(std::string& text);

    // Largest area grid accepted, in cells.
    static constexpr long long kMaxCells = kMaxAreaCells;
    // Largest message accepted, in points.
    static constexpr long kMaxPoints = 1L << 28;

    probeData m_prob;

private:
    // Reads one message into the store. False when it had to be skipped as
    // unusable (said on standard error).
    bool readMessage(grib_handle* h, const QString& fileName);
    // Whether ecCodes can decode the message's values; `points` receives
    // their number.
    enum class Decoding { Possible, Skipped, Refused };
    Decoding checkDecoding(grib_handle* h, const QString& fileName, long& points);
    // The message's values, with their coordinates, into the working arrays.
    void decodeValues(grib_handle* h, const QString& fileName, long points);
    // Whether the table has a row for the record's key (logged, and counted
    // among the keys the input offered).
    bool wanted(const p_data& record);
    // Files the record cut to the table's area, its step from the first and
    // last of the message's longitudes; `place` puts the values on the area
    // grid. False when the message cannot be placed on the area.
    using Placement = std::function<void(const AreaGrid& area, std::vector<double>& out)>;
    bool fileOnArea(p_data record, long nx, double firstLon, double lastLon, long points, const QString& fileName,
                    const Placement& place);

    // Table generation: files the identity of every message in m_prob;
    // false when the input could not be read whole.
    bool probeMessages(const QString& fileName);
    bool writeTable(const QString& tableFile) const;

    // Regular grids met in this input and whether their definitions are trusted.
    RegularGrids m_grids;
    // Working arrays of one message, reused from message to message.
    std::vector<double> m_lats;
    std::vector<double> m_lons;
    std::vector<double> m_values;
};
