#include "readers/ncreader.h"

#include "logging/qlogger.h"
#include "readers/ncinput.h"
#include "table/csvfileparser.h"

#include <QFile>

#include <netcdf.h>

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

}  // namespace

void ncReader::read(std::string path, CachedData* in_data)
{
    if (!CsvFileParser::getInstance()->m_overWrite)
        return;
    const int last = std::clamp<int>(g_collect_number, 0, kMemberSlots - 1);
    for (int i = 0; i <= last; ++i)
        readFormNcfile(path, in_data, i);
}

void ncReader::readFormNcfile(std::string path, CachedData* in_data, int chs)
{
    if (!QFile::exists(QString::fromStdString(path)))
        return;
    // An output that cannot be read back ends the run before anything is written.
    const NcInput file(path, "the existing output is left as it was");
    std::vector<int> allDims(static_cast<size_t>(file.dimCount()));
    for (int d = 0; d < file.dimCount(); ++d)
        allDims[static_cast<size_t>(d)] = d;
    const std::map<std::string, std::vector<float>> coordinates = file.coordinates(allDims);
    const std::vector<float> none;
    auto valuesOf = [&](const std::string& dim) -> const std::vector<float>& {
        const auto it = coordinates.find(dim);
        return it == coordinates.end() ? none : it->second;
    };

    CsvFileParser* table = CsvFileParser::getInstance();
    int variablesRead = 0;
    for (int var = 0; var < file.varCount(); ++var) {
        const std::string name = file.varName(var);
        // The member axis of an ensemble file carries no attributes.
        if (name == "ens")
            continue;
        const std::string longName = file.text(var, "long_name");
        if (longName == "isobaric level" || longName == "longitude" || longName == "latitude" || longName == "ens")
            continue;

        const std::vector<int> dims = file.varDims(var);
        const std::vector<float>* levels = &none;
        const std::vector<float>* lons = &none;
        const std::vector<float>* lats = &none;
        std::map<size_t, size_t> picks;  // a variable with a member axis gives member chs
        for (size_t k = 0; k < dims.size(); ++k) {
            const std::string dimName = file.dimName(dims[k]);
            if (dimName == "ens") {
                picks[k] = static_cast<size_t>(chs);
                continue;
            }
            int coordinate = -1;
            file.check(nc_inq_varid(file.id(), dimName.c_str(), &coordinate));
            const std::string role = file.text(coordinate, "long_name");
            if (role == "isobaric level")
                levels = &valuesOf(dimName);
            else if (role == "longitude")
                lons = &valuesOf(dimName);
            else if (role == "latitude")
                lats = &valuesOf(dimName);
        }

        const std::string units = file.text(var, "units");
        if (lons->empty() || lats->empty()) {
            logError("[READ NC] data error", __LINE__);
            continue;
        }
        p_data base;
        base.dimDx = spacingCode(*lons);
        base.prop_initial_time = file.text(var, "initial_time");
        file.integer(var, "forcast_time");
        const std::string surface = file.text(var, "nameOfFirstFixedSurface");
        base.typedoflevels = file.text(var, "indicatorOfTypeOfLevel");
        base.prop_fillValue = file.real(var, "_FillValue");
        base.isFi = file.integer(var, "calByKVL") != 0;

        const CSV_FILE* row = table->findfr(name + "_" + surface + "_" + base.typedoflevels);
        if (!row) {
            logError(QString("[READ NC] find null pointer %1").arg(QString::fromStdString(name)), __LINE__);
            continue;
        }

        const size_t expected = std::max<size_t>(levels->size(), 1) * lons->size() * lats->size();
        std::vector<float> buffer;
        if (!file.readSlab(var, dims, picks, expected, buffer)) {
            // Another shape than its axes, or no such member in the file.
            if (picks.empty() || file.dimLength(dims[picks.begin()->first]) > static_cast<size_t>(chs))
                logError(QString("[READ NC] data error: %1 does not have the shape of its axes")
                             .arg(QString::fromStdString(name)),
                         __LINE__);
            continue;
        }
        if (buffer.empty()) {
            logError(QString("[READ NC] error %1 data is empty").arg(QString::fromStdString(name)), __LINE__);
            continue;
        }
        logDebug(QString("[READ NC] nc_read %1").arg(QString::fromStdString(row->oldFactorName)), __LINE__);

        base.factorShortName = row->oldFactorName;
        base.factorLongName = row->oldDesc;
        base.nameOfFirstFixedSurface = row->nameOfFirstFixedSurface;
        base.prop_units = units;
        base.forecastTime = g_forcastTime;
        base.perturbationNumber = chs;
        base.readout = true;
        // Undo the writer's rescaling; fill values too, which the writer maps back.
        const double amplification = row->amplification;
        const double offset = row->offset;
        fileLevels(base, *levels, *lats, *lons, buffer,
                   [&](float v) { return (static_cast<double>(v) - offset) / amplification; }, in_data);
        ++variablesRead;
    }
    logDebug(QString("[READ NC] read nc end %1").arg(variablesRead), __LINE__);
}

void ncReader::insert(const p_data& in_vexa_data, CachedData* mcache)
{
    fileKeepingLevels(p_data(in_vexa_data), mcache);
}
