#include "readers/gribprobe.h"

#include "model/levels.h"
#include "readers/gribbounds.h"
#include "readers/gribidentity.h"
#include "readers/gribkeys.h"
#include "readers/gribmessages.h"
#include "readers/gribreader.h"
#include "table/csvfileparser.h"
#include "table/tableformat.h"

#include <QSaveFile>
#include <QStringList>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

namespace {

// The area of a table whose file gives none of its own.
const char* const kFixedArea = "80,137,12,60,,,,";

// Messages of one short name left out of the table for one reason.
struct LeftOut {
    std::string shortName;
    QString reason;
    long messages = 0;
};

// What a pass over the file found besides its messages.
struct Scan {
    bool whole = true;
    QString areaRow;  // empty until a message is listed
    std::vector<LeftOut> leftOut;
};

// Fields of a generated table cannot hold the separator.
QString tableField(const std::string& text)
{
    QString field = QString::fromStdString(text);
    field.replace(',', ' ');
    return field;
}

void tableFailure(const QString& tableFile)
{
    std::printf("read vexa.csv file failure:%s\n", tableFile.toLocal8Bit().constData());
    std::fflush(stdout);
}

// The area row of the grid of `h`, the table's first listed message.
QString areaRowOf(grib_handle* h, const QString& fileName)
{
    GridBounds b;
    if (readGridBounds(h, gribReader::maxPoints(), b)) {
        // The spacing a grid placed by the nearest point would be given.
        const std::string type = gribkeys::optionalText(h, "gridType");
        const float step = placedByNearestPoint(type) ? areaSpacing(h, type) : 0.0f;
        return QStringList({tableformat::numberText(b.lon0), tableformat::numberText(b.lon1),
                            tableformat::numberText(b.lat0), tableformat::numberText(b.lat1),
                            step > 0.0f ? tableformat::numberText(step) : QString()})
                   .join(",") +
               ",,,";
    }
    std::fprintf(stderr, "%s: ecCodes gives no coordinates of the grid (%s) of the first message listed; the table "
                         "keeps the area %s\n",
                 fileName.toLocal8Bit().constData(), gribkeys::optionalText(h, "gridType").c_str(),
                 QString(kFixedArea).section(',', 0, 3).toLocal8Bit().constData());
    return kFixedArea;
}

void leaveOut(std::vector<LeftOut>& leftOut, const std::string& shortName, const QString& reason)
{
    for (LeftOut& l : leftOut)
        if (l.shortName == shortName && l.reason == reason) {
            ++l.messages;
            return;
        }
    leftOut.push_back({shortName, reason, 1});
}

void sayLeftOut(const QString& fileName, const std::vector<LeftOut>& leftOut)
{
    for (const LeftOut& l : leftOut)
        std::fprintf(stderr, "%s: %ld %s of %s (%s) %s left out of the table\n", fileName.toLocal8Bit().constData(),
                     l.messages, l.messages == 1 ? "message" : "messages", l.shortName.c_str(),
                     l.reason.toLocal8Bit().constData(), l.messages == 1 ? "is" : "are");
}

prob_data probeOf(grib_handle* h, const QString& fileName, const GribIdentity& id, bool firstOfRow)
{
    prob_data p;
    p.factorShortName = id.shortName;
    p.factorLongName = id.name;
    p.nameOfFirstFixedSurface = id.surface;
    p.units = gribkeys::needText(h, "units", fileName);
    p.indicatorOfTypeOfLevel = id.levelType;
    if (firstOfRow)
        p.typeOfLevel = gribkeys::optionalText(h, "typeOfLevel");
    p.leves = static_cast<int32_t>(id.level);
    const ExactLevel exact = readExactLevel(h, id.edition, id.level);
    p.levelValue = exact.first;
    p.levelBottom = exact.second;
    return p;
}

// Files every message the table can describe under its variable key.
Scan scanMessages(const QString& fileName, probeData& groups)
{
    GribMessages messages(fileName);
    std::printf("lala%d\n", messages.traceNumber());

    Scan scan;
    while (GribHandle h = messages.next()) {
        GribIdentity id;
        const IdentityRead read = readGribIdentity(h.get(), fileName, GribNaming::Table, id);
        if (read == IdentityRead::NoSurface)
            leaveOut(scan.leftOut, id.shortName, noSurfaceReason(h.get()));
        if (read != IdentityRead::Read)
            continue;
        if (scan.areaRow.isEmpty())
            scan.areaRow = areaRowOf(h.get(), fileName);
        std::string shortName = id.shortName;
        CsvFileParser::trimString(shortName);
        std::vector<prob_data>& row = groups[variableKey(shortName, id.surface, id.levelType)];
        row.push_back(probeOf(h.get(), fileName, id, row.empty()));
    }
    std::fflush(stdout);
    scan.whole = !messages.incomplete();
    return scan;
}

// A row's levels: each message named by its exact level (model/levels.h),
// each value once, in order of first appearance.
QString levelList(const std::vector<prob_data>& row)
{
    std::vector<ExactLevel> levels;
    for (const prob_data& p : row) {
        const ExactLevel level = exactLevelOf(p.levelValue, p.levelBottom, p.leves);
        if (std::find(levels.begin(), levels.end(), level) == levels.end())
            levels.push_back(level);
    }
    const bool byMiddle = layersNamedByMiddle(levels);
    std::vector<float> listed;
    QStringList texts;
    for (const ExactLevel& level : levels) {
        const double value = listedValueOf(level, byMiddle);
        if (std::find(listed.begin(), listed.end(), static_cast<float>(value)) != listed.end())
            continue;
        listed.push_back(static_cast<float>(value));
        texts << tableformat::numberText(value);
    }
    return texts.join(";");
}

// netCDF names hold no "/", control characters, blanks or commas.
std::string netcdfName(std::string name)
{
    CsvFileParser::trimString(name);
    for (char& c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == ' ' || c == '/' || c == ',')
            c = '_';
    }
    return name;
}

bool writeTable(const QString& tableFile, const probeData& groups, const QString& areaRow)
{
    std::vector<OutputNameOf> named;
    for (const auto& [key, row] : groups)
        named.push_back({row.front().factorShortName, row.front().typeOfLevel});
    const std::vector<std::string> names = uniqueOutputNames(named);

    // Written through a save file: an existing table is replaced only by a
    // complete new one.
    QSaveFile file(tableFile);
    if (!file.open(QIODevice::WriteOnly)) {
        tableFailure(tableFile);
        return false;
    }
    QTextStream out(&file);
    out.setCodec("UTF-8");
    tableformat::writeHeader(out, ",0,grib,2.0,,,,,,,", ",,,,", areaRow);
    size_t n = 0;
    for (const auto& [key, row] : groups) {
        const prob_data& p = row.front();
        const QStringList fields = {
            tableField(p.factorShortName), tableField(p.factorLongName),
            tableField(p.nameOfFirstFixedSurface), tableField(p.indicatorOfTypeOfLevel),
            QString(), QString(), QString(), "0", "0",
            QString::fromStdString(names[n++]), tableField(p.factorLongName), tableField(p.units),
            QString(), QString(), levelList(row), "0", "1",
        };
        out << fields.join(",") << "\n";
    }
    out.flush();
    if (out.status() != QTextStream::Ok || !file.commit()) {
        tableFailure(tableFile);
        return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> uniqueOutputNames(const std::vector<OutputNameOf>& rows)
{
    std::vector<std::string> names;
    std::vector<bool> shared;
    std::set<std::string> taken;
    for (const OutputNameOf& row : rows) {
        names.push_back(netcdfName(row.shortName));
        shared.push_back(!taken.insert(names.back()).second);
    }
    for (size_t k = 0; k < rows.size(); ++k) {
        if (!shared[k])
            continue;
        const std::string levelType = netcdfName(rows[k].typeOfLevel);
        const std::string name = levelType.empty() ? names[k] : names[k] + "_" + levelType;
        std::string candidate = name;
        for (int n = 2; taken.count(candidate) != 0; ++n)
            candidate = name + "_" + std::to_string(n);
        taken.insert(candidate);
        names[k] = candidate;
    }
    return names;
}

bool writeGribProbeTable(const QString& fileName, const QString& tableFile, probeData& groups)
{
    groups.clear();
    const Scan scan = scanMessages(fileName, groups);
    sayLeftOut(fileName, scan.leftOut);
    if (!writeTable(tableFile, groups, scan.areaRow.isEmpty() ? QString(kFixedArea) : scan.areaRow))
        return false;
    if (!scan.whole) {
        std::fprintf(stderr, "%s could not be read whole; the table lists what was read\n",
                     fileName.toLocal8Bit().constData());
        return false;
    }
    return true;
}
