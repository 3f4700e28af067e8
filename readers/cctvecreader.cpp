#include "readers/cctvecreader.h"

#include "logging/trace.h"
#include "readers/modelfile.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>
#include <cstdio>

namespace {

const char* const kReader = "cctvEcReader";

int toInt(const QString& word)
{
    return word.toInt();
}

double toDouble(const QString& word)
{
    return word.toDouble();
}

}  // namespace

QStringList cctvEcReader::words(const char* text, size_t size)
{
    const QString line = QString::fromLatin1(text, static_cast<int>(strnlen(text, size)));
    return line.simplified().split(' ', Qt::SkipEmptyParts);
}

bool cctvEcReader::readFile(QString fileName)
{
    if (!QFile::exists(fileName)) {
        nLog("source file[%s] not exists\n", fileName.toLocal8Bit().constData());
        return false;
    }
    const QStringList parts = fileName.mid(fileName.lastIndexOf('/') + 1).split('_');
    if (parts.size() < 3) {
        std::printf("listNameParts < 3\n");
        reportInput(fileName, "the name does not have the form echirs_<name>_... or zc_mwf_<name>_...", kReader);
        return false;
    }
    QString name;
    if (parts[0] == "echirs")
        name = parts[1];
    else if (parts[0] == "zc" && parts[1] == "mwf")
        name = parts[2];
    else {
        std::printf("unknow file type\n");
        reportInput(fileName, "the name does not have the form echirs_<name>_... or zc_mwf_<name>_...", kReader);
        return false;
    }

    ByteSource file;
    if (!file.open(fileName, ByteSource::Kind::Plain)) {
        std::printf("openfile error\n");
        return false;
    }
    unsigned char ident[120];
    if (file.read(ident, sizeof ident) < sizeof ident) {
        reportBadSize(fileName, "shorter than its identification text", kReader);
        return false;
    }
    const QStringList id = words(reinterpret_cast<const char*>(ident), sizeof ident);
    if (id.size() < 2)
        return false;

    m_fileName = fileName;
    m_missing = 0;
    p_data field = modelField(name.toStdString(), 0, {}, {}, 9999.0f);
    const QString format = id[1];
    std::printf("%s,", format.toLocal8Bit().constData());
    if (format == "104")
        readfFileFormat104(file, field);
    else if (format == "106")
        readfFileFormat106(file, field);
    else if (format == "112")
        readfFileFormat112(file, field);
    else if (format == "113")
        readfFileFormat113(file, field);
    else {
        std::printf("no function to deal with\n");
        reportInput(fileName, QString("format %1 is not one of 104, 106, 112, 113; nothing is read").arg(format), kReader);
    }
    std::fflush(stdout);
    reportMissingValues(fileName, m_missing, kReader);
    return true;
}

bool cctvEcReader::readHeader(ByteSource& file, p_data& field, CCTV_EC_104& header)
{
    unsigned char bytes[240];
    if (file.read(bytes, sizeof bytes) < sizeof bytes) {
        reportBadSize(m_fileName, "shorter than its header", kReader);
        return false;
    }
    std::memcpy(header.fisrtLine, bytes, 80);
    std::memcpy(header.secondLine, bytes + 80, 80);
    std::memcpy(header.thridLine, bytes + 160, 80);
    const QStringList line1 = words(header.fisrtLine, 80);
    if (line1.size() < 7)
        return false;
    field.forecastTime = toInt(line1[5]);
    g_forcastTime = field.forecastTime;
    const int level = toInt(line1[6]);
    field.level = level == 999 ? 1000 : level;
    return true;
}

bool cctvEcReader::readBlock(ByteSource& file, const Grid& grid, std::vector<double>& values)
{
    uint64_t count = 0;
    if (!sizeFits(grid.xnum, grid.ynum, 4, file, &count)) {
        reportBadSize(m_fileName, QString("a grid of %1 x %2 values does not fit the file").arg(grid.xnum).arg(grid.ynum),
                      kReader);
        return false;
    }
    readValues(file, count, values);
    return true;
}

void cctvEcReader::readValues(ByteSource& file, uint64_t count, std::vector<double>& values)
{
    std::vector<unsigned char> bytes(count * 4);
    const size_t got = file.read(bytes.data(), bytes.size()) / 4;
    values.assign(count, 9999.0);
    for (size_t k = 0; k < got; ++k) {
        const float v = f32le(&bytes[k * 4]);
        values[k] = v > 100000.0f ? 0.0f : v;
    }
    m_missing += count - got;
    m_read = got;
}

void cctvEcReader::setGrid(const Grid& grid, p_data& field)
{
    m_varlons.clear();
    m_varlats.clear();
    for (long i = 0; i < grid.xnum; ++i)
        m_varlons.push_back(grid.lon0 + static_cast<double>(i) * grid.dlon);
    for (long j = 0; j < grid.ynum; ++j)
        m_varlats.push_back(grid.lat0 + static_cast<double>(j) * grid.dlat);
    field.lon = m_varlons;
    field.lat = m_varlats;
    field.xnum = static_cast<int32_t>(grid.xnum);
    field.ynum = static_cast<int32_t>(grid.ynum);
    field.dimDx = spacingCodeOf(grid.dlon);
}

bool cctvEcReader::readField(ByteSource& file, p_data& field, GridWords gridWords, const char* headerError)
{
    CCTV_EC_104 header;
    if (!readHeader(file, field, header)) {
        if (headerError)
            std::printf("%s\n", headerError);
        return false;
    }
    Grid grid;
    if (!gridWords(header, grid) || !readBlock(file, grid, field.data))
        return false;
    setGrid(grid, field);
    return true;
}

namespace {

// Grid words of line 3 in format 104.
bool grid104(const CCTV_EC_104& header, cctvEcReader::Grid& grid)
{
    const QStringList w = cctvEcReader::words(header.thridLine, 80);
    if (w.size() < 8)
        return false;
    grid.xnum = toInt(w[0]);
    grid.ynum = toInt(w[1]);
    grid.lon0 = toDouble(w[2]);
    grid.lat0 = toDouble(w[4]);
    grid.dlon = toDouble(w[6]);
    grid.dlat = toDouble(w[7]);
    return true;
}

// Steps and corners on line 2, sizes on line 3 in format 106.
bool grid106(const CCTV_EC_104& header, cctvEcReader::Grid& grid)
{
    const QStringList w2 = cctvEcReader::words(header.secondLine, 80);
    const QStringList w3 = cctvEcReader::words(header.thridLine, 80);
    if (w2.size() < 6 || w3.size() < 2)
        return false;
    grid.dlon = toDouble(w2[0]);
    grid.dlat = toDouble(w2[1]);
    grid.lon0 = toDouble(w2[2]);
    grid.lat0 = toDouble(w2[4]);
    grid.xnum = toInt(w3[0]);
    grid.ynum = toInt(w3[1]);
    return true;
}

// Grid words of line 2 in formats 112 and 113.
bool grid112(const CCTV_EC_104& header, cctvEcReader::Grid& grid)
{
    const QStringList w = cctvEcReader::words(header.secondLine, 80);
    if (w.size() < 8)
        return false;
    grid.dlon = toDouble(w[0]);
    grid.dlat = toDouble(w[1]);
    grid.lon0 = toDouble(w[2]);
    grid.lat0 = toDouble(w[4]);
    grid.xnum = toInt(w[6]);
    grid.ynum = toInt(w[7]);
    return true;
}

}  // namespace

void cctvEcReader::readfFileFormat104(ByteSource& file, p_data& field)
{
    if (readField(file, field, grid104))
        insert(field);
}

void cctvEcReader::readfFileFormat106(ByteSource& file, p_data& field)
{
    if (!readField(file, field, grid106))
        return;
    // Temperatures are stored in degrees Celsius; values the file did not
    // hold keep the fill value.
    if (field.factorShortName == "temper" || field.factorShortName == "t2" || field.factorShortName == "td2")
        for (size_t k = 0; k < m_read; ++k)
            field.data[k] += 273.15;
    insert(field);
}

void cctvEcReader::readfFileFormat112(ByteSource& file, p_data& field)
{
    if (readField(file, field, grid112))
        insert(field);
}

void cctvEcReader::readfFileFormat113(ByteSource& file, p_data& field)
{
    if (!readField(file, field, grid112, "data error"))
        return;
    // The second block of the same size is the wind direction.
    p_data direction = field;
    direction.prop_fillValue = 9999.0f;
    readValues(file, field.data.size(), direction.data);

    const std::string name = field.factorShortName;
    if (name == "wind") {
        field.factorShortName = "ws";
        direction.factorShortName = "wd";
    } else if (name == "wind100") {
        field.factorShortName = "100ws";
        direction.factorShortName = "100wd";
    } else if (name == "wind10") {
        field.factorShortName = "10ws";
        direction.factorShortName = "10wd";
    } else {
        std::printf("unknow 113 format\n");
    }
    insert(std::move(field));
    insert(std::move(direction));
}
