#include "readers/cpasreader.h"

#include "logging/progress.h"
#include "logging/trace.h"
#include "readers/modelfile.h"

#include <QFile>

#include <cstdio>

namespace {

const char* const kReader = "cpasReader";

}  // namespace

cpasReader::cpasReader() : m_varNames({"ztop", "ttop", "und1", "hsc", "optn", "ref", "lwp", "und2", "tbb"}) {}

tagFYHead cpasReader::parseHeader(const unsigned char* b)
{
    tagFYHead h;
    h.lwidth = i32le(b);
    h.lheight = i32le(b + 4);
    h.xmin = f32le(b + 8);
    h.ymin = f32le(b + 12);
    h.xmax = f32le(b + 16);
    h.ymax = f32le(b + 20);
    h.SizeX = f32le(b + 24);
    h.SizeY = f32le(b + 28);
    return h;
}

bool cpasReader::readFile(QString fileName)
{
    std::printf("cpas\n");
    std::fflush(stdout);
    if (!QFile::exists(fileName)) {
        nLog("source file not exists\n");
        return false;
    }
    ByteSource file;
    if (!file.open(fileName, ByteSource::Kind::Plain)) {
        std::printf("sdfsdfsdfsdfs\n");
        return false;
    }
    unsigned char bytes[32];
    if (file.read(bytes, sizeof bytes) < sizeof bytes) {
        reportBadSize(fileName, "shorter than its header", kReader);
        return false;
    }
    const tagFYHead head = parseHeader(bytes);
    uint64_t count = 0;
    if (!sizeFits(head.lwidth, head.lheight, 4, file, &count)) {
        reportBadSize(fileName,
                      QString("a grid of %1 x %2 values does not fit the file").arg(head.lwidth).arg(head.lheight),
                      kReader);
        return false;
    }

    // The step is the range over the count, in single precision.
    const float dx = (head.xmax - head.xmin) / static_cast<float>(head.lwidth);
    const float dy = (head.ymax - head.ymin) / static_cast<float>(head.lheight);
    m_varlons.clear();
    m_varlats.clear();
    for (int32_t i = 0; i < head.lwidth; ++i)
        m_varlons.push_back(head.xmin + static_cast<float>(i) * dx);
    for (int32_t j = 0; j < head.lheight; ++j)
        m_varlats.push_back(head.ymin + static_cast<float>(j) * dy);

    std::vector<unsigned char> record(count * 4);
    uint64_t missing = 0;
    ProgressLine progress(fileName, "records");
    uint64_t records = 0;
    for (const std::string& name : m_varNames) {
        const size_t got = file.read(record.data(), record.size()) / 4;
        p_data f = modelField(name, 0, m_varlons, m_varlats, -999.0f);
        f.data.assign(count, -999.0);
        for (size_t k = 0; k < got; ++k) {
            const float v = f32le(&record[k * 4]);
            f.data[k] = v > 100000.0f ? 0.0f : v;
        }
        missing += count - got;
        insert(std::move(f));
        progress.update(++records, file.fractionRead());
    }
    progress.finish();
    reportMissingValues(fileName, missing, kReader);
    return true;
}
