#include "app/runreport.h"

#include "table/csvfileparser.h"

#include <QFile>

#include <algorithm>

RunReport::RunReport()
{
    m_clock.start();
}

void RunReport::missing(const QString& path, const QString& what)
{
    Input input;
    input.path = path;
    input.missing = true;
    input.notAFile = what;
    m_inputs.push_back(std::move(input));
}

void RunReport::read(const QString& path, const InputTally& tally, uint64_t kept)
{
    Input input;
    input.path = path;
    input.units = std::max(tally.units, kept);
    input.kept = kept;
    input.firstOrigin = tally.firstOrigin;
    input.keys = tally.keys;
    input.skips = tally.skips;
    input.missedGrid = tally.missedGrid;
    m_inputs.push_back(std::move(input));
}

uint64_t RunReport::nextOrigin() const
{
    uint64_t next = 1;
    for (const Input& input : m_inputs)
        if (!input.missing)
            next = std::max(next, input.firstOrigin + input.units);
    return next;
}

QString RunReport::originName(uint64_t origin) const
{
    for (const Input& input : m_inputs)
        if (!input.missing && origin >= input.firstOrigin && origin < input.firstOrigin + input.units)
            return QString("%1 %2 of %3").arg(m_unitName).arg(origin - input.firstOrigin + 1).arg(input.path);
    return QString("input field %1").arg(origin);
}

void RunReport::placed(const std::set<uint64_t>& origins, const std::map<uint64_t, std::string>& dropped)
{
    m_planned = true;
    m_placed = origins.size();
    m_dropped.clear();
    for (const auto& drop : dropped)
        countReason(m_dropped, drop.second);
}

uint64_t RunReport::kept() const
{
    uint64_t n = 0;
    for (const Input& input : m_inputs)
        n += input.kept;
    return n;
}

QString RunReport::nothingToWrite(const QString& why, const QString& output)
{
    return QString("nothing to write: %1; %2")
        .arg(why, QFile::exists(output) ? output + " is left as it was" : QString("no output is made"));
}

QStringList RunReport::nothingKept(const CsvFileParser& table, const QString& tableName, const QString& output) const
{
    QStringList lines;
    lines << nothingToWrite("no input holds a field that the table keeps", output);
    for (const Input& input : m_inputs) {
        if (input.missing) {
            lines << (input.notAFile.isEmpty() ? QString("input %1 does not exist").arg(input.path)
                                               : QString("input %1 is %2, not a file").arg(input.path, input.notAFile));
            continue;
        }
        QString line = QString("input %1 holds %2 messages or records, none of them kept by the table")
                           .arg(input.path)
                           .arg(input.units);
        QStringList skipped;
        for (const auto& [reason, n] : input.skips)
            skipped << QString("%1 %2").arg(n).arg(QString::fromStdString(reason));
        if (!skipped.isEmpty())
            line += " (" + skipped.join(", ") + ")";
        if (!input.keys.empty())
            line += "; it offers " + quotedKeys(input.keys);
        lines << line;
        if (!input.missedGrid.empty())
            lines << QString("the table's area (longitudes %1 to %2, latitudes %3 to %4) does not meet the grid of "
                             "%5 (%6)")
                         .arg(table.m_area[0])
                         .arg(table.m_area[2])
                         .arg(table.m_area[1])
                         .arg(table.m_area[3])
                         .arg(input.path, QString::fromStdString(input.missedGrid));
    }
    const QString expected = expectedKeys(table);
    lines << QString("table %1 expects %2").arg(tableName, expected.isEmpty() ? "no input variable" : expected);
    return lines;
}

QString RunReport::summary(size_t variables, size_t derivations, const QString& output) const
{
    uint64_t read = 0, missing = 0, units = 0, filed = 0;
    // Why units were skipped, counted, in the order the reasons were met.
    ReasonCounts reasons;
    auto add = [&reasons](const std::string& reason, uint64_t n) {
        if (n > 0)
            countReason(reasons, reason, n);
    };
    uint64_t readerSkipped = 0;
    for (const Input& input : m_inputs) {
        (input.missing ? missing : read) += 1;
        units += input.units;
        filed += input.kept;
        for (const auto& [reason, n] : input.skips)
            readerSkipped += n;
    }
    // Units neither filed under a row nor skipped for a reason of their own
    // had no table row.
    add("not in the table", units - std::min(units, filed + readerSkipped));
    for (const Input& input : m_inputs)
        for (const auto& [reason, n] : input.skips)
            add(reason, n);
    for (const auto& [reason, n] : m_dropped)
        add(reason, n);
    const uint64_t kept = m_planned ? std::min(m_placed, units) : 0;
    QString skipped = QString::number(units - kept) + " skipped";
    QStringList why;
    for (const auto& [reason, n] : reasons)
        why << QString("%1 %2").arg(n).arg(QString::fromStdString(reason));
    if (kept < units && !why.isEmpty())
        skipped += " (" + why.join(", ") + ")";
    QString inputs = QString("%1 input%2 read").arg(read).arg(read == 1 ? "" : "s");
    if (missing > 0)
        inputs += QString(" (%1 missing)").arg(missing);
    return QString("summary: %1; %2 messages or records: %3 kept, %4; %5 variables written; "
                   "%6 derivations run; %7; %8 s")
        .arg(inputs)
        .arg(units)
        .arg(kept)
        .arg(skipped)
        .arg(variables)
        .arg(derivations)
        .arg(output.isEmpty() ? QString("no output written") : "output " + output)
        .arg(QString::number(static_cast<double>(m_clock.elapsed()) / 1000.0, 'f', 2));
}

uint64_t keptFields(const CachedData* store, CsvFileParser& table)
{
    uint64_t n = 0;
    for (int m = 0; m < kMemberSlots; ++m)
        for (const auto& [key, records] : store[m])
            if (table.find(key))
                n += records.size();
    return n;
}

QString expectedKeys(const CsvFileParser& table)
{
    std::vector<std::string> keys;
    for (const auto& [key, row] : table.m_ocsv) {
        if (keys.size() == InputTally::kKeysKept)
            break;
        // A further row of an input key expects nothing of its own.
        if (row.isfigure == 0 && row.storeName == row.oldFactorName)
            keys.push_back(key);
    }
    return quotedKeys(keys);
}

QString quotedKeys(const std::vector<std::string>& keys)
{
    QStringList quoted;
    for (const std::string& key : keys)
        quoted << "\"" + QString::fromStdString(key) + "\"";
    return quoted.join(", ");
}
