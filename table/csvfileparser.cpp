#include "table/csvfileparser.h"

#include "logging/fatal.h"
#include "model/pdata.h"
#include "logging/programdir.h"
#include "logging/qlogger.h"
#include "table/tableformat.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <QTextStream>
#include <QtDebug>

#include <cmath>
#include <cstdio>
#include <limits>

CsvFileParser* CsvFileParser::m_baseInfo = nullptr;

namespace {

const char* const kTooOld = "config file version is too old for this program";
const char* const kTooNew = "config file version is too new for this program";
const char* const kBadArea = "unknown config area format";
const char* const kOpenFailure = "read vexa.csv file failure:";

// The cells of one variable row, trimmed of blanks. A numeric cell that is
// neither empty nor a number refuses the table, naming where it stands.
class RowCells {
public:
    RowCells(const QStringList& fields, const QString& table, int line) : m_table(table), m_line(line)
    {
        for (const QString& f : fields)
            m_cells << f.trimmed();
    }

    std::string text(int column) const { return m_cells[column].toStdString(); }

    float real(int column, float whenEmpty) const
    {
        const QString& cell = m_cells[column];
        if (cell.isEmpty())
            return whenEmpty;
        const double value = number(column, cell);
        if (!(std::fabs(value) <= std::numeric_limits<float>::max()))
            refuse(column, cell, "is out of range");
        return static_cast<float>(value);
    }

    int whole(int column, int whenEmpty) const
    {
        const QString& cell = m_cells[column];
        if (cell.isEmpty())
            return whenEmpty;
        // "1.0" is taken as 1; "1.5" is refused.
        const double value = number(column, cell);
        if (!(value == std::trunc(value) && std::fabs(value) < 2147483648.0))
            refuse(column, cell, "is not a whole number");
        return static_cast<int>(value);
    }

    // The level list with blanks around its parts removed; empty parts stay.
    std::string levels(int column) const
    {
        const QString& cell = m_cells[column];
        if (cell.isEmpty())
            return std::string();
        QStringList parts = cell.split(';', Qt::KeepEmptyParts);
        for (QString& part : parts) {
            part = part.trimmed();
            if (!part.isEmpty())
                number(column, part);
        }
        return parts.join(';').toStdString();
    }

private:
    // A finite number, or the table is refused.
    double number(int column, const QString& text) const
    {
        bool ok = false;
        const double value = text.toDouble(&ok);
        if (!ok || !std::isfinite(value))
            refuse(column, text, "is not a number");
        return value;
    }

    [[noreturn]] void refuse(int column, const QString& cell, const char* what) const
    {
        throw FatalError(255,
                         QString("table %1: line %2, column %3 (%4): \"%5\" %6")
                             .arg(m_table)
                             .arg(m_line)
                             .arg(column + 1)
                             .arg(tableformat::columnName(column), cell, what),
                         KV_HERE);
    }

    QStringList m_cells;
    QString m_table;
    int m_line;
};

CSV_FILE rowFromCells(const RowCells& c)
{
    CSV_FILE row;
    row.oldFactorName = c.text(0);
    row.oldDesc = c.text(1);
    row.nameOfFirstFixedSurface = c.text(2);
    row.typedoflevels = c.text(3);
    row.amplification_before = c.real(5, 1.0f);
    row.offset_before = c.real(6, 0.0f);
    row.isfigure = c.whole(7, 0);
    row.touying = c.text(8);
    row.newFactorName = c.text(9);
    row.newDesc = c.text(10);
    row.newUnit = c.text(11);
    row.amplification = c.real(12, 1.0f);
    row.offset = c.real(13, 0.0f);
    row.levels = c.levels(14);
    row.isCompress = c.whole(15, 0);
    row.writeSw = c.whole(16, 1);
    return row;
}

// The old layout's numbers keep Qt's rule: text that is no number gives 0,
// an empty field `whenEmpty`.
float floatField(const QString& field, float whenEmpty)
{
    return field.isEmpty() ? whenEmpty : field.toFloat();
}

void reportOpenFailure(const QString& path)
{
    qDebug("%s%s", kOpenFailure, path.toLocal8Bit().constData());
}

}  // namespace

CsvFileParser* CsvFileParser::getInstance()
{
    if (!m_baseInfo)
        m_baseInfo = new CsvFileParser();
    return m_baseInfo;
}

void CsvFileParser::trimString(std::string& s)
{
    const size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos) {
        s.clear();
        return;
    }
    const size_t last = s.find_last_not_of(' ');
    s = s.substr(first, last - first + 1);
}

CSV_FILE* CsvFileParser::find(const std::string& key)
{
    auto it = m_ocsv.find(key);
    return it == m_ocsv.end() ? nullptr : &it->second;
}

CSV_FILE* CsvFileParser::findfr(const std::string& key)
{
    auto it = m_ocsv_for_read.find(key);
    return it == m_ocsv_for_read.end() ? nullptr : &it->second;
}

int CsvFileParser::init(const QString& tableName)
{
    // An absolute path names a table anywhere; a plain name is one of config/.
    if (tableName.startsWith('/'))
        return load(tableName);
    return load(programDirectory() + "/config/" + tableName);
}

int CsvFileParser::load(const QString& path)
{
    m_ocsv.clear();
    m_sharedInputKeys.clear();

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reportOpenFailure(path);
        return -1;
    }
    QTextStream in(&file);
    in.setCodec("UTF-8");

    in.readLine();  // title
    in.readLine();  // settings header

    // Settings: overwrite switch, file type, table version. A missing or
    // short settings row leaves the version unset, which reads as too old.
    m_config_version = -1.0f;
    const QString settings = in.readLine();
    if (!settings.isEmpty()) {
        const QStringList f = settings.split(",", Qt::KeepEmptyParts);
        m_overWrite = f.size() >= 2 && f[1] == "1";
        if (f.size() >= 4) {
            m_fileType = f[2];
            m_config_version = f[3].toFloat();
        } else {
            m_fileType = "grib";
            m_config_version = -1.0f;
        }
    }
    if (m_config_version < 2.0f)
        throw FatalError(255, kTooOld, KV_HERE);
    if (m_config_version > 2.0f)
        throw FatalError(255, kTooNew, KV_HERE);

    in.readLine();  // area header
    const QString areaRow = in.readLine().trimmed();
    if (areaRow.isEmpty())
        throw FatalError(255, kBadArea, KV_HERE);
    const QStringList a = areaRow.split(",", Qt::KeepEmptyParts);
    float area[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        area[i] = i < a.size() ? a[i].toFloat(&ok) : 0.0f;
        if (!ok)
            throw FatalError(255, kBadArea, KV_HERE, "area row: " + areaRow);
    }
    // The fifth field, when not empty, is the area's spacing in degrees.
    m_areaStep = 0.0f;
    if (a.size() > 4 && !a[4].trimmed().isEmpty()) {
        bool ok = false;
        m_areaStep = a[4].trimmed().toFloat(&ok);
        if (!ok || !(m_areaStep > 0.0f) || m_areaStep > 360.0f)
            throw FatalError(255, kBadArea, KV_HERE,
                             QString("area row: %1: the fifth field, the spacing in degrees, is \"%2\"; a number "
                                     "above 0 and at most 360 or nothing is expected")
                                 .arg(areaRow, a[4].trimmed()));
    }
    m_area[0] = area[0];  // start longitude
    m_area[2] = area[1];  // end longitude
    m_area[1] = area[2];  // start latitude
    m_area[3] = area[3];  // end latitude
    KV_LOG_DEBUG(QString("area:[%1],[%2],[%3],[%4]")
                     .arg(QString::number(m_area[0], 'g'), QString::number(m_area[1], 'g'),
                          QString::number(m_area[2], 'g'), QString::number(m_area[3], 'g')));

    in.readLine();  // group header
    in.readLine();  // column titles
    in.readLine();  // column descriptions

    for (int lineNumber = 9; !in.atEnd(); ++lineNumber) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty())
            continue;
        const QStringList f = line.split(",", Qt::KeepEmptyParts);
        if (f.size() < tableformat::kColumns)
            throw FatalError(255, kTooOld, KV_HERE,
                             QString("table %1: line %2 has %3 fields, %4 expected")
                                 .arg(path)
                                 .arg(lineNumber)
                                 .arg(f.size())
                                 .arg(tableformat::kColumns));
        CSV_FILE row = rowFromCells(RowCells(f, path, lineNumber));
        row.line = lineNumber;
        addRow(std::move(row), path);
    }
    std::fflush(stdout);
    return 0;
}

void CsvFileParser::addRow(CSV_FILE row, const QString& path)
{
    std::string inKey = variableKeyOf(row.oldFactorName, row);
    std::printf("key:%s@\n", inKey.c_str());
    row.storeName = row.oldFactorName;
    // A further row of an input key with another output name writes its own
    // variable from the same fields.
    const auto same = m_ocsv.find(inKey);
    if (same != m_ocsv.end() && same->second.newFactorName != row.newFactorName) {
        row.storeName = row.oldFactorName + " as " + row.newFactorName;
        const std::string storeKey = variableKeyOf(row.storeName, row);
        if (m_ocsv.count(storeKey) == 0)
            m_sharedInputKeys.emplace(storeKey, inKey);
        inKey = storeKey;
    }
    // Rows of other input keys may feed one output variable, each giving
    // some of its levels, only over one level list: fields of other lists
    // would be put in slots they do not have. Derived quantities are
    // written only where no input supplies them.
    if (row.writeSw != 0 && row.isfigure == 0) {
        for (const auto& [key, other] : m_ocsv) {
            if (other.newFactorName != row.newFactorName || other.writeSw == 0 || other.isfigure != 0 || key == inKey ||
                tableformat::levelNumbers(other.levels) == tableformat::levelNumbers(row.levels))
                continue;
            throw FatalError(255,
                             QString("table %1: lines %2 and %3 both write %4, with the level lists \"%5\" and "
                                     "\"%6\"")
                                 .arg(path)
                                 .arg(other.line)
                                 .arg(row.line)
                                 .arg(QString::fromStdString(row.newFactorName),
                                      QString::fromStdString(other.levels), QString::fromStdString(row.levels)),
                             KV_HERE, "a variable has one level list: give the rows one list or other output names");
        }
    }
    std::string outKey = variableKeyOf(row.newFactorName, row);
    m_ocsv.emplace(std::move(inKey), row);
    m_ocsv_for_read.emplace(std::move(outKey), std::move(row));
}

std::string CsvFileParser::variableKeyOf(const std::string& name, const CSV_FILE& row)
{
    std::string key = variableKey(name, row.nameOfFirstFixedSurface, row.typedoflevels);
    trimString(key);
    return key;
}

void CsvFileParser::copySharedInputs(CachedData* store) const
{
    for (const auto& [storeKey, inKey] : m_sharedInputKeys) {
        const std::string& name = m_ocsv.at(storeKey).storeName;
        for (int m = 0; m < kMemberSlots; ++m) {
            const auto fields = store[m].find(inKey);
            if (fields == store[m].end())
                continue;
            std::vector<p_data> copies = fields->second;
            for (p_data& f : copies)
                f.factorShortName = name;
            store[m][storeKey] = std::move(copies);
        }
    }
}

int CsvFileParser::update_config_file(const QString& oldTable)
{
    m_ocsv.clear();

    QFile oldFile(oldTable);
    if (!oldFile.open(QIODevice::ReadOnly)) {
        reportOpenFailure(oldTable);
        return -1;
    }
    QTextStream in(&oldFile);
    in.setCodec("UTF-8");

    in.readLine();  // title
    in.readLine();  // settings header
    const QString settings = in.readLine();
    in.readLine();  // area header
    const QString area = in.readLine().trimmed();
    in.readLine();  // group header
    in.readLine();  // column header

    // Written through a save file: an existing upgraded table is replaced
    // only once the new one is complete.
    const QString newPath = oldTable + ".new.csv";
    QSaveFile newFile(newPath);
    if (!newFile.open(QIODevice::WriteOnly)) {
        std::printf("%s%s\n", kOpenFailure, newPath.toLocal8Bit().constData());
        std::fflush(stdout);
        return -1;
    }
    QTextStream out(&newFile);
    out.setCodec("UTF-8");
    tableformat::writeHeader(out, settings + ",,,,,,", ",,,,,,,,,,,,,", area + ",,,,,,");

    int result = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty())
            continue;
        const QStringList f = line.split(",", Qt::KeepEmptyParts);
        if (f.size() <= 10) {
            std::printf("config file format error\n");
            std::fflush(stdout);
            result = -1;
            break;
        }
        const float amplification = floatField(f[8], 1.0f);
        const float offset = f[9].toFloat();
        // The old compression (9 when the row has no such field) and write
        // switch (1 when absent) carry over into the new row.
        const int compression = f.size() == 11 ? 9 : f[11].toInt();
        const int writeSwitch = f.size() < 13 ? 1 : f[12].toInt();
        const QStringList row = {
            f[0], f[1], f[2], QString(), QString(), QString(), QString(), "0", "0",
            f[4], f[6], f[7],
            QString::number(amplification, 'g', 6), QString::number(offset, 'g', 6),
            f[10], QString::number(compression), QString::number(writeSwitch),
        };
        out << row.join(",") << "\n";
    }
    out.flush();
    if (out.status() != QTextStream::Ok || !newFile.commit()) {
        std::printf("%s%s\n", kOpenFailure, newPath.toLocal8Bit().constData());
        std::fflush(stdout);
        return -1;
    }
    return result;
}
