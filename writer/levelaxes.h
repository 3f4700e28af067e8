// What the level axes of an output measure. A variable's kind of level comes
// from its surface name (GRIB 2), its level indicator (GRIB 1) or its level
// type text (GRIB 1 read back from an output); an axis is labelled by the
// first variable on it, in name order, whose kind is known.
#pragma once

#include "writer/ncstruct.h"

#include <map>
#include <string>

enum class LevelKind {
    Unknown,            // labelled as the layout always did: "isobaric level", "hPa"
    Isobaric,           // "isobaric level", "hPa", air_pressure, positive down
    HeightAboveGround,  // "height above ground", "m", height, positive up
    AltitudeAboveSea,   // "altitude above mean sea level", "m", altitude, positive up
    Isentropic,         // "isentropic level", "K", air_potential_temperature, positive up
    Other,              // named by its surface, without units
};

struct LevelLabel {
    LevelKind kind = LevelKind::Unknown;
    std::string surface;  // the surface's name, for LevelKind::Other
};

LevelLabel levelLabelOf(const std::string& surface, int levelIndicator, const std::string& levelType);

// The label of each level axis id that a variable of `vars` uses (through
// its levelIndex, whatever its number of levels).
std::map<int, LevelLabel> labelAxes(const NC_DATA& vars);

// "long_name" and, where the kind has them, "units", "standard_name",
// "positive" and "axis", in this order.
void putLevelAttributes(int nc, int var, const LevelLabel& label);
