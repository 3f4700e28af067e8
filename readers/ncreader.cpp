#include "readers/ncreader.h"

#include "logging/fatal.h"
#include "logging/qlogger.h"
#include "readers/ncinput.h"
#include "table/csvfileparser.h"

#include <QFile>

#include <netcdf.h>

#include <algorithm>
#include <set>

namespace {

void logError(const QString& m, int line)
{
    QLogger::getInstance()->printError(m, __FILE_NAME__, "readFormNcfile", line);
}

void logDebug(const QString& m, int line)
{
    QLogger::getInstance()->printDebug(m, __FILE_NAME__, "readFormNcfile", line);
}

// A variable holds one forecast time: the output's variable of another one
// than this run's fields of it cannot take them.
void refuseOtherForecastTime(const CachedData& member, const p_data& readBack, const std::string& name,
                             const std::string& path)
{
    const auto fields = member.find(variableKey(readBack));
    if (fields == member.end() || readBack.forecastTime < 0)
        return;
    for (const p_data& f : fields->second) {
        if (f.readout || f.forecastTime < 0 || f.forecastTime == readBack.forecastTime)
            continue;
        throw FatalError(255,
                         QString("more than one forecast time: %1 in %2 holds forecast hour %3, this run's fields "
                                 "of it hour %4")
                             .arg(QString::fromStdString(name), QString::fromStdString(path))
                             .arg(readBack.forecastTime)
                             .arg(f.forecastTime),
                         KV_HERE,
                         QString("a variable holds one forecast time; %1 is left as it was")
                             .arg(QString::fromStdString(path)));
    }
}

}  // namespace

void ncReader::read(std::string path, CachedData* in_data)
{
    if (!CsvFileParser::getInstance()->m_overWrite)
        return;
    // Reading member 0 of an ensemble output raises g_collect_number to its
    // last member, so that each of its members is read.
    for (int i = 0; i <= std::clamp<int>(g_collect_number, 0, kMemberSlots - 1); ++i)
        readFormNcfile(path, in_data, i);
}

void ncReader::readFormNcfile(std::string path, CachedData* in_data, int chs)
{
    if (!QFile::exists(QString::fromStdString(path)))
        return;
    // An output that cannot be read back ends the run before anything is written.
    const QString leftAsItWas = "the existing output is left as it was";
    const NcInput file(path, leftAsItWas);
    m_history = file.optionalText(NC_GLOBAL, "history");
    auto cannotRead = [&](const QString& why) {
        throw FatalError(2, QString("netCDF: cannot read back %1: %2").arg(QString::fromStdString(path), why), KV_HERE,
                         leftAsItWas);
    };
    std::vector<int> allDims(static_cast<size_t>(file.dimCount()));
    for (int d = 0; d < file.dimCount(); ++d) {
        allDims[static_cast<size_t>(d)] = d;
        // The merged output keeps every member the old one holds, however
        // many this run brings.
        const size_t members = file.dimLength(d);
        if (file.dimName(d) != "ens" || members == 0)
            continue;
        if (members > static_cast<size_t>(kMemberSlots))
            cannotRead(QString("it holds %1 members, more than %2").arg(members).arg(kMemberSlots));
        g_collect_number = std::max<int32_t>(g_collect_number, static_cast<int32_t>(members - 1));
    }
    const std::map<std::string, std::vector<float>> coordinates = file.coordinates(allDims);
    auto valuesOf = [&](const std::string& dim) -> const std::vector<float>* {
        const auto it = coordinates.find(dim);
        return it == coordinates.end() ? &NcLayout::kNone : &it->second;
    };
    // The bounds of level axes of layers, by the axis's dimension name; the
    // bounds variables themselves are no data.
    std::map<std::string, std::vector<float>> levelBounds;
    std::set<std::string> boundsVariables;
    for (int d = 0; d < file.dimCount(); ++d) {
        std::string name;
        std::vector<float> values = file.bounds(d, name);
        if (!name.empty())
            boundsVariables.insert(name);
        if (!values.empty())
            levelBounds[file.dimName(d)] = std::move(values);
    }

    CsvFileParser* table = CsvFileParser::getInstance();
    int variablesRead = 0;
    for (int var = 0; var < file.varCount(); ++var) {
        const std::string name = file.varName(var);
        // The member axis of an ensemble file carries no attributes; the time
        // coordinates have no dimensions, and every coordinate variable is
        // named like its one dimension.
        const std::vector<int> dims = file.varDims(var);
        if (name == "ens" || dims.empty() || (dims.size() == 1 && file.dimName(dims[0]) == name) ||
            boundsVariables.count(name) != 0)
            continue;
        const std::string longName = file.text(var, "long_name");
        if (longName == "isobaric level" || longName == "longitude" || longName == "latitude" || longName == "ens")
            continue;

        NcLayout layout;
        layout.dims = dims;
        bool memberHeld = true;
        for (size_t k = 0; k < layout.dims.size(); ++k) {
            const std::string dimName = file.dimName(layout.dims[k]);
            if (dimName == "ens") {
                // A variable with a member axis gives member chs.
                layout.picks[k] = static_cast<size_t>(chs);
                memberHeld = memberHeld && file.dimLength(layout.dims[k]) > static_cast<size_t>(chs);
                continue;
            }
            // A dimension without a coordinate variable gives no axis.
            int coordinate = -1;
            if (nc_inq_varid(file.id(), dimName.c_str(), &coordinate) != NC_NOERR)
                continue;
            const std::string role = file.text(coordinate, "long_name");
            // Level axes other than isobaric ones name their kind of level.
            if (role == "isobaric level" || (dimName.rfind("level_", 0) == 0 && role != "longitude" &&
                                             role != "latitude" && role != "ens")) {
                layout.levels = valuesOf(dimName);
                layout.levelAt = static_cast<int>(k);
                const auto bounds = levelBounds.find(dimName);
                if (bounds != levelBounds.end())
                    layout.levelBounds = &bounds->second;
            } else if (role == "longitude") {
                layout.lons = valuesOf(dimName);
            } else if (role == "latitude") {
                layout.lats = valuesOf(dimName);
            }
        }

        p_data base;
        base.prop_units = file.text(var, "units");
        base.dimDx = spacingCode(*layout.lons);
        base.prop_initial_time = file.text(var, "initial_time");
        // A variable read back keeps the forecast time the output gives it.
        base.forecastTime = file.integer(var, "forcast_time");
        const std::string surface = file.text(var, "nameOfFirstFixedSurface");
        base.typedoflevels = file.text(var, "indicatorOfTypeOfLevel");
        base.prop_fillValue = file.real(var, "_FillValue");
        base.isFi = file.integer(var, "calByKVL") != 0;
        base.prop_standardName = file.optionalText(var, "standard_name");
        base.sourceGridType = file.optionalText(var, "source_grid_type");

        // A variable the table no longer names is not carried over; every
        // other one is read whole, or the run ends.
        const CSV_FILE* row = table->findfr(name + "_" + surface + "_" + base.typedoflevels);
        if (!row) {
            logError(QString("[READ NC] find null pointer %1").arg(QString::fromStdString(name)), __LINE__);
            continue;
        }
        if (!memberHeld)
            continue;  // an ensemble run of more members than the file holds
        logDebug(QString("[READ NC] nc_read %1").arg(QString::fromStdString(row->oldFactorName)), __LINE__);

        // Filed under the row's own store key: a further row of an input key
        // has a key of its own.
        base.factorShortName = row->storeName.empty() ? row->oldFactorName : row->storeName;
        base.factorLongName = row->oldDesc;
        base.nameOfFirstFixedSurface = row->nameOfFirstFixedSurface;
        base.perturbationNumber = chs;
        base.readout = true;
        // The precipitation rule chooses among fields of several times.
        if (row->newFactorName != "TP")
            refuseOtherForecastTime(in_data[chs], base, name, path);
        // Undo the writer's rescaling; fill values too, which the writer maps back.
        const double amplification = row->amplification;
        const double offset = row->offset;
        const QString fault = fileLevels(
            file, var, layout, base, [&](float v) { return (static_cast<double>(v) - offset) / amplification; },
            in_data);
        if (!fault.isEmpty())
            cannotRead(QString("variable %1 %2").arg(QString::fromStdString(name), fault));
        ++variablesRead;
    }
    logDebug(QString("[READ NC] read nc end %1").arg(variablesRead), __LINE__);
}

void ncReader::insert(const p_data& in_vexa_data, CachedData* mcache)
{
    fileKeepingLevels(p_data(in_vexa_data), mcache);
}
