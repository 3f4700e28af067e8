// Writing a conversion table from a GRIB file (-p) that converts the file
// as it stands: one row per variable key with each of its levels once, an
// output name of its own, and the area the file's grid spans.
#pragma once

#include "model/pdata.h"

#include <QString>

#include <string>
#include <vector>

// Reads every message of `fileName` into `groups` (variable key -> its
// messages in file order) and writes the table `tableFile` through a save
// file. The trace lines go to standard output; messages left out of the
// table and an area the grid does not give are said on standard error. False
// when the input could not be read whole (said) or the table could not be
// written; a cut or damaged message ends the run (status 255).
bool writeGribProbeTable(const QString& fileName, const QString& tableFile, probeData& groups);

// A row's output name is its short name made a valid netCDF name; where rows
// share one, the first keeps it and each other takes "_" and the level type
// of its row ("t_isobaricInhPa"), then "_2", "_3"... while that is another
// row's name too.
struct OutputNameOf {
    std::string shortName;
    std::string typeOfLevel;
};
std::vector<std::string> uniqueOutputNames(const std::vector<OutputNameOf>& rows);
