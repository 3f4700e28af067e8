#include "writer/ncput.h"

#include "logging/fatal.h"
#include "logging/version.h"

#include <QRegularExpression>

#include <netcdf.h>

#include <cctype>
#include <cstdio>

void ncCheck(int status, const char* what)
{
    if (status == NC_NOERR)
        return;
    std::printf("Error: %s\n", nc_strerror(status));
    std::fflush(stdout);
    throw FatalError(2, QString("netCDF: %1 failed: %2").arg(what, nc_strerror(status)), KV_HERE);
}

void putText(int nc, int var, const char* name, const std::string& text)
{
    nc_put_att_text(nc, var, name, text.size(), text.data());
}

void putFloat(int nc, int var, const char* name, float value)
{
    nc_put_att_float(nc, var, name, NC_FLOAT, 1, &value);
}

void putInt(int nc, int var, const char* name, int value)
{
    nc_put_att_int(nc, var, name, NC_INT, 1, &value);
}

void putVariableAttributes(int nc, const NC_STRUCT& v, bool ensemble, const std::string& coordinates)
{
    putText(nc, v.varid, "grid_type", "Latitude/longitude");
    putText(nc, v.varid, "initial_time", v.prop_initial_time);
    putText(nc, v.varid, "forcast_time_units", "hours");
    putInt(nc, v.varid, "forcast_time", v.forecastTime);
    putText(nc, v.varid, "long_name", v.longname);
    putText(nc, v.varid, "nameOfFirstFixedSurface", v.nameOfFirstFixedSurface);
    putText(nc, v.varid, "indicatorOfTypeOfLevel", v.indicatorOfTypeOfLevel);
    putFloat(nc, v.varid, "_FillValue", v.fillValue);
    putText(nc, v.varid, "units", v.units);
    if (!ensemble)
        putInt(nc, v.varid, "dimDx", v.dimDx);
    putInt(nc, v.varid, "calByKVL", v.isFi ? 1 : 0);
    if (isStandardName(v.standardName))
        putText(nc, v.varid, "standard_name", v.standardName);
    if (!coordinates.empty())
        putText(nc, v.varid, "coordinates", coordinates);
    // Values taken from another kind of grid say so, and how.
    if (!v.sourceGridType.empty()) {
        putText(nc, v.varid, "source_grid_type", v.sourceGridType);
        putText(nc, v.varid, "regrid_method", kNearestSourcePoint);
    }
}

bool isStandardName(const std::string& text)
{
    if (text.empty() || text == "unknown" || !std::islower(static_cast<unsigned char>(text[0])))
        return false;
    for (char c : text)
        if (!(std::islower(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) || c == '_'))
            return false;
    return true;
}

void putGlobalAttributes(int nc, const std::string& history)
{
    putText(nc, NC_GLOBAL, "Conventions", "CF-1.8");
    putText(nc, NC_GLOBAL, "source", programNameAndVersion());
    if (!history.empty())
        putText(nc, NC_GLOBAL, "history", history);
}

std::string historyLine(const QDateTime& when, const QStringList& commandLine)
{
    static const QRegularExpression plain("^[A-Za-z0-9_@%+=:,./-]+$");
    QStringList words;
    for (QString word : commandLine) {
        // One run, one line: line ends inside an argument become blanks.
        word.replace('\n', ' ').replace('\r', ' ');
        if (!plain.match(word).hasMatch())
            word = "'" + word.replace("'", "'\\''") + "'";
        words << word;
    }
    return (when.toUTC().toString("yyyy-MM-ddTHH:mm:ssZ") + ": " + words.join(' ')).toStdString();
}

std::string appendHistory(const std::string& earlier, const std::string& line)
{
    // A line keeps its beginning (the time, the program, the first words).
    const std::string last = line.size() <= kMaxHistoryLineBytes
                                  ? line
                                  : line.substr(0, kMaxHistoryLineBytes - 4) + " ...";
    const std::string all = earlier.empty() ? last : earlier + "\n" + last;
    if (all.size() <= kMaxHistoryBytes)
        return all;
    // The oldest lines go; the newest line always fits after the marker.
    const std::string marker = "(earlier history left out)";
    size_t from = all.size() - (kMaxHistoryBytes - marker.size() - 1);
    if (all[from - 1] != '\n')
        from = all.find('\n', from) + 1;
    return marker + "\n" + all.substr(from);
}
