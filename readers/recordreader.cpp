#include "readers/recordreader.h"

#include "logging/progress.h"
#include "logging/trace.h"
#include "readers/modelfile.h"

#include <QFile>

#include <bzlib.h>

#include <cstdio>

RecordLayout cpefsReader::layout()
{
    return {"cpefsReader",
            "cpefs",
            87.36658,
            0.03816655,
            693,
            30.36133,
            0.0291441,
            453,
            {1000, 950, 900, 850, 800, 750, 700, 650, 600, 550, 500, 450, 400, 350, 300, 250, 200, 150, 100},
            {"u", "v", "w", "qvapor", "qcloud", "qrain", "qice", "qsnow", "qgraup", "qnrain", "qnice", "qnsnow",
             "qngraupel", "cldfra", "geopt", "tc", "rh", "dbz"},
            {"psfc", "hgt", "tsk", "rainnc", "slp", "max_dbz", "cband", "vil", "visl", "cloudtopt", "cloudtoph",
             "cloudbott", "cloudboth"},
            9999.0f,
            true};
}

RecordLayout grapsCmReader::layout()
{
    return {"grapsCmReader",
            "grapes",
            65.0,
            0.25,
            301,
            15.0,
            0.25,
            181,
            {1000, 925, 850, 700, 600, 500, 400, 300, 250, 200, 150, 100, 70, 50, 30, 20, 10},
            {"u", "v", "t", "h", "qv", "qc", "qr", "qi", "qs", "qg", "nr", "ni", "ns", "ng", "fc", "w1"},
            {"ps", "rainc", "rain", "ts", "zs", "cband", "vil", "visl", "ttop", "tzop"},
            99999.0f,
            false};
}

RecordFileReader::RecordFileReader(RecordLayout layout) : m_layout(std::move(layout))
{
    m_varNames = m_layout.vars3d;
    m_varNames.insert(m_varNames.end(), m_layout.vars2d.begin(), m_layout.vars2d.end());
    m_varLevels = m_layout.levels;
    for (int i = 0; i < m_layout.nlon; ++i)
        m_varlons.push_back(m_layout.lon0 + i * m_layout.dlon);
    for (int j = 0; j < m_layout.nlat; ++j)
        m_varlats.push_back(m_layout.lat0 + j * m_layout.dlat);
}

cpefsReader::cpefsReader() : RecordFileReader(layout()) {}

grapsCmReader::grapsCmReader() : RecordFileReader(layout()) {}

float grapsCmReader::be2se(float value)
{
    unsigned char bytes[4];
    std::memcpy(bytes, &value, 4);
    return f32be(bytes);
}

bool RecordFileReader::readFile(QString fileName)
{
    const QString extension = extensionOf(fileName);
    if (extension == ".bz2" || extension == ".BZ2")
        readBZ2Files(fileName);
    else if (extension != ".gz" && extension != ".GZ")
        readRFiles(fileName);
    return true;
}

bool RecordFileReader::readRFiles(QString fileName)
{
    return readRecords(fileName, false);
}

bool RecordFileReader::readBZ2Files(QString fileName)
{
    return readRecords(fileName, true);
}

bool RecordFileReader::readRecords(const QString& fileName, bool compressed)
{
    if (!QFile::exists(fileName)) {
        nLog("source file not exists\n");
        return false;
    }
    std::printf("%s\n", compressed ? "start read bz2" : m_layout.plainBanner);
    ByteSource source;
    if (!source.open(fileName, compressed ? ByteSource::Kind::Bzip2 : ByteSource::Kind::Plain)) {
        std::printf("sdfsdfsdfsdfs\n");
        std::fflush(stdout);
        return false;
    }
    g_forcastTime = 0;

    const size_t values = static_cast<size_t>(m_layout.nlon) * static_cast<size_t>(m_layout.nlat);
    std::vector<unsigned char> record(values * 4);
    uint64_t missing = 0;
    ProgressLine progress(fileName, "records");
    uint64_t records = 0;

    // One record into one field; values the source could not give hold the fill value.
    auto file = [&](const std::string& name, int level, size_t got) {
        p_data f = modelField(name, level, m_varlons, m_varlats, m_layout.fill);
        f.data.resize(values);
        const size_t complete = got / 4;
        for (size_t k = 0; k < complete; ++k) {
            const float v = f32be(&record[k * 4]);
            f.data[k] = v > 100000.0f ? m_layout.fill : v;
        }
        for (size_t k = complete; k < values; ++k)
            f.data[k] = m_layout.fill;
        missing += values - complete;
        insert(std::move(f));
        progress.update(++records, source.fractionRead());
    };
    // Trace lines on standard output start on a line of their own.
    auto trace = [](const std::string& line) {
        ProgressLine::clearShown();
        std::printf("%s\n", line.c_str());
    };

    for (const std::string& name : m_layout.vars3d) {
        for (int level : m_layout.levels) {
            int status = BZ_OK;
            const size_t got = source.read(record.data(), record.size(), &status);
            if (compressed && (status != BZ_OK || got < record.size())) {
                if (m_layout.endDropsLevels && status == BZ_STREAM_END) {
                    trace("bz2file read to end:" + std::to_string(status));
                    break;
                }
                trace("bz2file read error:" + std::to_string(status));
            }
            file(name, level, got);
        }
    }
    trace("2");
    for (const std::string& name : m_layout.vars2d) {
        int status = BZ_OK;
        const size_t got = source.read(record.data(), record.size(), &status);
        if (compressed && (status != BZ_OK || got < record.size())) {
            if (m_layout.endDropsLevels && status == BZ_STREAM_END && got == record.size())
                trace("read end");
            else
                trace("bz2file read error:" + std::to_string(status));
        }
        file(name, 0, got);
    }
    std::fflush(stdout);
    progress.finish();
    reportMissingValues(fileName, missing, m_layout.name);
    return true;
}
