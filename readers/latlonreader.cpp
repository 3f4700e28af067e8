#include "readers/latlonreader.h"

#include "logging/progress.h"
#include "logging/qlogger.h"
#include "readers/modelfile.h"
#include "readers/ncinput.h"

#include <QFile>

#include <cmath>

namespace {

const char* const kReader = "latlonReader";

// Packed grids may describe far more cells than their file holds bytes;
// they are still bounded.
constexpr uint64_t kMaxPackedCells = uint64_t(1) << 26;

// Reads one level's stored integers into `grid` (rows x cols, row-major);
// positions no record writes stay 0. Returns how many cells hold values
// from the file or, packed, may hold them (all).
uint64_t readLevel(ByteSource& file, const LLDF_HEADER& h, uint64_t cells, std::vector<int16_t>& grid, bool& cut)
{
    grid.assign(cells, 0);
    if (h.compmode == 0) {
        std::vector<unsigned char> bytes(cells * 2);
        const size_t got = file.read(bytes.data(), bytes.size()) / 2;
        for (size_t k = 0; k < got; ++k)
            grid[k] = i16le(&bytes[k * 2]);
        return got;
    }
    if (h.compmode != 1)
        return cells;
    // Run-length records: (row, column, count) then count values; (-1, -1, -1) ends the level,
    // and so does the end of the file. Values past the grid's end are read and dropped.
    std::vector<unsigned char> values;
    for (;;) {
        unsigned char rec[6];
        if (file.read(rec, sizeof rec) < sizeof rec)
            break;
        const int16_t x = i16le(rec), y = i16le(rec + 2), n = i16le(rec + 4);
        if (x == -1 && y == -1 && n == -1)
            break;
        if (n <= 0)
            continue;
        values.resize(static_cast<size_t>(n) * 2);
        const size_t got = file.read(values.data(), values.size()) / 2;
        const int64_t start = static_cast<int64_t>(x) * h.domain.cols + y;
        for (size_t k = 0; k < got; ++k) {
            const int64_t pos = start + static_cast<int64_t>(k);
            if (pos >= 0 && static_cast<uint64_t>(pos) < cells)
                grid[static_cast<size_t>(pos)] = i16le(&values[k * 2]);
            else
                cut = true;
        }
        if (got < static_cast<size_t>(n))
            break;
    }
    return cells;
}

}  // namespace

LLDF_HEADER latlonReader::parseHeader(const unsigned char* b)
{
    LLDF_HEADER h;
    const unsigned char* d = b + 180;
    h.domain.slat = f32le(d);
    h.domain.wlon = f32le(d + 4);
    h.domain.nlat = f32le(d + 8);
    h.domain.elon = f32le(d + 12);
    h.domain.clat = f32le(d + 16);
    h.domain.clon = f32le(d + 20);
    h.domain.rows = i32le(d + 24);
    h.domain.cols = i32le(d + 28);
    h.domain.dlat = f32le(d + 32);
    h.domain.dlon = f32le(d + 36);
    h.amp = i16le(b + 230);
    h.compmode = i16le(b + 232);
    h.enablemultiLevel = i16le(b + 244);
    h.height_Ftime = i16le(b + 246);
    h.index_nextbytes = i32le(b + 248);
    return h;
}

bool latlonReader::readFile(QString filename)
{
    if (!QFile::exists(filename))
        return false;
    ByteSource file;
    if (!file.open(filename, ByteSource::Kind::Plain))
        return false;

    uint64_t missing = 0;
    bool cut = false;        // run-length values past the grid were dropped
    bool announced = false;  // the previous level said another one follows
    std::vector<int16_t> grid;
    uint64_t kept = 0;  // cells of the levels read
    ProgressLine progress(filename, "levels");
    uint64_t levels = 0;
    for (bool first = true;; first = false) {
        unsigned char bytes[256];
        const size_t got = file.read(bytes, sizeof bytes);
        if (got < sizeof bytes) {
            // The end of the file after a level is its regular end, unless
            // that level announced another.
            if (first || got > 0)
                reportBadSize(filename, first ? "shorter than its header" : "ends inside a level header", kReader);
            else if (announced)
                reportInput(filename, "ends before the level its last header announces", kReader);
            break;
        }
        const LLDF_HEADER h = parseHeader(bytes);
        const LATLON_DOMAIN& d = h.domain;
        // A full grid must fit the rest of the file; a packed one needs at
        // least its terminating record.
        uint64_t cells = 0;
        if (!sizeFits(d.rows, d.cols, h.compmode == 0 ? 2 : 0, file, &cells) ||
            (h.compmode != 0 && cells > kMaxPackedCells)) {
            reportBadSize(filename, QString("a level of %1 x %2 values does not fit the file").arg(d.rows).arg(d.cols),
                          kReader);
            break;
        }
        // Every level is kept at 8 bytes a cell, and a packed one takes a
        // few bytes of the file whatever its size: the levels together are
        // bounded by the machine's memory.
        kept += cells;
        if (!NcInput::fitsInMemory(kept)) {
            reportBadSize(filename,
                          QString("a level of %1 x %2 values with the levels before it is too large for this "
                                  "machine's memory")
                              .arg(d.rows)
                              .arg(d.cols),
                          kReader);
            break;
        }
        const uint64_t valid = readLevel(file, h, cells, grid, cut);
        missing += cells - valid;

        std::vector<double> lons, lats;
        for (int32_t i = 0; i < d.cols; ++i)
            lons.push_back(static_cast<double>(d.wlon + static_cast<float>(i) * d.dlon));
        for (int32_t k = 0; k < d.rows; ++k)
            lats.push_back(static_cast<double>(d.slat + static_cast<float>(d.rows - 1 - k) * d.dlat));
        p_data f = modelField("dbz", h.height_Ftime, lons, lats, 9999.0f);
        f.prop_units = "dbz";
        f.dimDx = spacingCodeOf(d.dlon);
        if (h.compmode == 0 || h.compmode == 1) {
            if (h.amp == 0) {
                KV_LOG_ERROR(QString("[latlonReader] %1: level %2 has scale 0; its values are the fill value")
                                 .arg(filename)
                                 .arg(h.height_Ftime));
                f.data.assign(cells, 9999.0);
            } else {
                f.data.resize(cells);
                const double amp = h.amp;
                for (size_t k = 0; k < cells; ++k)
                    f.data[k] = k < valid ? static_cast<double>(grid[k]) / amp : 9999.0;
            }
        }
        insert(std::move(f));
        progress.update(++levels, file.fractionRead());
        announced = h.enablemultiLevel == 1 && h.index_nextbytes != 0;
        if (!announced)
            break;
    }
    progress.finish();
    if (cut)
        reportInput(filename, "run-length records reach past the grid; the values past its end are dropped", kReader);
    reportMissingValues(filename, missing, kReader);
    g_forcastTime = 0;
    return true;
}
