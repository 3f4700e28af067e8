// GRIB edition 1 and 2 input, plain, gzip or bzip2 compressed, read through
// ecCodes' GRIB API; also writes conversion tables for GRIB files (-p).
#pragma once

#include "logging/fatal.h"
#include "model/basereader.h"
#include "grids/areacut.h"
#include "readers/gribnearest.h"
#include "readers/regulargrid.h"

#include <exception>
#include <functional>
#include <map>
#include <set>

#include <string>
#include <vector>

struct grib_handle;

class gribReader : public baseReader {
public:
    // Files every message of the file that the loaded table has a row for,
    // cut to the table's area. False when the file could not be read whole.
    bool readFile(QString fileName) override;
    // Writes a conversion table that converts the GRIB file
    // (writeGribProbeTable), its messages into m_prob. False when the input
    // could not be read whole or the table could not be written.
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
    // The most points a message may have: kMaxPoints unless set lower (0
    // sets it back). A harness that runs under an allocation limit lowers
    // it.
    static void setMaxPoints(long points);
    static long maxPoints();

    probeData m_prob;

    // The reason counted for a message none of whose points falls on the area.
    static constexpr const char* kOutsideArea = "outside the area";

private:
    // What reading one message gave, before anything of it is filed, said or
    // counted: messages may be read on several threads at once, and are
    // filed, said and counted in file order.
    struct Said {
        enum class Kind { Problem, Trace, Debug };
        Kind kind;
        QString text;
        SourcePlace where;
    };
    // What is the same for every message of one variable key: read from
    // the key's first message filed, in file order.
    struct KeyFacts {
        std::string name;
        std::string units;
        std::string standardName;  // "cfName"; empty when it has none
    };
    struct Reading {
        // File: the record is filed; Pass: nothing to file; Refuse: the
        // message was skipped as unusable (said); Skip: skipped for
        // `skipReason`, said at the first of its kind in an input.
        enum class Outcome { File, Pass, Refuse, Skip };
        Outcome outcome = Outcome::Pass;
        // Why a message is skipped, as the summary counts it; for Skip, the
        // line said at the first of its kind.
        std::string skipReason;
        QString skipLine;
        // The extent of the grid of a message outside the area.
        std::string gridExtent;
        // The record's key, once its times and member are read and the key
        // looked up in the table; empty before.
        std::string key;
        p_data record;
        std::vector<Said> said;
        std::exception_ptr fatal;  // ends the run, after what is said
        // ecCodes could not make the handle of the message's bytes.
        bool unreadable = false;
        // No row of the table has the message's surface and level type:
        // its short name was not read, and it has no key, but its times and
        // member count as any message's.
        bool ruledOut = false;
    };
    // A batch holds this many messages, or as many as reach this many bytes
    // of messages: many small messages keep the threads busy between two
    // filings, and large ones do not multiply the memory held.
    static constexpr size_t kBatchMessages = 256;
    static constexpr size_t kBatchBytes = size_t(8) << 20;
    // Working arrays of one thread, reused from message to message.
    using Work = GribPoints;

    // Reads one message as far as its record cut to the table's area. Safe
    // on several threads at once, each with its own `work`.
    Reading readMessage(grib_handle* h, const QString& fileName, Work& work);
    // Says, counts and files what reading a message gave; false when it
    // had to be skipped as unusable. A fatal condition met reading it ends
    // the run here. `h` is the message's handle where the reading thread
    // left it: for a filed message of a key whose facts are not yet known,
    // which are read from it.
    bool fileReading(Reading reading, grib_handle* h, const QString& fileName);
    // Whether ecCodes can decode the values of the message named
    // `shortName`; `points` receives their number.
    enum class Decoding { Possible, Skipped, Refused };
    Decoding checkDecoding(grib_handle* h, const QString& fileName, std::string shortName, long& points,
                           std::vector<Said>& said);
    // The message's values, with their coordinates, into the working arrays;
    // false when ecCodes gives no coordinates for its grid.
    bool decodeValues(grib_handle* h, const QString& fileName, long points, Work& work);
    // Cuts the record of a message on a regular latitude/longitude grid to
    // the table's area with the grid's step `dx` (regularStep); `place` puts
    // the values on the area grid and tells how many points landed there.
    // Refused when the message cannot be placed on the area, skipped when
    // none of its points lands.
    using Placement = std::function<size_t(const AreaGrid& area, std::vector<double>& out)>;
    void cutToArea(Reading& reading, float dx, const QString& fileName, const Placement& place,
                   const std::function<std::string()>& extent);
    // Puts the record's cells on the table's area, each from the point of
    // the message (on a grid of kind `gridType`) nearest to it; `work` holds
    // the message's coordinates and values when `decoded`.
    void placeByNearestPoint(Reading& r, grib_handle* h, const QString& fileName, const std::string& gridType,
                             long points, bool decoded, Work& work);
    // The reading refused: its message cannot be placed on the area with
    // the step `dx`.
    static void refuseStep(Reading& r, const QString& fileName, float dx);
    // The reading skipped: none of its message's points lands on the area.
    static void skipOutside(Reading& r, const std::string& extent);
    // Marks the reading skipped for `reason`, with the line said at the first
    // of its kind.
    static void skip(Reading& r, const std::string& reason, const QString& line);

    // Whether messages may be ruled out before their short names are read:
    // once the first distinct keys of the input are known (the summary
    // names them), and not for a log that keeps debug lines (they name
    // every message).
    bool mayRuleOut() const;
    // Whether the message can be ruled out so: no key of the table ends
    // with its surface and level type, and it would not be refused or said
    // anything of for its grid or place.
    bool ruledOutByPlace(grib_handle* h) const;
    static KeyFacts readKeyFacts(grib_handle* h, const QString& fileName, const std::string& name);

    // The facts of each key filed so far in this input.
    std::map<std::string, KeyFacts> m_keyFacts;
    // The ends "_<surface>_<level type>" of the table's keys, and whether
    // messages may be ruled out by them yet (written only while readings
    // are filed).
    std::set<std::string> m_keyTails;
    bool m_mayRuleOut = false;
    // Regular grids met in this input and whether their definitions are trusted.
    RegularGrids m_grids;
    // Every other grid met, and where its points go on the area.
    GribNearestGrids m_nearest;
};
