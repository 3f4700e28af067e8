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

#include <cstdio>

CsvFileParser* CsvFileParser::m_baseInfo = nullptr;

namespace {

const char* const kTooOld = "config file version is too old for this program";
const char* const kTooNew = "config file version is too new for this program";
const char* const kBadArea = "unknown config area format";
const char* const kOpenFailure = "read vexa.csv file failure:";

// A field read as a number by Qt's rules: text that is no number gives 0,
// an empty field gives `whenEmpty`.
float floatField(const QString& field, float whenEmpty)
{
    return field.isEmpty() ? whenEmpty : field.toFloat();
}

int intField(const QString& field, int whenEmpty)
{
    return field.isEmpty() ? whenEmpty : field.toInt();
}

std::string text(const QString& field)
{
    return field.toStdString();
}

CSV_FILE rowFromFields(const QStringList& f)
{
    CSV_FILE row;
    row.oldFactorName = text(f[0]);
    row.oldDesc = text(f[1]);
    row.nameOfFirstFixedSurface = text(f[2]);
    row.typedoflevels = text(f[3]);
    row.amplification_before = floatField(f[5], 1.0f);
    row.offset_before = floatField(f[6], 0.0f);
    row.isfigure = intField(f[7], 0);
    row.touying = text(f[8]);
    row.newFactorName = text(f[9]);
    row.newDesc = text(f[10]);
    row.newUnit = text(f[11]);
    row.amplification = floatField(f[12], 1.0f);
    row.offset = floatField(f[13], 0.0f);
    row.levels = text(f[14]);
    row.isCompress = intField(f[15], 0);
    row.writeSw = intField(f[16], 1);
    return row;
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
    return load(programDirectory() + "/config/" + tableName);
}

int CsvFileParser::load(const QString& path)
{
    m_ocsv.clear();

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
        fatal(255, kTooOld, KV_HERE);
    if (m_config_version > 2.0f)
        fatal(255, kTooNew, KV_HERE);

    in.readLine();  // area header
    const QString areaRow = in.readLine().trimmed();
    if (areaRow.isEmpty())
        fatal(255, kBadArea, KV_HERE);
    const QStringList a = areaRow.split(",", Qt::KeepEmptyParts);
    float area[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        area[i] = i < a.size() ? a[i].toFloat(&ok) : 0.0f;
        if (!ok)
            fatal(255, kBadArea, KV_HERE, "area row: " + areaRow);
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

    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty())
            continue;
        const QStringList f = line.split(",", Qt::KeepEmptyParts);
        if (f.size() < tableformat::kColumns)
            fatal(255, kTooOld, KV_HERE, "row: " + line);
        const CSV_FILE row = rowFromFields(f);
        std::string inKey = variableKeyOf(row.oldFactorName, row);
        std::string outKey = variableKeyOf(row.newFactorName, row);
        std::printf("key:%s@\n", inKey.c_str());
        m_ocsv.emplace(std::move(inKey), row);
        m_ocsv_for_read.emplace(std::move(outKey), row);
    }
    std::fflush(stdout);
    return 0;
}

std::string CsvFileParser::variableKeyOf(const std::string& name, const CSV_FILE& row)
{
    std::string key = variableKey(name, row.nameOfFirstFixedSurface, row.typedoflevels);
    trimString(key);
    return key;
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
