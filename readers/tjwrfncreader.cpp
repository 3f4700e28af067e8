#include "readers/tjwrfncreader.h"

#include "logging/fatal.h"
#include "logging/progress.h"
#include "logging/qlogger.h"
#include "readers/ncinput.h"
#include "table/csvfileparser.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>

namespace {

void logError(const QString& m, int line)
{
    QLogger::getInstance()->printError(m, __FILE_NAME__, "readFormNcfile", line);
}

void logDebug(const QString& m, int line)
{
    QLogger::getInstance()->printDebug(m, __FILE_NAME__, "readFormNcfile", line);
}

enum class Role { Level, Lon, Lat, Member, Other };

Role roleOf(const std::string& dim)
{
    if (dim == "LEVEL" || dim == "plevel" || dim == "lv_ISBL0")
        return Role::Level;
    if (dim == "lon" || dim == "lon_0" || dim == "lon_1")
        return Role::Lon;
    if (dim == "lat" || dim == "lat_0" || dim == "lat_1")
        return Role::Lat;
    if (dim == "ens")
        return Role::Member;
    return Role::Other;
}

// The dimensions whose coordinate values a file type reads.
std::vector<int> coordinateDims(const QString& type, int dimCount)
{
    std::vector<int> dims;
    if (type == "tjwrf_nc") {
        dims = {0, 1, 6};
    } else if (type == "geps_nc") {
        dims = {0, 1, 2, 3, 4};
    } else {
        for (int d = 0; d < dimCount; ++d)
            dims.push_back(d);
    }
    return dims;
}

}  // namespace

bool TjwrfNcReader::timesFromName(const QString& path, std::string& initialTime, int64_t& forecastHour)
{
    // The rule reads the file name only: directory names may hold "_" or "-".
    QString name = QFileInfo(path).fileName();
    name = name.mid(name.lastIndexOf('_') + 1);
    const int dot = name.lastIndexOf('.');
    if (dot >= 0)
        name = name.left(dot);
    const int dash = name.lastIndexOf('-');
    bool ok = false;
    const qlonglong hour = dash < 0 ? 0 : name.mid(dash + 1).toLongLong(&ok, 10);
    if (dash < 0 || !ok) {
        initialTime.clear();
        forecastHour = -1;
        return false;
    }
    initialTime = (name.left(dash) + "00").toStdString();
    forecastHour = hour;
    return true;
}

bool TjwrfNcReader::readFile(QString fileName)
{
    const int last = std::clamp<int>(g_collect_number, 0, kMemberSlots - 1);
    ProgressLine progress(fileName, "variables");
    struct Following {
        TjwrfNcReader& reader;
        ~Following() { reader.m_progress = nullptr; }
    } following{*this};
    m_progress = &progress;
    m_members = last + 1;
    for (int i = 0; i <= last; ++i)
        readFormNcfile(fileName, m_cache, i);
    return true;
}

void TjwrfNcReader::readFormNcfile(QString path, CachedData* in_data, int chs)
{
    if (!QFile::exists(path))
        return;
    const QString type = CsvFileParser::getInstance()->m_fileType;
    const NcInput file(QFile::encodeName(path).toStdString());

    std::map<std::string, std::vector<float>> coordinates = file.coordinates(coordinateDims(type, file.dimCount()));
    if (type == "geps_nc") {
        const auto pa = coordinates.find("lv_ISBL0");
        if (pa != coordinates.end())
            for (float& level : pa->second)
                level /= 100.0f;  // Pa to hPa
    }
    const std::vector<float> none;

    std::string initialTime;
    int64_t forecastHour = -1;
    if (!timesFromName(path, initialTime, forecastHour))
        reportProblem(QString("[READ NC] %1: no initial time and forecast hour in the file name (expected "
                              "name_YYYYMMDDHH-FFF.nc); forecast hour -1")
                          .arg(path),
                      SourcePlace{__FILE_NAME__, "readFormNcfile", __LINE__});

    CsvFileParser* table = CsvFileParser::getInstance();
    int variablesRead = 0;
    for (int var = 0; var < file.varCount(); ++var) {
        if (m_progress)
            m_progress->update(static_cast<uint64_t>(chs) * static_cast<uint64_t>(file.varCount()) + var,
                               (chs + static_cast<double>(var) / file.varCount()) / m_members);
        const std::string name = file.varName(var);
        const QString qName = QString::fromStdString(name);
        const std::string units = file.text(var, "units");
        if (units == "degrees_east" || units == "degrees_north")
            continue;
        NcLayout layout;
        layout.dims = file.varDims(var);
        if (layout.dims.size() == 1 || (layout.dims.size() == 4 && type == "tjwrf_nc"))
            continue;

        // Dimensions that give no axis (time, member, a level axis whose
        // values were not read) contribute their first entry only.
        QStringList leftOut;
        for (size_t k = 0; k < layout.dims.size(); ++k) {
            const std::string dimName = file.dimName(layout.dims[k]);
            const auto values = coordinates.find(dimName);
            const std::vector<float>* axis = values == coordinates.end() ? nullptr : &values->second;
            const Role role = roleOf(dimName);
            if (role == Role::Level && axis) {
                layout.levels = axis;
                layout.levelAt = static_cast<int>(k);
            } else if (role == Role::Lon && axis) {
                layout.lons = axis;
            } else if (role == Role::Lat && axis) {
                layout.lats = axis;
            } else {
                layout.picks[k] = 0;
                const size_t length = file.dimLength(layout.dims[k]);
                if (length > 1)
                    leftOut << QString("%1 (%2 entries)").arg(QString::fromStdString(dimName)).arg(length);
            }
        }
        const float inputFill = file.real(var, "_FillValue");

        // One field per level is offered.
        const uint64_t firstOrigin = m_tally.met(name + "__", std::max<size_t>(layout.levels->size(), 1));
        const CSV_FILE* row = table->find(name + "__");
        if (!row) {
            logError(QString("[READ NC] find null pointer %1").arg(qName), __LINE__);
            continue;
        }
        logDebug(QString("[READ NC] nc_read %1").arg(QString::fromStdString(row->oldFactorName)), __LINE__);

        g_forcastTime = forecastHour;
        p_data base;
        base.factorShortName = row->oldFactorName;
        base.factorLongName = row->oldDesc;
        base.prop_units = row->newUnit;
        base.dimDx = spacingCode(*layout.lons);
        base.prop_initial_time = initialTime;
        base.forecastTime = forecastHour;
        base.prop_fillValue = 9999.0f;
        base.perturbationNumber = chs;
        base.origin = firstOrigin;
        base.isFi = false;
        base.readout = true;
        // Values reach the output in the input's units: the writer applies
        // the row's scaling again.
        const double amplification = row->amplification;
        const double offset = row->offset;
        const QString fault = fileLevels(
            file, var, layout, base,
            [&](float v) { return v == inputFill ? 9999.0 : (static_cast<double>(v) - offset) / amplification; },
            in_data);
        // A variable that cannot be read is left out; the run goes on with the others.
        if (!fault.isEmpty()) {
            reportProblem(QString("[READ NC] %1: %2 %3; it is not read").arg(path, qName, fault),
                          SourcePlace{__FILE_NAME__, "readFormNcfile", __LINE__});
            continue;
        }
        if (!leftOut.isEmpty())
            reportProblem(QString("[READ NC] %1: %2 is read at the first entry of %3 only; the other entries are "
                                  "left out")
                              .arg(path, qName, leftOut.join(", ")),
                          SourcePlace{__FILE_NAME__, "readFormNcfile", __LINE__});
        ++variablesRead;
    }
    if (m_progress)
        m_progress->update(static_cast<uint64_t>(chs + 1) * static_cast<uint64_t>(file.varCount()),
                           static_cast<double>(chs + 1) / m_members);
    logDebug(QString("[READ NC] read nc end %1").arg(variablesRead), __LINE__);
}

void TjwrfNcReader::insert(const p_data& in_vexa_data, CachedData* mcache)
{
    fileKeepingLevels(p_data(in_vexa_data), mcache);
}
