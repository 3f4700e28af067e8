#include "readers/gribreader.h"

#include "logging/fatal.h"
#include "logging/qlogger.h"
#include "readers/compressed.h"
#include "table/csvfileparser.h"
#include "table/tableformat.h"

#include <QFile>
#include <QSaveFile>
#include <QTextStream>
#include <QtGlobal>

#include <grib_api.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <unistd.h>

namespace {

// The product magics ecCodes takes a GRIB handle from; it reads the first
// one it meets after the current position, whatever follows.
bool isMagic(const unsigned char* p)
{
    return std::memcmp(p, "GRIB", 4) == 0 || std::memcmp(p, "BUDG", 4) == 0 || std::memcmp(p, "DIAG", 4) == 0 ||
           std::memcmp(p, "TIDE", 4) == 0;
}

uint64_t bigEndian32(const unsigned char* p)
{
    return uint64_t(p[0]) << 24 | uint64_t(p[1]) << 16 | uint64_t(p[2]) << 8 | p[3];
}

// The total length the indicator section of a GRIB message claims, 0 when it
// does not tell one: another product, an unknown edition, or the edition-1
// large-message form, whose length ecCodes works out from the sections.
uint64_t claimedLength(const unsigned char* head, size_t have)
{
    if (have < 8 || std::memcmp(head, "GRIB", 4) != 0)
        return 0;
    if (head[7] == 1) {
        const uint32_t length = uint32_t(head[4]) << 16 | uint32_t(head[5]) << 8 | head[6];
        return (length & 0x800000u) ? 0 : length;
    }
    if (head[7] == 2 && have >= 16) {
        uint64_t length = 0;
        for (int i = 8; i < 16; ++i)
            length = length << 8 | head[i];
        return length;
    }
    return 0;
}

// Whether a GRIB 2 section may follow another: 1 first, then 2 to 7 in
// order, where 2, 3 or 4 may start a further field after 7, and the end
// marker (8) after 7.
bool mayFollow(int previous, int section)
{
    switch (previous) {
    case 0: return section == 1;
    case 1: return section == 2 || section == 3;
    case 7: return section == 2 || section == 3 || section == 4 || section == 8;
    default: return section == previous + 1 && section <= 7;
    }
}

// Bits of a big-endian bit stream, as GRIB packs its numbers.
class BitReader {
public:
    BitReader(const unsigned char* data, uint64_t size) : m_data(data), m_bits(size * 8) {}
    // `width` bits (at most 32) from the current position; false past the end.
    bool take(unsigned width, uint64_t& value)
    {
        if (width > 32 || m_pos + width > m_bits)
            return false;
        value = 0;
        for (unsigned i = 0; i < width; ++i, ++m_pos)
            value = value << 1 | ((m_data[m_pos / 8] >> (7 - m_pos % 8)) & 1u);
        return true;
    }
    bool skip(uint64_t bits)
    {
        if (bits > m_bits - m_pos)
            return false;
        m_pos += bits;
        return true;
    }
    void toOctet() { m_pos = std::min(m_bits, (m_pos + 7) / 8 * 8); }
    uint64_t left() const { return m_bits - m_pos; }

private:
    const unsigned char* m_data;
    uint64_t m_bits;
    uint64_t m_pos = 0;
};

// What is wrong with the data section (`data`, after its 5-byte head) of a
// field packed by groups (data representation templates 5.2 and 5.3, given
// by section 5 in `packing`); empty when nothing is. ecCodes takes the
// group count, widths and lengths as they stand and decodes past the
// section, or past its values, when they do not add up.
QString groupPackingFault(const std::vector<unsigned char>& packing, const std::vector<unsigned char>& data)
{
    const int templateNumber = packing[9] << 8 | packing[10];
    const uint64_t values = bigEndian32(&packing[5]);
    const unsigned referenceBits = packing[19];
    const uint64_t groups = bigEndian32(&packing[31]);
    const unsigned widthReference = packing[35], widthBits = packing[36];
    const uint64_t lengthReference = bigEndian32(&packing[37]);
    const unsigned lengthIncrement = packing[41];
    const uint64_t lastLength = bigEndian32(&packing[42]);
    const unsigned lengthBits = packing[46];
    if (referenceBits > 32 || widthBits > 32 || lengthBits > 32)
        return QString("packs its groups with fields of more than 32 bits");
    BitReader bits(data.data(), data.size());
    if (templateNumber == 3) {
        const unsigned order = packing[47], octets = packing[48];
        // Order 0 (as ecCodes writes a field packed again) has no values
        // ahead of the groups.
        if (order > 2 || octets > 4)
            return QString("has spatial differencing of order %1 in %2 octets").arg(order).arg(octets);
        if (order > 0 && !bits.skip(uint64_t(order + 1) * octets * 8))
            return QString("ends inside its spatial differencing values");
    }
    if (groups == 0 || groups > values)
        return QString("packs %1 values in %2 groups").arg(values).arg(groups);
    // The group references, then the widths, then the lengths, each array
    // starting on an octet.
    if (!bits.skip(groups * referenceBits))
        return QString("ends inside its group references");
    bits.toOctet();
    const BitReader widthsAt = bits;
    if (!bits.skip(groups * widthBits))
        return QString("ends inside its group widths");
    bits.toOctet();
    BitReader lengths = bits;
    if (!bits.skip(groups * lengthBits))
        return QString("ends inside its group lengths");
    bits.toOctet();
    BitReader widths = widthsAt;
    uint64_t total = 0, packed = 0;
    for (uint64_t g = 0; g < groups; ++g) {
        uint64_t width = 0, length = 0;
        widths.take(widthBits, width);
        lengths.take(lengthBits, length);
        width += widthReference;
        length = g + 1 == groups ? lastLength : lengthReference + length * lengthIncrement;
        if (width > 32)
            return QString("has a group of values %1 bits wide").arg(width);
        total += length;
        if (total > values)
            return QString("has groups of more than its %1 values").arg(values);
        packed += width * length;
    }
    if (total != values)
        return QString("has groups of %1 values, not %2").arg(total).arg(values);
    if (packed > bits.left())
        return QString("packs %1 bits of values in %2").arg(packed).arg(bits.left());
    return QString();
}

// What is wrong with the message ecCodes would read next from a source of
// `size` bytes, read from `from` on by `read(offset, buffer, n)` (up to n
// bytes); empty when nothing is. It catches what ecCodes would take as it
// stands and then read, write or allocate past its bounds for: a message
// claiming more bytes than the source holds from its start, a pseudo-GRIB
// product whose first section is shorter than its own length field, a
// GRIB 2 message whose sections do not lead in their order to its end
// marker (ecCodes' multi-field reading then frees a message it goes on
// reading), and GRIB 2 fields whose value count, bitmap or group packing
// does not fit their grid and their sections. Offsets in the text are
// counted from `base`.
template <typename Read>
QString nextMessageFault(Read read, uint64_t from, uint64_t size, uint64_t base)
{
    // Messages usually follow each other directly: look at 16 bytes first,
    // and scan further in larger windows only past bytes between messages.
    constexpr size_t kHead = 16, kWindow = 65536;
    std::vector<unsigned char> window(kHead);
    uint64_t start = size;
    unsigned char head[kHead];
    size_t have = 0;
    for (uint64_t pos = from; pos < size && start == size;) {
        const size_t n = read(pos, window.data(), window.size());
        if (n < 4)
            return QString();
        for (size_t i = 0; i + 4 <= n; ++i) {
            if (isMagic(&window[i])) {
                start = pos + i;
                have = i + kHead <= n ? (std::memcpy(head, &window[i], kHead), kHead) : read(start, head, kHead);
                break;
            }
        }
        pos += n - 3;  // a magic may straddle two windows
        if (window.size() < kWindow)
            window.resize(kWindow);
    }
    if (start == size)
        return QString();
    const QString at = QString::number(base + start);
    // The other products start with a 3-byte section length that counts
    // itself; ecCodes reads one shorter than that to the end of the source
    // into a small buffer.
    if (have >= 7 && std::memcmp(head, "GRIB", 4) != 0) {
        const uint32_t first = uint32_t(head[4]) << 16 | uint32_t(head[5]) << 8 | head[6];
        if (first < 3)
            return QString("is damaged: the %1 product at byte %2 has a first section of %3 bytes")
                .arg(QString::fromLatin1(reinterpret_cast<const char*>(head), 4), at)
                .arg(first);
        return QString();
    }
    const uint64_t claimed = claimedLength(head, have);
    if (claimed == 0)
        return QString();
    if (claimed > size - start)
        return QString("is cut short: the GRIB message at byte %1 claims %2 bytes, only %3 are left")
            .arg(at)
            .arg(claimed)
            .arg(size - start);
    if (head[7] != 2)
        return QString();

    // Walk the sections: each starts with its length (4 bytes) and number.
    const uint64_t end = start + claimed;
    uint64_t pos = start + kHead;
    int previous = 0;
    int field = 0;
    bool bitmapDefined = false;
    uint64_t points = 0;                 // of the grid of the last section 3
    std::vector<unsigned char> packing;  // the first 49 octets of the last section 5
    for (;;) {
        unsigned char section[5];
        const size_t got = read(pos, section, end - pos < 5 ? end - pos : 5);
        if (got >= 4 && std::memcmp(section, "7777", 4) == 0 && pos + 4 == end) {
            if (mayFollow(previous, 8))
                return QString();
            return QString("is damaged: the GRIB message at byte %1 ends after section %2").arg(at).arg(previous);
        }
        if (got < 5)
            return QString("is damaged: the sections of the GRIB message at byte %1 do not end with its end marker "
                           "at byte %2")
                .arg(at)
                .arg(base + end - 4);
        const uint64_t length = bigEndian32(section);
        const int number = section[4];
        if (!mayFollow(previous, number))
            return QString("is damaged: the GRIB message at byte %1 has section %2 after section %3 at byte %4")
                .arg(at)
                .arg(number)
                .arg(previous)
                .arg(base + pos);
        if (length < 5 || length > end - 4 - pos)
            return QString("is damaged: section %1 of the GRIB message at byte %2 claims %3 bytes, past the "
                           "message's end")
                .arg(number)
                .arg(at)
                .arg(length);
        switch (number) {
        case 3: {
            // The grid's points, which the fields up to the next grid cover.
            unsigned char count[4];
            points = length >= 10 && read(pos + 6, count, 4) == 4 ? bigEndian32(count) : 0;
            break;
        }
        case 4:
            ++field;
            break;
        case 5: {
            packing.assign(std::min<uint64_t>(length, 49), 0);
            if (read(pos, packing.data(), packing.size()) != packing.size())
                packing.clear();
            // ecCodes sizes the values by this count before it reads them.
            const uint64_t values = packing.size() >= 9 ? bigEndian32(&packing[5]) : 0;
            if (points > 0 && values > points)
                return QString("is damaged: field %1 of the GRIB message at byte %2 codes %3 values for %4 points")
                    .arg(field)
                    .arg(at)
                    .arg(values)
                    .arg(points);
            break;
        }
        case 6: {
            // ecCodes reads a bitmap bit for every point of the grid, however
            // short the section, and copies the bitmap of an earlier field
            // (indicator 254) of another size over the message when there is
            // none.
            unsigned char indicator = 255;
            if (length < 6 || read(pos + 5, &indicator, 1) != 1)
                break;
            if (indicator == 254 && !bitmapDefined)
                return QString("is damaged: field %1 of the GRIB message at byte %2 takes the bitmap of an earlier "
                               "field, and no earlier field has one")
                    .arg(field)
                    .arg(at);
            if (indicator == 0 && (length - 6) * 8 < points)
                return QString("is damaged: the bitmap of field %1 of the GRIB message at byte %2 holds %3 bits "
                               "for %4 points")
                    .arg(field)
                    .arg(at)
                    .arg((length - 6) * 8)
                    .arg(points);
            bitmapDefined = bitmapDefined || indicator == 0;
            break;
        }
        case 7: {
            // Fields packed by groups: the section must hold what its groups need.
            const int templateNumber = packing.size() >= 47 ? packing[9] << 8 | packing[10] : -1;
            if ((templateNumber == 2 || (templateNumber == 3 && packing.size() >= 49)) && length > 5) {
                std::vector<unsigned char> data(length - 5);
                const QString fault = read(pos + 5, data.data(), data.size()) == data.size()
                                          ? groupPackingFault(packing, data)
                                          : QString();
                if (!fault.isEmpty())
                    return QString("is damaged: field %1 of the GRIB message at byte %2 %3").arg(field).arg(at, fault);
            }
            break;
        }
        default:
            break;
        }
        pos += length;
        previous = number;
    }
}

// The input ecCodes is reading, for the message of one of its own checks
// failing: it would abort the process, and ends the run as any message it
// cannot read does.
QString s_readingFile;

// No exception may cross ecCodes' frames, and ecCodes goes on past a
// failed check when this returns: the process ends here (the output lock,
// if the run holds one, is released at exit).
void onEccodesAssertion(const char* message)
{
    std::exit(reportFatal(FatalError(
        255, QString("ecCodes cannot read a message of %1: %2").arg(s_readingFile, QString::fromLocal8Bit(message)),
        KV_HERE)));
}

// Where the messages of one input file come from: the open file itself, or
// its content decompressed into memory.
class GribMessages {
public:
    enum Source { FromFile = 2, FromMemory = 3 };

    explicit GribMessages(const QString& fileName) : m_fileName(fileName)
    {
        s_readingFile = fileName;
        codes_set_codes_assertion_failed_proc(onEccodesAssertion);
        const int dot = fileName.lastIndexOf('.');
        const QString extension = dot < 0 ? QString() : fileName.mid(dot);
        if (extension == ".bz2" || extension == ".gz" || extension == ".GZ") {
            m_source = FromMemory;
            // Numbered as the plain file for the trace line: bzip2 input was
            // once read through a file.
            m_traceNumber = extension == ".bz2" ? 2 : 3;
            Decompressed d = extension == ".bz2" ? bunzip2File(fileName) : gunzipFile(fileName);
            if (!d.opened) {
                report(QString("[READGIRB] open failed %1").arg(fileName));
                m_failed = true;
                return;
            }
            if (!d.complete) {
                const QString message =
                    QString("[READGIRB] %1 is damaged (%2); only the messages before the damage are read")
                        .arg(fileName, d.error);
                report(message);
                m_damaged = true;
            }
            if (d.notCompressed)
                report(QString("[READGIRB] %1 is not gzip-compressed; it is read as a plain GRIB file").arg(fileName));
            m_buffer = std::move(d.bytes);
            m_next = m_buffer.data();
            m_left = m_buffer.size();
        } else {
            m_file = std::fopen(QFile::encodeName(fileName).constData(), "rb");
            if (!m_file) {
                report(QString("[READGIRB] openfile[%1]").arg(fileName));
                m_failed = true;
            } else {
                m_fileSize = static_cast<uint64_t>(QFile(fileName).size());
            }
        }
        grib_multi_support_on(nullptr);
    }

    ~GribMessages()
    {
        if (m_file)
            std::fclose(m_file);
    }
    GribMessages(const GribMessages&) = delete;
    GribMessages& operator=(const GribMessages&) = delete;

    // The next message, or null after the last one. A message that ecCodes
    // cannot read ends the process with its message, except past the damage
    // of a compressed stream, where reading simply stops.
    grib_handle* next()
    {
        if (m_failed || !nextIsSound())
            return nullptr;
        int err = 0;
        grib_handle* h = nullptr;
        if (m_source == FromFile) {
            h = grib_handle_new_from_file(nullptr, m_file, &err);
        } else {
            // ecCodes moves past a multi-field message with its first field
            // and hands out the others on the calls that follow, so it is
            // asked again after the last byte until it has none left.
            void* data = m_next;
            h = grib_handle_new_from_multi_message(nullptr, &data, &m_left, &err);
            m_next = static_cast<unsigned char*>(data);
        }
        if (err != 0) {
            if (h)
                grib_handle_delete(h);
            if (m_damaged)
                return nullptr;
            throw FatalError(255,
                             QString("ecCodes cannot read a message of %1: %2")
                                 .arg(m_fileName, QString::fromLatin1(grib_get_error_message(err))),
                             KV_HERE);
        }
        return h;
    }

    int traceNumber() const { return m_traceNumber; }
    // The input could not be opened or was damaged.
    bool incomplete() const { return m_failed || m_damaged; }

private:
    // Whether the next message can be given to ecCodes. A cut-short or
    // damaged one ends the run as a message ecCodes cannot read would,
    // except past the damage of a compressed stream, where reading simply
    // stops.
    bool nextIsSound()
    {
        QString fault;
        if (m_source == FromFile) {
            const int fd = fileno(m_file);
            const off_t at = ftello(m_file);
            if (at < 0)
                return true;
            fault = nextMessageFault(
                [fd](uint64_t offset, unsigned char* buffer, size_t n) -> size_t {
                    const ssize_t got = pread(fd, buffer, n, static_cast<off_t>(offset));
                    return got > 0 ? static_cast<size_t>(got) : 0;
                },
                static_cast<uint64_t>(at), m_fileSize, 0);
        } else {
            const unsigned char* next = m_next;
            const size_t left = m_left;
            fault = nextMessageFault(
                [next, left](uint64_t offset, unsigned char* buffer, size_t n) -> size_t {
                    const size_t got = offset < left ? std::min<uint64_t>(n, left - offset) : 0;
                    if (got > 0)
                        std::memcpy(buffer, next + offset, got);
                    return got;
                },
                0, m_left, static_cast<uint64_t>(m_next - m_buffer.data()));
        }
        if (fault.isEmpty())
            return true;
        if (!m_damaged)
            throw FatalError(255, QString("[READGIRB] %1 %2").arg(m_fileName, fault), KV_HERE);
        return false;
    }

    // Logged and said on standard error: the run goes on without this input.
    static void report(const QString& message)
    {
        KV_LOG_ERROR(message);
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    }

    QString m_fileName;
    Source m_source = FromFile;
    int m_traceNumber = 2;
    std::FILE* m_file = nullptr;
    uint64_t m_fileSize = 0;
    std::vector<unsigned char> m_buffer;
    unsigned char* m_next = nullptr;
    size_t m_left = 0;
    bool m_failed = false;
    bool m_damaged = false;
};

struct HandleDeleter {
    void operator()(grib_handle* h) const { grib_handle_delete(h); }
};
using Handle = std::unique_ptr<grib_handle, HandleDeleter>;

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
    const float lon0 = area[0];
    const float lat0 = area[1];
    const float lon1 = area[2];
    const float lat1 = area[3];

    // Grid size in single precision; a non-finite or absurd size is refused
    // before anything is allocated.
    const float columns = (lon1 - lon0) / dx + 1.0f;
    const float rows = (lat1 - lat0) / dy + 1.0f;
    if (!(columns >= 1.0f && rows >= 1.0f && columns < 1e9f && rows < 1e9f))
        return false;
    const long long nx = static_cast<long long>(columns);
    const long long ny = static_cast<long long>(rows);
    if (nx * ny > kMaxCells)
        return false;

    outValues.assign(static_cast<size_t>(nx * ny), fill);
    outLon.reserve(outLon.size() + static_cast<size_t>(nx));
    for (long long i = 0; i < nx; ++i)
        outLon.push_back(static_cast<double>(lon0 + static_cast<float>(i) * dx));
    outLat.reserve(outLat.size() + static_cast<size_t>(ny));
    for (long long j = 0; j < ny; ++j)
        outLat.push_back(static_cast<double>(lat0 + static_cast<float>(j) * dy));

    // Nearest cell index along one axis, or -1 outside [0, n).
    auto cell = [](double offset, float step, long long n) -> long long {
        const double d = offset / static_cast<double>(step);
        if (!(std::fabs(d) < 2e9))
            return -1;
        const long long k = qRound(d);
        return k >= 0 && k < n ? k : -1;
    };

    const size_t points = std::min(values.size(), std::min(lon.size(), lat.size()));
    for (size_t k = 0; k < points; ++k) {
        const long long j = cell(lat[k] - lat0, dy, ny);
        if (j < 0)
            continue;
        long long i = cell(lon[k] - lon0, dx, nx);
        if (i < 0)
            i = cell(lon[k] + 360.0 - lon0, dx, nx);
        if (i < 0)
            i = cell(lon[k] - 360.0 - lon0, dx, nx);
        if (i < 0)
            continue;
        outValues[static_cast<size_t>(j * nx + i)] = values[k];
    }
    return true;
}

bool gribReader::readFile(QString fileName)
{
    CsvFileParser* table = CsvFileParser::getInstance();
    GribMessages messages(fileName);
    bool complete = !messages.incomplete();

    size_t messageCount = 0;
    while (grib_handle* raw = messages.next()) {
        ++messageCount;
        ++m_tally.units;
        Handle h(raw);
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

    while (grib_handle* raw = messages.next()) {
        Handle h(raw);
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
