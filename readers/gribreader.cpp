#include "readers/gribreader.h"

#include "logging/fatal.h"
#include "logging/qlogger.h"
#include "readers/compressed.h"
#include "readers/gribmessages.h"
#include "table/csvfileparser.h"
#include "table/tableformat.h"

#include <QSaveFile>
#include <QTextStream>

#include <grib_api.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A key read that must succeed: a failure ends the process with ecCodes'
// message naming the key.
void need(int err, const char* what, const char* key, const QString& fileName)
{
    if (err != 0)
        throw FatalError(255,
                         QString("ecCodes: %1 \"%2\" failed: %3")
                             .arg(what, key, QString::fromLatin1(grib_get_error_message(err))),
                         KV_HERE, "file: " + fileName);
}

// A text key of any length.
int getText(grib_handle* h, const char* key, std::string& out)
{
    std::vector<char> buffer(128);
    for (int attempt = 0; attempt < 4; ++attempt) {
        size_t length = buffer.size();
        const int err = grib_get_string(h, key, buffer.data(), &length);
        if (err == GRIB_BUFFER_TOO_SMALL || err == GRIB_ARRAY_TOO_SMALL) {
            size_t needed = 0;
            if (grib_get_length(h, key, &needed) != 0 || needed < buffer.size())
                needed = buffer.size();
            buffer.resize(needed * 2 + 1);
            continue;
        }
        if (err != 0) {
            out.clear();
            return err;
        }
        out.assign(buffer.data(), strnlen(buffer.data(), std::min(length, buffer.size())));
        return 0;
    }
    out.clear();
    return GRIB_BUFFER_TOO_SMALL;
}

std::string needText(grib_handle* h, const char* key, const QString& fileName)
{
    std::string value;
    need(getText(h, key, value), "reading", key, fileName);
    return value;
}

std::string optionalText(grib_handle* h, const char* key)
{
    std::string value;
    getText(h, key, value);
    return value;
}

// A grid's number of rows or columns; -1 when the message has none (a
// reduced grid's missing Ni, spectral data).
long gridDimension(grib_handle* h, const char* key)
{
    int err = 0;
    long value = 0;
    if (grib_is_missing(h, key, &err) != 0 || err != 0 || grib_get_long(h, key, &value) != 0)
        return -1;
    return value;
}

// Whether a reduced grid lists a row of no points: ecCodes divides the
// circle by each row's count when it counts the points, and aborts on zero.
bool hasEmptyReducedRow(grib_handle* h)
{
    size_t rows = 0;
    if (grib_get_size(h, "pl", &rows) != 0 || rows == 0)
        return false;
    std::vector<long> pl(rows);
    if (grib_get_long_array(h, "pl", pl.data(), &rows) != 0)
        return false;
    return std::any_of(pl.begin(), pl.begin() + static_cast<std::ptrdiff_t>(std::min(rows, pl.size())),
                       [](long n) { return n <= 0; });
}

long needLong(grib_handle* h, const char* key, const QString& fileName)
{
    long value = 0;
    need(grib_get_long(h, key, &value), "reading", key, fileName);
    return value;
}

std::string withoutWhiteSpace(const std::string& text)
{
    std::string out;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            out += c;
    return out;
}

std::string trimmedBothEnds(std::string text)
{
    CsvFileParser::trimString(text);
    return text;
}

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

}  // namespace

void gribReader::trim(std::string& text)
{
    const size_t last = text.find_last_not_of(' ');
    text.erase(last == std::string::npos ? 0 : last + 1);
}

std::vector<unsigned char> gribReader::readGz(const std::string& path, int* count)
{
    Decompressed d = gunzipFile(QString::fromStdString(path));
    if (count)
        *count = d.reads;
    if (!d.opened)
        KV_LOG_ERROR(QString("[READGIRB] open failed %1").arg(QString::fromStdString(path)));
    return std::move(d.bytes);
}

std::vector<unsigned char> gribReader::readbz2(const std::string& path, int* count)
{
    Decompressed d = bunzip2File(QString::fromStdString(path));
    if (count)
        *count = d.reads;
    if (!d.opened)
        KV_LOG_ERROR(QString("[READGIRB] open failed %1").arg(QString::fromStdString(path)));
    return std::move(d.bytes);
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
    CsvFileParser* table = CsvFileParser::getInstance();
    GribMessages messages(fileName);
    bool complete = !messages.incomplete();

    size_t messageCount = 0;
    while (GribHandle h = messages.next()) {
        ++messageCount;
        ++m_tally.units;
        p_data record;

        std::string name = needText(h.get(), "name", fileName);
        trim(name);
        const std::string parameterName = optionalText(h.get(), "parameterName");
        std::string shortName = optionalText(h.get(), "shortName");
        trim(shortName);

        if (hasEmptyReducedRow(h.get())) {
            reportProblem(QString("[READGIRB] %1 in %2 has a reduced grid with a row of no points; the message is "
                                  "skipped")
                              .arg(QString::fromStdString(shortName), fileName),
                          KV_HERE);
            complete = false;
            continue;
        }
        long numberOfPoints = 0;
        if (grib_get_long(h.get(), "numberOfPoints", &numberOfPoints) != 0) {
            std::printf("lalal\n");
            continue;
        }
        if (numberOfPoints < 1 || numberOfPoints > kMaxPoints) {
            reportProblem(QString("[READGIRB] %1 in %2 has %3 points; the message is skipped")
                              .arg(QString::fromStdString(shortName), fileName)
                              .arg(numberOfPoints),
                          KV_HERE);
            complete = false;
            continue;
        }
        // ecCodes sizes its coordinate arrays by the grid's rows and columns
        // before it compares them with the number of points, and steps
        // through a grid of no rows or columns past its arrays.
        const long rows = gridDimension(h.get(), "Nj"), columns = gridDimension(h.get(), "Ni");
        if (rows == 0 || columns == 0 || rows > numberOfPoints || columns > numberOfPoints) {
            reportProblem(QString("[READGIRB] %1 in %2 has a grid of %3 x %4 but %5 points; the message is skipped")
                              .arg(QString::fromStdString(shortName), fileName)
                              .arg(columns)
                              .arg(rows)
                              .arg(numberOfPoints),
                          KV_HERE);
            complete = false;
            continue;
        }

        need(grib_set_double(h.get(), "missingValue", 9999.0), "setting", "missingValue", fileName);

        const long edition = needLong(h.get(), "editionNumber", fileName);
        const std::string levelType = optionalText(h.get(), "indicatorOfTypeOfLevel");
        std::string surface;
        if (edition == 2) {
            surface = needText(h.get(), "nameOfFirstFixedSurface", fileName);
            trim(surface);
        } else if (edition == 1) {
            record.prop_level_indicator =
                static_cast<int32_t>(needLong(h.get(), "indicatorOfTypeOfLevel", fileName));
        } else {
            continue;
        }

        needText(h.get(), "level", fileName);
        const long level = needLong(h.get(), "level", fileName);
        const long nx = needLong(h.get(), "Nx", fileName);
        needLong(h.get(), "Ny", fileName);

        record.prop_initial_time =
            needText(h.get(), "dataDate", fileName) + needText(h.get(), "dataTime", fileName);

        long forecastTime = -1;
        if (grib_get_long(h.get(), "forecastTime", &forecastTime) != 0 || forecastTime < 0)
            forecastTime = -1;
        record.forecastTime = forecastTime;
        g_forcastTime = std::max<int64_t>(g_forcastTime, forecastTime);

        double missing = 0;
        record.prop_fillValue =
            grib_get_double(h.get(), "missingValue", &missing) == 0 ? static_cast<float>(missing) : 1e20f;

        long member = 0;
        if (grib_get_long(h.get(), "perturbationNumber", &member) != 0)
            member = 0;
        record.perturbationNumber = member;
        // Only members the store can hold count towards the slots in use.
        if (member >= 0 && member < kMemberSlots)
            g_collect_number = std::max<int32_t>(g_collect_number, static_cast<int32_t>(member));

        const size_t n = static_cast<size_t>(numberOfPoints);
        m_lats.resize(n);
        m_lons.resize(n);
        m_values.resize(n);
        need(grib_get_data(h.get(), m_lats.data(), m_lons.data(), m_values.data()), "decoding",
             "values", fileName);
        record.prop_units = needText(h.get(), "units", fileName);

        record.factorShortName = shortName;
        record.factorLongName = name;
        record.level = static_cast<int32_t>(level);
        record.typedoflevels = levelType;
        record.readout = false;
        record.gribEdition = static_cast<int32_t>(edition);
        record.nameOfFirstFixedSurface = trimmedBothEnds(surface);
        if (name == "unknown") {
            record.factorShortName = withoutWhiteSpace(parameterName);
            record.factorLongName = record.factorShortName;
        }

        const std::string key = variableKey(record);
        m_tally.offered(key);
        const QString qShortName = QString::fromStdString(record.factorShortName);
        const QString qKey = QString::fromStdString(key);
        if (!table->find(key)) {
            logDebug(QString("[READGIRB] skip %1").arg(qShortName));
            logDebug(QString("[READGIRB] RE KEY %1").arg(qKey));
            continue;
        }
        logDebug(QString("[READGIRB] read %1").arg(qShortName));
        logDebug(QString("[READGIRB] RE KEY %1").arg(qKey));

        const float dx = nx >= 2 && nx <= numberOfPoints
                             ? static_cast<float>((m_lons[n - 1] - m_lons[0]) / static_cast<double>(nx - 1))
                             : 0.0f;
        // A grid scanned westward has a negative step; its cells are the same.
        const float step = std::fabs(dx);
        if (!(step > 0.0f) || !std::isfinite(step) ||
            !dataConvert(m_lons, m_lats, m_values, record.lon, record.lat, record.data, table->m_area,
                         step, step, record.prop_fillValue)) {
            const QString message =
                QString("[READGIRB] %1 in %2 cannot be placed on the table's area (step %3 degrees); "
                        "the message is skipped")
                    .arg(qKey, fileName)
                    .arg(static_cast<double>(dx));
            KV_LOG_ERROR(message);
            std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
            complete = false;
            continue;
        }
        record.dimDx = spacingCodeOf(step);
        std::fflush(stdout);
        record.isFi = false;
        insertRecord(std::move(record), m_cache);
    }
    if (messageCount == 0 && !messages.incomplete()) {
        reportProblem(QString("[READGIRB] %1 holds no GRIB message").arg(fileName), KV_HERE);
        complete = false;
    }
    std::fflush(stdout);
    return complete;
}

bool gribReader::fileProbe(QString fileName, QString tableFile)
{
    GribMessages messages(fileName);
    std::printf("lala%d\n", messages.traceNumber());

    while (GribHandle h = messages.next()) {
        std::string shortName = optionalText(h.get(), "shortName");
        trim(shortName);
        std::string name = needText(h.get(), "name", fileName);
        std::printf("name:%s\n", name.c_str());
        trim(name);

        const long edition = needLong(h.get(), "editionNumber", fileName);
        const std::string parameterName = optionalText(h.get(), "parameterName");
        std::string surface;
        if (edition == 2) {
            surface = needText(h.get(), "nameOfFirstFixedSurface", fileName);
            trim(surface);
        }
        const std::string levelType = optionalText(h.get(), "indicatorOfTypeOfLevel");
        needText(h.get(), "level", fileName);
        const long level = needLong(h.get(), "level", fileName);

        if (name == "unknown" || name.empty()) {
            shortName = withoutWhiteSpace(parameterName);
            std::printf("pname:%s\n", parameterName.c_str());
        }

        prob_data p;
        p.factorShortName = shortName;
        p.factorLongName = name;
        p.nameOfFirstFixedSurface = edition == 2 ? trimmedBothEnds(surface) : std::string();
        p.units = needText(h.get(), "units", fileName);
        p.indicatorOfTypeOfLevel = levelType;
        p.leves = static_cast<int32_t>(level);

        m_prob[trimmedBothEnds(shortName) + "_" + p.nameOfFirstFixedSurface].push_back(std::move(p));
    }
    std::fflush(stdout);

    // Written through a save file: an existing table is replaced only by a
    // complete new one.
    QSaveFile file(tableFile);
    if (!file.open(QIODevice::WriteOnly)) {
        std::printf("read vexa.csv file failure:%s\n", tableFile.toLocal8Bit().constData());
        std::fflush(stdout);
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
        std::printf("read vexa.csv file failure:%s\n", tableFile.toLocal8Bit().constData());
        std::fflush(stdout);
        return false;
    }
    if (messages.incomplete()) {
        std::fprintf(stderr, "%s could not be read whole; the table lists what was read\n",
                     fileName.toLocal8Bit().constData());
        return false;
    }
    return true;
}
