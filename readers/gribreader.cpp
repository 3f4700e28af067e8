#include "readers/gribreader.h"

#include "logging/fatal.h"
#include "logging/lowerablelimit.h"
#include "logging/progress.h"
#include "logging/qlogger.h"
#include "readers/compressed.h"
#include "readers/gribidentity.h"
#include "readers/gribkeys.h"
#include "readers/gribmessages.h"
#include "readers/gribprobe.h"
#include "table/csvfileparser.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#ifdef _OPENMP
#include <omp.h>
#endif

namespace {

// The bytes of a decompressed file, for readGz and readbz2.
std::vector<unsigned char> decompressedBytes(Decompressed d, const std::string& path, int* count)
{
    if (count)
        *count = d.reads;
    if (!d.opened)
        KV_LOG_ERROR(QString("[READGIRB] open failed %1").arg(QString::fromStdString(path)));
    return std::move(d.bytes);
}

// The record of a message, without its times, values and the facts of its
// key (units, standard name, and its name where the short name did not need
// it).
p_data recordOf(const GribIdentity& id)
{
    p_data record;
    record.factorShortName = id.shortName;
    record.factorLongName = id.name;
    record.level = static_cast<int32_t>(id.level);
    record.typedoflevels = id.levelType;
    record.readout = false;
    record.gribEdition = static_cast<int32_t>(id.edition);
    record.nameOfFirstFixedSurface = id.surface;
    record.prop_level_indicator = id.levelIndicator;
    return record;
}

// The analysis and forecast times, fill value and member of a message.
void readTimesAndMember(grib_handle* h, const QString& fileName, p_data& record)
{
    record.prop_initial_time =
        gribkeys::needText(h, "dataDate", fileName) + gribkeys::needText(h, "dataTime", fileName);

    long forecastTime = -1;
    if (grib_get_long(h, "forecastTime", &forecastTime) != 0 || forecastTime < 0)
        forecastTime = -1;
    record.forecastTime = forecastTime;

    double missing = 0;
    record.prop_fillValue = grib_get_double(h, "missingValue", &missing) == 0 ? static_cast<float>(missing) : 1e20f;

    long member = 0;
    if (grib_get_long(h, "perturbationNumber", &member) != 0)
        member = 0;
    record.perturbationNumber = member;
}

// A message's times and member raise the run's forecast time and member
// count; only members the store can hold count towards the slots in use.
void raiseRunTimesAndMembers(const p_data& record)
{
    g_forcastTime = std::max<int64_t>(g_forcastTime, record.forecastTime);
    const int64_t member = record.perturbationNumber;
    if (member >= 0 && member < kMemberSlots)
        g_collect_number = std::max<int32_t>(g_collect_number, static_cast<int32_t>(member));
}

// Threads reading messages at once, and which of them this is.
int readingThreads()
{
#ifdef _OPENMP
    return std::max(1, omp_get_max_threads());
#else
    return 1;
#endif
}

int readerThread()
{
#ifdef _OPENMP
    return omp_get_thread_num();
#else
    return 0;
#endif
}

// "grid template 3.32769 (ncep_32769) is not supported" and the like.
std::string unsupportedGrid(grib_handle* h, long edition)
{
    const std::string type = gribkeys::optionalText(h, "gridType");
    long number = -1;
    QString what;
    if (edition == 2 && grib_get_long(h, "gridDefinitionTemplateNumber", &number) == 0)
        what = QString("grid template 3.%1").arg(number);
    else if (grib_get_long(h, "dataRepresentationType", &number) == 0)
        what = QString("grid type %1").arg(number);
    else
        what = "the grid";
    if (!type.empty())
        what += QString(" (%1)").arg(QString::fromStdString(type));
    return (what + " is not supported: ecCodes gives no coordinates of its points").toStdString();
}

// The step of a regular grid from its first and last longitudes: negative
// for a grid scanned westward, 0 when the grid has no two columns. A grid
// across the antimeridian may give its last longitude in the other
// convention (170 to -170 scanned eastward spans 20 degrees).
float regularStep(long nx, double firstLon, double lastLon, bool westward, long points)
{
    double span = lastLon - firstLon;
    if (!westward && span < 0)
        span += 360.0;
    else if (westward && span > 0)
        span -= 360.0;
    return nx >= 2 && nx <= points ? static_cast<float>(span / static_cast<double>(nx - 1)) : 0.0f;
}

LowerableLimit<long> s_maxPoints(gribReader::kMaxPoints);

}  // namespace

void gribReader::setMaxPoints(long points)
{
    s_maxPoints.lower(points);
}

long gribReader::maxPoints()
{
    return s_maxPoints.get();
}

void gribReader::trim(std::string& text)
{
    gribkeys::trimTrailingBlanks(text);
}

std::vector<unsigned char> gribReader::readGz(const std::string& path, int* count)
{
    return decompressedBytes(gunzipFile(QString::fromStdString(path)), path, count);
}

std::vector<unsigned char> gribReader::readbz2(const std::string& path, int* count)
{
    return decompressedBytes(bunzip2File(QString::fromStdString(path)), path, count);
}

bool gribReader::dataConvert(const std::vector<double>& lon, const std::vector<double>& lat,
                             const std::vector<double>& values, std::vector<double>& outLon,
                             std::vector<double>& outLat, std::vector<double>& outValues,
                             const float* area, float dx, float dy, double fill)
{
    return placeOnArea(lon, lat, values, outLon, outLat, outValues, area, dx, dy, fill);
}

bool gribReader::readFile(QString fileName)
{
    GribMessages messages(fileName);
    bool complete = true;
    m_keyFacts.clear();
    m_keyTails.clear();
    for (const auto& [key, row] : CsvFileParser::getInstance()->m_ocsv)
        for (size_t at = key.find('_'); at != std::string::npos; at = key.find('_', at + 1))
            m_keyTails.insert(key.substr(at));
    m_mayRuleOut = mayRuleOut();

    // Messages are taken a batch at a time and read on every thread, their
    // handles made there too, and filed in file order; a fatal condition
    // met taking the next message ends the run after the messages before
    // it. The first message is read alone: its grid, once learnt, spares
    // the others the decoding of every point's coordinates.
    const int threads = readingThreads();
    size_t batch = 1;
    std::vector<Work> work(static_cast<size_t>(threads));
    // The batch's messages; their buffers are reused from batch to batch.
    std::vector<GribMessages::Taken> taken;
    std::vector<Reading> readings;
    std::exception_ptr ended;
    size_t messageCount = 0;
    ProgressLine progress(fileName, "messages");
    while (!ended) {
        size_t count = 0;
        try {
            for (size_t bytes = 0; count < batch && bytes < kBatchBytes; ++count) {
                if (taken.size() == count)
                    taken.emplace_back();
                if (!messages.take(taken[count]))
                    break;
                bytes += taken[count].bytes.size();
            }
        } catch (...) {
            ended = std::current_exception();
        }
        if (count == 0)
            break;
        readings.assign(count, Reading());
        const long n = static_cast<long>(count);
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads) if (n > 1)
        for (long k = 0; k < n; ++k) {
            GribMessages::Taken& t = taken[static_cast<size_t>(k)];
            Reading& r = readings[static_cast<size_t>(k)];
            if (!t.handle && !t.bytes.empty())
                t.handle = GribMessages::makeHandle(t.bytes);
            if (t.handle) {
                r = readMessage(t.handle.get(), fileName, work[static_cast<size_t>(readerThread())]);
                // ecCodes' many small blocks go back to the thread that
                // made them, unless filing needs the handle for the facts
                // of a key not yet known.
                if (r.outcome != Reading::Outcome::File || m_keyFacts.count(r.key) != 0)
                    t.handle.reset();
            } else if (!t.bytes.empty())
                r.unreadable = true;
            else
                skip(r, t.passed.toStdString(), fileName + ": " + t.passed);
        }
        try {
            for (size_t k = 0; k < count; ++k) {
                if (readings[k].unreadable)
                    messages.unreadableAt(taken[k].offset);
                ++messageCount;
                ++m_tally.units;
                if (!fileReading(std::move(readings[k]), taken[k].handle.get(), fileName))
                    complete = false;
                taken[k].handle.reset();
            }
        } catch (...) {
            ended = std::current_exception();
        }
        progress.update(messageCount, messages.fractionRead());
        batch = messages.severalAtOnce() ? kBatchMessages : 1;
    }
    progress.finish();
    if (ended)
        std::rethrow_exception(ended);
    // An input that could not be opened has said so.
    if (messages.incomplete()) {
        complete = false;
    } else if (messageCount == 0) {
        reportProblem(QString("[READGIRB] %1 holds no GRIB message").arg(fileName), KV_HERE);
        complete = false;
    }
    std::fflush(stdout);
    return complete;
}

gribReader::Reading gribReader::readMessage(grib_handle* h, const QString& fileName, Work& work)
{
    Reading r;
    try {
        // A message ecCodes cannot even name (an edition it knows only in
        // part) ends the run before anything else is asked of it.
        const bool ruledOut = m_mayRuleOut && ruledOutByPlace(h);
        const GribNames names = ruledOut ? GribNames() : readGribShortName(h, fileName);
        long points = 0;
        const Decoding decoding = checkDecoding(h, fileName, names.shortName, points, r.said);
        if (decoding != Decoding::Possible) {
            r.outcome = decoding == Decoding::Skipped ? Reading::Outcome::Pass : Reading::Outcome::Refuse;
            r.skipReason = decoding == Decoding::Skipped ? "no number of points" : "an unusable grid";
            // A GRIB 1 message without a grid description ecCodes can read
            // only as far as its product.
            long gridSection = 1, grid = 255;
            if (decoding == Decoding::Skipped && grib_get_long(h, "gridDescriptionSectionPresent", &gridSection) == 0 &&
                gridSection == 0) {
                grib_get_long(h, "gridDefinition", &grid);
                const QString why = gridlessReason(grid);
                skip(r, why.toStdString(), fileName + ": " + why);
            }
            return r;
        }
        gribkeys::need(grib_set_double(h, "missingValue", 9999.0), "setting", "missingValue", fileName);

        GribIdentity id;
        const IdentityRead identity = readGribIdentity(h, fileName, GribNaming::Conversion, names, id);
        if (identity == IdentityRead::OtherEdition)
            return r;
        if (identity == IdentityRead::NoSurface) {
            const QString why = noSurfaceReason(h);
            skip(r, why.toStdString(), QString("%1 (%2) has no surface to key it by: %3").arg(fileName, QString::fromStdString(id.shortName), why));
            return r;
        }
        r.record = recordOf(id);
        readTimesAndMember(h, fileName, r.record);
        if (ruledOut) {
            r.ruledOut = true;
            return r;
        }
        // Values (and units) are read only for messages the table keeps.
        r.key = variableKey(r.record);
        const bool kept = CsvFileParser::getInstance()->find(r.key) != nullptr;
        // Debug lines are made only for a log that keeps them.
        if (loglevel >= 3) {
            r.said.push_back({Said::Kind::Debug,
                              QString("[READGIRB] %1 %2").arg(kept ? "read" : "skip",
                                                              QString::fromStdString(r.record.factorShortName)),
                              KV_HERE});
            r.said.push_back({Said::Kind::Debug,
                              QString("[READGIRB] RE KEY %1").arg(QString::fromStdString(r.key)), KV_HERE});
        }
        if (!kept)
            return r;
        const ExactLevel exact = readExactLevel(h, id.edition, id.level);
        r.record.levelValue = exact.first;
        r.record.levelBottom = exact.second;
        r.record.stepRange = gribkeys::optionalText(h, "stepRange");
        const std::string gridType = gribkeys::optionalText(h, "gridType");
        if (placedByNearestPoint(gridType)) {
            placeByNearestPoint(r, h, fileName, gridType, points, false, work);
            return r;
        }
        const long nx = gribkeys::needLong(h, "Nx", fileName);
        gribkeys::needLong(h, "Ny", fileName);
        // A regular grid already found to match ecCodes' coordinates is
        // placed from its definition; any other grid through ecCodes'
        // coordinates, which also teach its definition.
        RegularGrid* regular = m_grids.trusted(h);
        // Once the grid is learnt, the whole field's arrays are not needed
        // again.
        bool learnt = false;
        if (!regular) {
            if (!decodeValues(h, fileName, points, work)) {
                const std::string why = unsupportedGrid(h, id.edition);
                skip(r, why, QString("%1 (%2) cannot be placed: %3").arg(fileName, QString::fromStdString(r.key), QString::fromStdString(why)));
                return r;
            }
            learnt = m_grids.learn(h, work.lons, work.lats) != nullptr;
        }
        long westward = 0;
        grib_get_long(h, "iScansNegatively", &westward);
        const std::vector<double>& lons = regular ? regular->lons : work.lons;
        const float dx = regularStep(nx, lons.front(), lons.back(), westward != 0, points);
        // A spacing of the table's other than the grid's own goes by the
        // nearest point too.
        const float given = CsvFileParser::getInstance()->m_areaStep;
        if (given > 0.0f && std::fabs(dx) != given) {
            placeByNearestPoint(r, h, fileName, gridType, points, !regular, work);
            return r;
        }
        if (regular) {
            cutToArea(
                r, dx, fileName,
                [&](const AreaGrid& area, std::vector<double>& out) {
                    return m_grids.place(h, *regular, area, fileName, work.values, out);
                },
                [&] { return extentOf(regular->lons, regular->lats); });
        } else {
            cutToArea(
                r, dx, fileName,
                [&](const AreaGrid& area, std::vector<double>& out) {
                    return area.place(work.lons, work.lats, work.values, out);
                },
                [&] { return extentOf(work.lons, work.lats); });
            if (learnt)
                work = Work();
        }
    } catch (...) {
        r.fatal = std::current_exception();
    }
    return r;
}

bool gribReader::mayRuleOut() const
{
    return m_tally.keys.size() >= InputTally::kKeysKept && loglevel < 3;
}

bool gribReader::ruledOutByPlace(grib_handle* h) const
{
    long edition = 0;
    if (grib_get_long(h, "editionNumber", &edition) != 0 || (edition != 1 && edition != 2))
        return false;
    std::string surface;
    if (edition == 2) {
        if (grib_is_defined(h, "typeOfFirstFixedSurface") == 0 || grib_is_defined(h, "level") == 0 ||
            gribkeys::getText(h, "nameOfFirstFixedSurface", surface) != 0)
            return false;
        CsvFileParser::trimString(surface);
    }
    if (m_keyTails.count("_" + surface + "_" + gribkeys::optionalText(h, "indicatorOfTypeOfLevel")) != 0)
        return false;
    long points = 0, rows = 0, columns = 0;
    return gribkeys::gridFault(h, maxPoints(), points, rows, columns) == gribkeys::GridFault::None;
}

gribReader::KeyFacts gribReader::readKeyFacts(grib_handle* h, const QString& fileName, const std::string& name)
{
    KeyFacts facts;
    facts.name = name;
    if (facts.name.empty()) {
        facts.name = gribkeys::needText(h, "name", fileName);
        gribkeys::trimTrailingBlanks(facts.name);
    }
    facts.units = gribkeys::needText(h, "units", fileName);
    // "unknown" when the quantity has none.
    facts.standardName = gribkeys::optionalText(h, "cfName");
    return facts;
}

void gribReader::skip(Reading& r, const std::string& reason, const QString& line)
{
    r.outcome = Reading::Outcome::Skip;
    r.skipReason = reason;
    r.skipLine = line;
}

bool gribReader::fileReading(Reading reading, grib_handle* h, const QString& fileName)
{
    for (const Said& said : reading.said) {
        if (said.kind == Said::Kind::Problem)
            reportProblem(said.text, said.where);
        else if (said.kind == Said::Kind::Trace)
            std::printf("%s\n", said.text.toLocal8Bit().constData());
        else
            QLogger::getInstance()->printDebug(said.text, said.where.file, said.where.function, said.where.line);
    }
    if (!reading.key.empty() || reading.ruledOut) {
        raiseRunTimesAndMembers(reading.record);
        m_tally.offered(reading.key);
        m_mayRuleOut = mayRuleOut();
    }
    if (reading.fatal)
        std::rethrow_exception(reading.fatal);
    if (!reading.skipReason.empty() && m_tally.skipped(reading.skipReason) && !reading.skipLine.isEmpty())
        reportProblem(QString("[READGIRB] %1; the message is skipped, and further ones for this reason are counted "
                              "in the summary")
                          .arg(reading.skipLine),
                      KV_HERE);
    if (m_tally.missedGrid.empty())
        m_tally.missedGrid = reading.gridExtent;
    if (reading.outcome != Reading::Outcome::File)
        return reading.outcome != Reading::Outcome::Refuse;
    std::fflush(stdout);
    // Concepts cost ecCodes a search of its tables on every read: what is
    // the same for every message of a key is read from its first filed.
    auto known = m_keyFacts.find(reading.key);
    if (known == m_keyFacts.end())
        known = m_keyFacts.emplace(reading.key, readKeyFacts(h, fileName, reading.record.factorLongName)).first;
    const KeyFacts& facts = known->second;
    reading.record.factorLongName = facts.name;
    reading.record.prop_units = facts.units;
    reading.record.prop_standardName = facts.standardName;
    reading.record.isFi = false;
    file(std::move(reading.record));
    return true;
}

gribReader::Decoding gribReader::checkDecoding(grib_handle* h, const QString& fileName, std::string shortName,
                                               long& points, std::vector<Said>& said)
{
    gribkeys::trimTrailingBlanks(shortName);
    const QString qShortName = QString::fromStdString(shortName);
    long rows = 0, columns = 0;
    QString problem;
    switch (gribkeys::gridFault(h, maxPoints(), points, rows, columns)) {
    case gribkeys::GridFault::None:
        return Decoding::Possible;
    case gribkeys::GridFault::NoPointCount:
        said.push_back({Said::Kind::Trace, "lalal", KV_HERE});
        return Decoding::Skipped;
    case gribkeys::GridFault::EmptyReducedRow:
        problem = QString("[READGIRB] %1 in %2 has a reduced grid with a row of no points; the message is skipped")
                      .arg(qShortName, fileName);
        break;
    case gribkeys::GridFault::PointCount:
        problem =
            QString("[READGIRB] %1 in %2 has %3 points; the message is skipped").arg(qShortName, fileName).arg(points);
        break;
    case gribkeys::GridFault::Dimensions:
        problem = QString("[READGIRB] %1 in %2 has a grid of %3 x %4 but %5 points; the message is skipped")
                      .arg(qShortName, fileName)
                      .arg(columns)
                      .arg(rows)
                      .arg(points);
        break;
    }
    said.push_back({Said::Kind::Problem, problem, KV_HERE});
    return Decoding::Refused;
}

bool gribReader::decodeValues(grib_handle* h, const QString& fileName, long points, Work& work)
{
    const size_t n = static_cast<size_t>(points);
    work.lats.resize(n);
    work.lons.resize(n);
    work.values.resize(n);
    const int err = grib_get_data(h, work.lats.data(), work.lons.data(), work.values.data());
    if (err == 0)
        return true;
    // A grid ecCodes has no coordinates for is passed over; values it cannot
    // decode end the run.
    int iteratorError = 0;
    grib_iterator* iterator = grib_iterator_new(h, 0, &iteratorError);
    if (!iterator)
        return false;
    grib_iterator_delete(iterator);
    gribkeys::need(err, "decoding", "values", fileName);
    return true;
}

void gribReader::cutToArea(Reading& r, float dx, const QString& fileName, const Placement& place,
                           const std::function<std::string()>& extent)
{
    // A grid scanned westward has a negative step; its cells are the same.
    const float step = std::fabs(dx);
    AreaGrid area;
    if (!(step > 0.0f) || !std::isfinite(step) || !area.define(CsvFileParser::getInstance()->m_area, step, step)) {
        refuseStep(r, fileName, dx);
        return;
    }
    area.start(r.record.lon, r.record.lat, r.record.data, r.record.prop_fillValue);
    // A field none of whose points falls on the area is no field.
    if (place(area, r.record.data) == 0) {
        skipOutside(r, extent());
        return;
    }
    r.record.dimDx = spacingCodeOf(step);
    r.outcome = Reading::Outcome::File;
}

void gribReader::placeByNearestPoint(Reading& r, grib_handle* h, const QString& fileName,
                                     const std::string& gridType, long points, bool decoded, Work& work)
{
    const CsvFileParser* table = CsvFileParser::getInstance();
    const auto decode = [&] {
        if (!decoded)
            decoded = decodeValues(h, fileName, points, work);
        return decoded;
    };
    const GribNearestGrids::Placed placed = m_nearest.placementOf(h, gridType, table->m_area, table->m_areaStep, decode, work);
    // The coordinates of every point are needed once per grid only.
    work.lons = std::vector<double>();
    work.lats = std::vector<double>();
    if (!placed.placement) {
        const std::string why = unsupportedGrid(h, r.record.gribEdition);
        skip(r, why, QString("%1 (%2) cannot be placed: %3").arg(fileName, QString::fromStdString(r.key), QString::fromStdString(why)));
        return;
    }
    const GridPlacementByPoints& placement = *placed.placement;
    if (placement.map.area().columns() == 0) {
        refuseStep(r, fileName, placement.step);
        return;
    }
    if (placement.map.inside() == 0) {
        skipOutside(r, placement.extent);
        return;
    }
    if (!decoded)
        gribkeys::need(decodeValuesOnly(h, points, work.values), "decoding", "values", fileName);
    placement.map.area().axes(r.record.lon, r.record.lat);
    placement.map.gather(work.values, r.record.prop_fillValue, r.record.data);
    r.record.dimDx = spacingCodeOf(placement.step);
    r.record.sourceGridType = placement.gridType;
    r.outcome = Reading::Outcome::File;
}

void gribReader::refuseStep(Reading& r, const QString& fileName, float dx)
{
    r.said.push_back({Said::Kind::Problem,
                      QString("[READGIRB] %1 in %2 cannot be placed on the table's area (step %3 degrees); "
                              "the message is skipped")
                          .arg(QString::fromStdString(r.key), fileName)
                          .arg(static_cast<double>(dx)),
                      KV_HERE});
    r.outcome = Reading::Outcome::Refuse;
    r.skipReason = "an unusable grid";
}

void gribReader::skipOutside(Reading& r, const std::string& extent)
{
    r.record = p_data();
    r.outcome = Reading::Outcome::Skip;
    r.skipReason = kOutsideArea;
    r.gridExtent = extent;
}

bool gribReader::fileProbe(QString fileName, QString tableFile)
{
    return writeGribProbeTable(fileName, tableFile, m_prob);
}
