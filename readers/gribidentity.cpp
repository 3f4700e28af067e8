#include "readers/gribidentity.h"

#include "readers/gribkeys.h"
#include "table/csvfileparser.h"

#include <cctype>
#include <cmath>
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

// Where the message lies: edition, level type, surface and level.
IdentityRead readPlace(grib_handle* h, const QString& fileName, GribNaming naming, GribIdentity& out)
{
    out.edition = gribkeys::needLong(h, "editionNumber", fileName);
    out.levelType = gribkeys::optionalText(h, "indicatorOfTypeOfLevel");
    if (out.edition == 2) {
        // A product template without a first fixed surface (satellite
        // products) has neither the surface's name nor a level.
        if (grib_is_defined(h, "typeOfFirstFixedSurface") == 0 || grib_is_defined(h, "level") == 0)
            return IdentityRead::NoSurface;
        out.surface = gribkeys::needText(h, "nameOfFirstFixedSurface", fileName);
        CsvFileParser::trimString(out.surface);
    } else if (naming == GribNaming::Conversion) {
        if (out.edition != 1)
            return IdentityRead::OtherEdition;
        out.levelIndicator = static_cast<int32_t>(gribkeys::needLong(h, "indicatorOfTypeOfLevel", fileName));
    }
    // The level's text must be readable too, whatever its length.
    gribkeys::needText(h, "level", fileName);
    out.level = gribkeys::needLong(h, "level", fileName);
    return IdentityRead::Read;
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

GribNames readGribShortName(grib_handle* h, const QString& fileName)
{
    GribNames names;
    names.shortName = gribkeys::optionalText(h, "shortName");
    std::string trimmed = names.shortName;
    gribkeys::trimTrailingBlanks(trimmed);
    if (trimmed.empty() || trimmed == "unknown")
        names.name = gribkeys::needText(h, "name", fileName);
    return names;
}

IdentityRead readGribIdentity(grib_handle* h, const QString& fileName, GribNaming naming, GribIdentity& out)
{
    return readGribIdentity(h, fileName, naming, readGribNames(h, fileName), out);
}

IdentityRead readGribIdentity(grib_handle* h, const QString& fileName, GribNaming naming, const GribNames& names,
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

    const IdentityRead read = readPlace(h, fileName, naming, out);
    if (read == IdentityRead::OtherEdition)
        return read;
    nameUnnamed(naming, out);
    return read;
}

QString noSurfaceReason(grib_handle* h)
{
    long product = -1;
    if (grib_get_long(h, "productDefinitionTemplateNumber", &product) != 0)
        return QString("its product has no fixed surface");
    return QString("product template 4.%1 has no fixed surface").arg(product);
}

ExactLevel readExactLevel(grib_handle* h, long edition, long level)
{
    ExactLevel exact;
    exact.first = static_cast<double>(level);
    double value = 0;
    if (grib_get_double(h, "level", &value) == 0 && std::isfinite(value))
        exact.first = value;
    // GRIB 2 names a layer by its second surface; GRIB 1 by its level type,
    // whose bottom then differs from its top.
    long secondType = 255;
    if (edition == 2 && (grib_get_long(h, "typeOfSecondFixedSurface", &secondType) != 0 || secondType == 255))
        return exact;
    int err = 0;
    if (edition == 2 && (grib_is_missing(h, "scaledValueOfSecondFixedSurface", &err) != 0 || err != 0))
        return exact;
    double bottom = 0;
    if (grib_get_double(h, "bottomLevel", &bottom) == 0 && std::isfinite(bottom) &&
        static_cast<float>(bottom) != static_cast<float>(exact.first))
        exact.second = bottom;
    return exact;
}
