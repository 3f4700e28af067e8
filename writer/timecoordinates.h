// The times of an output's variables as scalar coordinates. Each distinct
// pair of initial time and forecast hours, numbered 0, 1, ... in the order
// the variables (in name order) first use it, gives three variables without
// dimensions: the valid time "time_N", the reference time "reftime_N" and the
// forecast period "period_N", which the variable names in its "coordinates"
// attribute. A variable without forecast time (-1: GRIB 1 messages carry no
// forecastTime key) gets its reference time alone.
#pragma once

#include "writer/ncstruct.h"

#include <QDateTime>

#include <map>
#include <string>
#include <utility>
#include <vector>

// An initial time as the readers give it: the date "yyyyMMdd" followed by
// the time of day as a number hhmm without leading zeros ("0", "600",
// "1200"), the form of GRIB's dataDate and dataTime; false for any other
// text or a date or time that does not exist.
bool parseInitialTime(const std::string& text, QDateTime& out);

class TimeCoordinates {
public:
    // `names`: every name the file's variables already take, which the
    // numbering passes over.
    explicit TimeCoordinates(std::vector<std::string> names);

    // The "coordinates" text for a variable of this initial time and
    // forecast hours; empty when the initial time cannot be read (the
    // variable gets no time coordinates), the reference time alone when the
    // forecast time is negative.
    std::string coordinatesFor(const std::string& initialTime, int forecastHours);

    // Defines the scalars of every pair handed out; in define mode. A
    // failure ends the run (status 2).
    void define(int nc);
    // Writes their values; after the definitions.
    void write(int nc) const;

private:
    struct Group {
        QDateTime initial;
        int forecastHours = -1;  // negative: not known
        int number = 0;
        int timeVar = -1, referenceVar = -1, periodVar = -1;
    };
    std::vector<Group> m_groups;
    std::map<std::pair<std::string, int>, size_t> m_index;
    std::vector<std::string> m_names;
    int m_next = 0;
};
