#include "readers/gribreader.h"

#include "logging/fatal.h"
#include "logging/qlogger.h"
#include "readers/compressed.h"
#include "readers/gribidentity.h"
#include "readers/gribkeys.h"
#include "readers/gribmessages.h"
#include "table/csvfileparser.h"
#include "table/tableformat.h"

#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Fields of a generated table cannot hold the separator.
QString tableField(const std::string& text)
{
    QString field = QString::fromStdString(text);
    field.replace(',', ' ');
    return field;
}

void logDebug(const QString& message)
{
    KV_LOG_DEBUG(message);
}

// The bytes of a decompressed file, for readGz and readbz2.
std::vector<unsigned char> decompressedBytes(Decompressed d, const std::string& path, int* count)
{
    if (count)
        *count = d.reads;
    if (!d.opened)
        KV_LOG_ERROR(QString("[READGIRB] open failed %1").arg(QString::fromStdString(path)));
    return std::move(d.bytes);
}

// The record of a message, without its times, values and units.
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

// The analysis and forecast times, fill value and member of a message, which
// raise the run's forecast time and member count.
void readTimesAndMember(grib_handle* h, const QString& fileName, p_data& record)
{
    record.prop_initial_time =
        gribkeys::needText(h, "dataDate", fileName) + gribkeys::needText(h, "dataTime", fileName);

    long forecastTime = -1;
    if (grib_get_long(h, "forecastTime", &forecastTime) != 0 || forecastTime < 0)
        forecastTime = -1;
    record.forecastTime = forecastTime;
    g_forcastTime = std::max<int64_t>(g_forcastTime, forecastTime);

    double missing = 0;
    record.prop_fillValue = grib_get_double(h, "missingValue", &missing) == 0 ? static_cast<float>(missing) : 1e20f;

    long member = 0;
    if (grib_get_long(h, "perturbationNumber", &member) != 0)
        member = 0;
    record.perturbationNumber = member;
    // Only members the store can hold count towards the slots in use.
    if (member >= 0 && member < kMemberSlots)
        g_collect_number = std::max<int32_t>(g_collect_number, static_cast<int32_t>(member));
}

void tableFailure(const QString& tableFile)
{
    std::printf("read vexa.csv file failure:%s\n", tableFile.toLocal8Bit().constData());
    std::fflush(stdout);
}

}  // namespace

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
    bool complete = !messages.incomplete();

    size_t messageCount = 0;
    while (GribHandle h = messages.next()) {
        ++messageCount;
        ++m_tally.units;
        if (!readMessage(h.get(), fileName))
            complete = false;
    }
    if (messageCount == 0 && !messages.incomplete()) {
        reportProblem(QString("[READGIRB] %1 holds no GRIB message").arg(fileName), KV_HERE);
        complete = false;
    }
    std::fflush(stdout);
    return complete;
}

bool gribReader::readMessage(grib_handle* h, const QString& fileName)
{
    // A message ecCodes cannot even name (an edition it knows only in part)
    // ends the run before anything else is asked of it.
    gribkeys::needText(h, "name", fileName);
    long points = 0;
    const Decoding decoding = checkDecoding(h, fileName, points);
    if (decoding != Decoding::Possible)
        return decoding == Decoding::Skipped;
    gribkeys::need(grib_set_double(h, "missingValue", 9999.0), "setting", "missingValue", fileName);

    GribIdentity id;
    if (!readGribIdentity(h, fileName, GribNaming::Conversion, id))
        return true;
    const long nx = gribkeys::needLong(h, "Nx", fileName);
    gribkeys::needLong(h, "Ny", fileName);
    p_data record = recordOf(id);
    readTimesAndMember(h, fileName, record);
    // Values are decoded only for messages the table keeps.
    if (!wanted(record)) {
        gribkeys::needText(h, "units", fileName);
        return true;
    }
    // A concept key, read only for kept messages: "unknown" when it has none.
    record.prop_standardName = gribkeys::optionalText(h, "cfName");
    // A regular grid already found to match ecCodes' coordinates is placed
    // from its definition; any other grid through ecCodes' coordinates,
    // which also teach its definition.
    RegularGrid* regular = m_grids.trusted(h);
    if (!regular) {
        decodeValues(h, fileName, points);
        m_grids.learn(h, m_lons, m_lats);
    }
    record.prop_units = gribkeys::needText(h, "units", fileName);
    if (!regular)
        return fileOnArea(std::move(record), nx, m_lons.front(), m_lons.back(), points, fileName,
                          [&](const AreaGrid& area, std::vector<double>& out) {
                              area.place(m_lons, m_lats, m_values, out);
                          });
    return fileOnArea(std::move(record), nx, regular->lons.front(), regular->lons.back(), points, fileName,
                      [&](const AreaGrid& area, std::vector<double>& out) {
                          placeRegular(h, *regular, area, fileName, m_values, out);
                      });
}

gribReader::Decoding gribReader::checkDecoding(grib_handle* h, const QString& fileName, long& points)
{
    std::string shortName = gribkeys::optionalText(h, "shortName");
    gribkeys::trimTrailingBlanks(shortName);
    const QString qShortName = QString::fromStdString(shortName);
    if (gribkeys::hasEmptyReducedRow(h)) {
        reportProblem(QString("[READGIRB] %1 in %2 has a reduced grid with a row of no points; the message is "
                              "skipped")
                          .arg(qShortName, fileName),
                      KV_HERE);
        return Decoding::Refused;
    }
    if (grib_get_long(h, "numberOfPoints", &points) != 0) {
        std::printf("lalal\n");
        return Decoding::Skipped;
    }
    if (points < 1 || points > kMaxPoints) {
        reportProblem(
            QString("[READGIRB] %1 in %2 has %3 points; the message is skipped").arg(qShortName, fileName).arg(points),
            KV_HERE);
        return Decoding::Refused;
    }
    // ecCodes sizes its coordinate arrays by the grid's rows and columns
    // before it compares them with the number of points, and steps through
    // a grid of no rows or columns past its arrays.
    const long rows = gribkeys::gridDimension(h, "Nj"), columns = gribkeys::gridDimension(h, "Ni");
    if (rows == 0 || columns == 0 || rows > points || columns > points) {
        reportProblem(QString("[READGIRB] %1 in %2 has a grid of %3 x %4 but %5 points; the message is skipped")
                          .arg(qShortName, fileName)
                          .arg(columns)
                          .arg(rows)
                          .arg(points),
                      KV_HERE);
        return Decoding::Refused;
    }
    return Decoding::Possible;
}

void gribReader::decodeValues(grib_handle* h, const QString& fileName, long points)
{
    const size_t n = static_cast<size_t>(points);
    m_lats.resize(n);
    m_lons.resize(n);
    m_values.resize(n);
    gribkeys::need(grib_get_data(h, m_lats.data(), m_lons.data(), m_values.data()), "decoding", "values", fileName);
}

bool gribReader::wanted(const p_data& record)
{
    const std::string key = variableKey(record);
    m_tally.offered(key);
    const bool kept = CsvFileParser::getInstance()->find(key) != nullptr;
    logDebug(QString("[READGIRB] %1 %2").arg(kept ? "read" : "skip", QString::fromStdString(record.factorShortName)));
    logDebug(QString("[READGIRB] RE KEY %1").arg(QString::fromStdString(key)));
    return kept;
}

bool gribReader::fileOnArea(p_data record, long nx, double firstLon, double lastLon, long points,
                            const QString& fileName, const Placement& place)
{
    const float dx =
        nx >= 2 && nx <= points ? static_cast<float>((lastLon - firstLon) / static_cast<double>(nx - 1)) : 0.0f;
    // A grid scanned westward has a negative step; its cells are the same.
    const float step = std::fabs(dx);
    AreaGrid area;
    if (!(step > 0.0f) || !std::isfinite(step) || !area.define(CsvFileParser::getInstance()->m_area, step, step)) {
        const QString message = QString("[READGIRB] %1 in %2 cannot be placed on the table's area (step %3 degrees); "
                                        "the message is skipped")
                                    .arg(QString::fromStdString(variableKey(record)), fileName)
                                    .arg(static_cast<double>(dx));
        KV_LOG_ERROR(message);
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        return false;
    }
    area.start(record.lon, record.lat, record.data, record.prop_fillValue);
    place(area, record.data);
    record.dimDx = spacingCodeOf(step);
    std::fflush(stdout);
    record.isFi = false;
    insertRecord(std::move(record), m_cache);
    return true;
}

bool gribReader::fileProbe(QString fileName, QString tableFile)
{
    const bool whole = probeMessages(fileName);
    if (!writeTable(tableFile))
        return false;
    if (!whole) {
        std::fprintf(stderr, "%s could not be read whole; the table lists what was read\n",
                     fileName.toLocal8Bit().constData());
        return false;
    }
    return true;
}

bool gribReader::probeMessages(const QString& fileName)
{
    GribMessages messages(fileName);
    std::printf("lala%d\n", messages.traceNumber());

    while (GribHandle h = messages.next()) {
        GribIdentity id;
        if (!readGribIdentity(h.get(), fileName, GribNaming::Table, id))
            continue;
        prob_data p;
        p.factorShortName = id.shortName;
        p.factorLongName = id.name;
        p.nameOfFirstFixedSurface = id.surface;
        p.units = gribkeys::needText(h.get(), "units", fileName);
        p.indicatorOfTypeOfLevel = id.levelType;
        p.leves = static_cast<int32_t>(id.level);
        // Grouped by short name, blanks removed at both ends, and surface.
        std::string group = id.shortName;
        CsvFileParser::trimString(group);
        m_prob[group + "_" + p.nameOfFirstFixedSurface].push_back(std::move(p));
    }
    std::fflush(stdout);
    return !messages.incomplete();
}

bool gribReader::writeTable(const QString& tableFile) const
{
    // Written through a save file: an existing table is replaced only by a
    // complete new one.
    QSaveFile file(tableFile);
    if (!file.open(QIODevice::WriteOnly)) {
        tableFailure(tableFile);
        return false;
    }
    QTextStream out(&file);
    out.setCodec("UTF-8");
    tableformat::writeHeader(out, ",0,grib,2.0,,,,,,,", ",,,,", "80,137,12,60,,,,");
    for (const auto& [key, group] : m_prob) {
        const prob_data& p = group.front();
        QStringList levels;
        for (const prob_data& entry : group)
            levels << QString::number(entry.leves);
        const QStringList row = {
            tableField(p.factorShortName), tableField(p.factorLongName),
            tableField(p.nameOfFirstFixedSurface), tableField(p.indicatorOfTypeOfLevel),
            QString(), QString(), QString(), "0", "0",
            tableField(p.factorShortName), tableField(p.factorLongName), tableField(p.units),
            QString(), QString(), levels.join(";"), "0", "1",
        };
        out << row.join(",") << "\n";
    }
    out.flush();
    if (out.status() != QTextStream::Ok || !file.commit()) {
        tableFailure(tableFile);
        return false;
    }
    return true;
}
