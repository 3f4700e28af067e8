// Exact levels and layers. ecCodes' integer "level" makes different fields
// equal (soil layers 0-0.1 m, 0.1-0.4 m and 0.4-1 m all read 0; sigma 0.995
// reads 1), so a field also carries the exact value of its first fixed
// surface and, for a layer, of its second, both in the units of "level".
// A field is then named on a level list by one value:
// - a single level by its exact value (which is the integer level wherever
//   that was exact, so integer levels read as they always did);
// - a layer by its first surface, unless two layers of its variable share
//   their first surface and differ in the second (sigma 0.44-1 and
//   0.44-0.72): then every layer of that variable by its middle.
#pragma once

#include "model/pdata.h"

#include <cmath>
#include <vector>

struct ExactLevel {
    double first = NAN;   // the first surface's value
    double second = NAN;  // a layer's second surface; NaN for a single level

    // A layer whose two surfaces are one (as single levels read back from a
    // file with bounds) is a single level.
    bool isLayer() const { return std::isfinite(second) && static_cast<float>(second) != static_cast<float>(first); }
    double middle() const { return isLayer() ? (first + second) / 2.0 : first; }
    // Levels are told apart in single precision, as the level axes hold them.
    bool operator==(const ExactLevel& o) const
    {
        return static_cast<float>(first) == static_cast<float>(o.first) && isLayer() == o.isLayer() &&
               (!isLayer() || static_cast<float>(second) == static_cast<float>(o.second));
    }
    bool operator!=(const ExactLevel& o) const { return !(*this == o); }
};

// The exact level of a field (or a probed message) whose reader gave
// `value` and `bottom` (NaN for none) and the integer `level`: its own value
// where there is one, its integer level otherwise.
ExactLevel exactLevelOf(double value, double bottom, int32_t level);
inline ExactLevel exactLevelOf(const p_data& field)
{
    return exactLevelOf(field.levelValue, field.levelBottom, field.level);
}

// Whether the layers among `levels` are named by their middles: two of them
// share their first surface and differ in the second.
bool layersNamedByMiddle(const std::vector<ExactLevel>& levels);

// The value a level list names the level by (see above).
double listedValueOf(const ExactLevel& level, bool byMiddle);

// Further values an existing table may name the level by, after the first:
// a layer's other value (its first surface or its middle) and the integer
// level ecCodes gives, so that tables written before exact levels keep
// converting where they are unambiguous.
std::vector<double> levelCandidates(const ExactLevel& level, bool byMiddle, int32_t integerLevel);
