#include "app/runreport.h"

#include "table/csvfileparser.h"

#include <QFile>

#include <algorithm>

RunReport::RunReport()
{
    m_clock.start();
}

void RunReport::missing(const QString& path)
{
    Input input;
    input.path = path;
    input.missing = true;
    m_inputs.push_back(std::move(input));
}

void RunReport::read(const QString& path, const InputTally& tally, uint64_t kept)
{
    Input input;
    input.path = path;
    input.units = std::max(tally.units, kept);
    input.kept = kept;
    input.keys = tally.keys;
    m_inputs.push_back(std::move(input));
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
            lines << QString("input %1 does not exist").arg(input.path);
            continue;
        }
        QString line = QString("input %1 holds %2 messages or records, none of them kept by the table")
                           .arg(input.path)
                           .arg(input.units);
        if (!input.keys.empty())
            line += "; it offers " + quotedKeys(input.keys);
        lines << line;
    }
    const QString expected = expectedKeys(table);
    lines << QString("table %1 expects %2").arg(tableName, expected.isEmpty() ? "no input variable" : expected);
    return lines;
}

QString RunReport::summary(size_t variables, size_t derivations, const QString& output) const
{
    uint64_t read = 0, missing = 0, units = 0, kept = 0;
    for (const Input& input : m_inputs) {
        (input.missing ? missing : read) += 1;
        units += input.units;
        kept += input.kept;
    }
    QString inputs = QString("%1 input%2 read").arg(read).arg(read == 1 ? "" : "s");
    if (missing > 0)
        inputs += QString(" (%1 missing)").arg(missing);
    return QString("summary: %1; %2 messages or records: %3 kept, %4 skipped; %5 variables written; "
                   "%6 derivations run; %7; %8 s")
        .arg(inputs)
        .arg(units)
        .arg(kept)
        .arg(units - kept)
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
