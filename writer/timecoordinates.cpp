#include "writer/timecoordinates.h"

#include "writer/ncput.h"

#include <netcdf.h>

#include <algorithm>

namespace {

std::string numbered(const char* prefix, int n)
{
    return prefix + std::to_string(n);
}

}  // namespace

bool parseInitialTime(const std::string& text, QDateTime& out)
{
    if (text.size() < 9 || text.size() > 12 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const QDate date = QDate::fromString(QString::fromStdString(text.substr(0, 8)), "yyyyMMdd");
    const int hhmm = std::stoi(text.substr(8));
    const QTime time(hhmm / 100, hhmm % 100);
    if (!date.isValid() || !time.isValid())
        return false;
    out = QDateTime(date, time, Qt::UTC);
    return true;
}

TimeCoordinates::TimeCoordinates(std::vector<std::string> names) : m_names(std::move(names))
{
}

std::string TimeCoordinates::coordinatesFor(const std::string& initialTime, int forecastHours)
{
    QDateTime initial;
    if (!parseInitialTime(initialTime, initial))
        return std::string();
    forecastHours = std::max(forecastHours, -1);
    auto [it, added] = m_index.emplace(std::make_pair(initialTime, forecastHours), m_groups.size());
    if (added) {
        // A number whose names a variable of the file already takes is passed over.
        auto taken = [&](int n) {
            for (const char* prefix : {"time_", "reftime_", "period_"})
                if (std::find(m_names.begin(), m_names.end(), numbered(prefix, n)) != m_names.end())
                    return true;
            return false;
        };
        while (taken(m_next))
            ++m_next;
        Group g;
        g.initial = initial;
        g.forecastHours = forecastHours;
        g.number = m_next++;
        m_groups.push_back(g);
    }
    const int n = m_groups[it->second].number;
    if (forecastHours < 0)
        return numbered("reftime_", n);
    return numbered("time_", n) + " " + numbered("reftime_", n) + " " + numbered("period_", n);
}

void TimeCoordinates::define(int nc)
{
    for (Group& g : m_groups) {
        const std::string since =
            g.initial.toString("'hours since 'yyyy-MM-dd HH:mm:ss").toStdString();
        struct Scalar {
            const char* prefix;
            int* var;
            const char* standardName;
            const char* longName;
            bool isTime;
        };
        const Scalar scalars[] = {
            {"time_", &g.timeVar, "time", "valid time", true},
            {"reftime_", &g.referenceVar, "forecast_reference_time", "initial time", true},
            {"period_", &g.periodVar, "forecast_period", "forecast period", false},
        };
        for (const Scalar& s : scalars) {
            if (g.forecastHours < 0 && s.var != &g.referenceVar)
                continue;
            const std::string name = numbered(s.prefix, g.number);
            ncCheck(nc_def_var(nc, name.c_str(), NC_DOUBLE, 0, nullptr, s.var), "defining a time coordinate");
            putText(nc, *s.var, "standard_name", s.standardName);
            putText(nc, *s.var, "long_name", s.longName);
            putText(nc, *s.var, "units", s.isTime ? since : "hours");
            if (s.isTime)
                putText(nc, *s.var, "calendar", "standard");
        }
    }
}

void TimeCoordinates::write(int nc) const
{
    for (const Group& g : m_groups) {
        const double hours = g.forecastHours;
        const double zero = 0;
        for (const auto& [var, value] : {std::pair<int, const double*>{g.timeVar, &hours},
                                        {g.referenceVar, &zero},
                                        {g.periodVar, &hours}}) {
            if (var >= 0)
                ncCheck(nc_put_var_double(nc, var, value), "writing a time coordinate");
        }
    }
}
