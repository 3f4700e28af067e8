#include "readers/gribidentity.h"

#include "readers/gribkeys.h"
#include "table/csvfileparser.h"

#include <cctype>
#include <cstdio>

namespace {

std::string withoutWhiteSpace(const std::string& text)
{
    std::string out;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            out += c;
    return out;
}

// Where the message lies: edition, level type, surface and level. False for
// an edition the naming does not read.
bool readPlace(grib_handle* h, const QString& fileName, GribNaming naming, GribIdentity& out)
{
    out.edition = gribkeys::needLong(h, "editionNumber", fileName);
    out.levelType = gribkeys::optionalText(h, "indicatorOfTypeOfLevel");
    if (out.edition == 2) {
        out.surface = gribkeys::needText(h, "nameOfFirstFixedSurface", fileName);
        CsvFileParser::trimString(out.surface);
    } else if (naming == GribNaming::Conversion) {
        if (out.edition != 1)
            return false;
        out.levelIndicator = static_cast<int32_t>(gribkeys::needLong(h, "indicatorOfTypeOfLevel", fileName));
    }
    // The level's text must be readable too, whatever its length.
    gribkeys::needText(h, "level", fileName);
    out.level = gribkeys::needLong(h, "level", fileName);
    return true;
}

// A message without a name of its own is known by its parameter name.
void nameUnnamed(GribNaming naming, GribIdentity& out)
{
    if (naming == GribNaming::Conversion) {
        if (out.name == "unknown") {
            out.shortName = withoutWhiteSpace(out.parameterName);
            out.name = out.shortName;
        }
    } else if (out.name == "unknown" || out.name.empty()) {
        out.shortName = withoutWhiteSpace(out.parameterName);
        std::printf("pname:%s\n", out.parameterName.c_str());
    }
}

}  // namespace

GribNames readGribNames(grib_handle* h, const QString& fileName)
{
    GribNames names;
    names.name = gribkeys::needText(h, "name", fileName);
    names.shortName = gribkeys::optionalText(h, "shortName");
    return names;
}

bool readGribIdentity(grib_handle* h, const QString& fileName, GribNaming naming, GribIdentity& out)
{
    return readGribIdentity(h, fileName, naming, readGribNames(h, fileName), out);
}

bool readGribIdentity(grib_handle* h, const QString& fileName, GribNaming naming, const GribNames& names,
                      GribIdentity& out)
{
    out = GribIdentity();
    out.name = names.name;
    if (naming == GribNaming::Table)
        std::printf("name:%s\n", out.name.c_str());
    gribkeys::trimTrailingBlanks(out.name);
    out.parameterName = gribkeys::optionalText(h, "parameterName");
    out.shortName = names.shortName;
    gribkeys::trimTrailingBlanks(out.shortName);

    if (!readPlace(h, fileName, naming, out))
        return false;
    nameUnnamed(naming, out);
    return true;
}
