// What the parts of the writer put into the output file alike: netCDF calls
// that must succeed, attributes, the attributes of a data variable, and the
// file's global attributes with the history a run adds to them.
#pragma once

#include "writer/ncstruct.h"

#include <QDateTime>
#include <QStringList>

#include <string>

// A netCDF call that must succeed: its failure ends the run with status 2
// ("Error: <message>" on standard output). The file under construction is
// the run's lock file, which its owner removes when the run fails; an
// existing output is never touched.
void ncCheck(int status, const char* what);

// Attribute writes are not checked: a missing attribute does not spoil the data.
void putText(int nc, int var, const char* name, const std::string& text);
void putFloat(int nc, int var, const char* name, float value);
void putInt(int nc, int var, const char* name, int value);

// The method named by a variable whose values were taken from another kind of
// grid, each cell from its nearest point.
constexpr const char* kNearestSourcePoint = "nearest source point";

// The attributes of a data variable, in the order the file carries them:
// the layout's own, then "standard_name" when the variable has a valid one,
// "coordinates" when `coordinates` is not empty, and "source_grid_type" and
// "regrid_method" for values taken from another kind of grid.

void putVariableAttributes(int nc, const NC_STRUCT& v, bool ensemble, const std::string& coordinates);

// Whether a text can be a CF standard name: lower-case letters, digits and
// "_", starting with a letter; ecCodes' "unknown" is none.
bool isStandardName(const std::string& text);

// "Conventions" ("CF-1.8"), "source" (the program and its version) and,
// when not empty, "history".
void putGlobalAttributes(int nc, const std::string& history);

// One line of history: the time (UTC, to the second) and the command line,
// its words quoted where a shell would need it.
std::string historyLine(const QDateTime& when, const QStringList& commandLine);

// `line` after the lines of `earlier`, so that a file merged run after run
// keeps an attribute of bounded size: a line longer than
// kMaxHistoryLineBytes keeps its beginning, and beyond kMaxHistoryBytes the
// oldest lines go, replaced by one line that says so.
std::string appendHistory(const std::string& earlier, const std::string& line);
constexpr size_t kMaxHistoryBytes = 16 * 1024;
constexpr size_t kMaxHistoryLineBytes = 4 * 1024;
