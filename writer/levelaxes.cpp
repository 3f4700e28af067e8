#include "writer/levelaxes.h"

#include "writer/ncput.h"

#include <QString>

namespace {

struct KindText {
    const char* longName;
    const char* units;
    const char* standardName;
    const char* positive;
};

const KindText& textOf(LevelKind kind)
{
    static const KindText unknown = {"isobaric level", "hPa", nullptr, nullptr};
    static const KindText isobaric = {"isobaric level", "hPa", "air_pressure", "down"};
    static const KindText height = {"height above ground", "m", "height", "up"};
    static const KindText altitude = {"altitude above mean sea level", "m", "altitude", "up"};
    static const KindText isentropic = {"isentropic level", "K", "air_potential_temperature", "up"};
    static const KindText other = {nullptr, nullptr, nullptr, nullptr};
    switch (kind) {
    case LevelKind::Isobaric:
        return isobaric;
    case LevelKind::HeightAboveGround:
        return height;
    case LevelKind::AltitudeAboveSea:
        return altitude;
    case LevelKind::Isentropic:
        return isentropic;
    case LevelKind::Other:
        return other;
    case LevelKind::Unknown:
        break;
    }
    return unknown;
}

// GRIB 1 level indicators (code table 3).
LevelLabel ofIndicator(int indicator)
{
    switch (indicator) {
    case 100:
        return {LevelKind::Isobaric, {}};
    case 103:
        return {LevelKind::AltitudeAboveSea, {}};
    case 105:
        return {LevelKind::HeightAboveGround, {}};
    case 113:
        return {LevelKind::Isentropic, {}};
    default:
        break;
    }
    static const std::map<int, const char*> surfaces = {
        {1, "Ground or water surface"}, {2, "Cloud base level"}, {3, "Level of cloud tops"},
        {4, "Level of 0 degree C isotherm"}, {7, "Tropopause"}, {8, "Nominal top of the atmosphere"},
        {102, "Mean sea level"}, {107, "Sigma level"}, {109, "Hybrid level"}, {111, "Depth below land surface"},
        {117, "Potential vorticity surface"}, {200, "Entire atmosphere"},
    };
    const auto it = surfaces.find(indicator);
    if (it != surfaces.end())
        return {LevelKind::Other, it->second};
    return {LevelKind::Other, "GRIB 1 level type " + std::to_string(indicator)};
}

}  // namespace

LevelLabel levelLabelOf(const std::string& surface, int levelIndicator, const std::string& levelType)
{
    if (!surface.empty()) {
        static const std::map<std::string, LevelKind> known = {
            {"Isobaric surface", LevelKind::Isobaric},
            {"Specified height level above ground", LevelKind::HeightAboveGround},
            {"Specific altitude above mean sea level", LevelKind::AltitudeAboveSea},
            {"Isentropic (theta) level", LevelKind::Isentropic},
        };
        const auto it = known.find(surface);
        return it != known.end() ? LevelLabel{it->second, {}} : LevelLabel{LevelKind::Other, surface};
    }
    if (levelIndicator > 0)
        return ofIndicator(levelIndicator);
    // The abbreviations ecCodes gives GRIB 1 level types; "sfc" stands for
    // several kinds (the surface, 2 m, mean sea level ...) and names none.
    if (levelType == "pl")
        return {LevelKind::Isobaric, {}};
    if (levelType == "pt")
        return {LevelKind::Isentropic, {}};
    if (levelType == "ml")
        return ofIndicator(109);
    if (levelType == "pv")
        return ofIndicator(117);
    bool number = false;
    const int code = QString::fromStdString(levelType).toInt(&number);
    return number && code > 0 ? ofIndicator(code) : LevelLabel{};
}

std::map<int, LevelLabel> labelAxes(const NC_DATA& vars)
{
    std::map<int, LevelLabel> labels;
    for (const auto& [name, v] : vars) {
        if (v.levelIndex < 0 || labels[v.levelIndex].kind != LevelKind::Unknown)
            continue;
        labels[v.levelIndex] =
            levelLabelOf(v.nameOfFirstFixedSurface, v.prop_level_indicator, v.indicatorOfTypeOfLevel);
    }
    return labels;
}

void putLevelAttributes(int nc, int var, const LevelLabel& label)
{
    const KindText& text = textOf(label.kind);
    putText(nc, var, "long_name", label.kind == LevelKind::Other ? label.surface : text.longName);
    if (text.units)
        putText(nc, var, "units", text.units);
    if (text.standardName)
        putText(nc, var, "standard_name", text.standardName);
    if (text.positive) {
        putText(nc, var, "positive", text.positive);
        putText(nc, var, "axis", "Z");
    }
}
