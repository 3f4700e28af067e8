// What a GRIB message is: its names, edition, surface, level type and level,
// the texts a variable key and a table row are made of, read the one way
// both the conversion and the table generation (-p) use.
#pragma once

#include <QString>

#include "model/levels.h"

#include <grib_api.h>

#include <cstdint>
#include <string>

// Who reads the identity, which decides the few ways the two readings part.
enum class GribNaming {
    // Conversion: records are keyed and filed. A message named "unknown"
    // takes its parameter name, without white space, as its short and its
    // long name. Messages of editions other than 1 and 2 are not read;
    // edition 1 must give its level indicator as a number.
    Conversion,
    // Table generation: every name is traced on standard output ("name:",
    // and "pname:" with the parameter name of a message named "unknown" or
    // nothing), and such a message takes its parameter name, without white
    // space, as its short name only. Any edition is listed.
    Table,
};

struct GribIdentity {
    // "shortName" and "name", trailing blanks removed, or what the naming
    // gives a message without a name of its own.
    std::string shortName;
    std::string name;
    std::string parameterName;   // "parameterName" as read; empty when unreadable
    long edition = 0;            // "editionNumber"
    std::string levelType;       // "indicatorOfTypeOfLevel" as text; empty when unreadable
    std::string surface;         // edition 2: "nameOfFirstFixedSurface", blanks removed at both ends
    int32_t levelIndicator = 0;  // edition 1, conversion: "indicatorOfTypeOfLevel" as a number
    long level = 0;              // "level"
};

// The message's "name" (which must be readable) and "shortName" (empty when
// not), trailing blanks kept. ecCodes works both out by searching its
// parameter tables on every read, so a message's are read once.
struct GribNames {
    std::string name;
    std::string shortName;
};
GribNames readGribNames(grib_handle* h, const QString& fileName);
// The conversion's names: the short name, and the name only where the short
// name does not tell the parameter (unreadable, or "unknown", the name of
// every parameter ecCodes' tables lack); `name` is empty otherwise. The
// conversion keys a message by its short name alone, and a parameter's
// name is the same for all its messages, so it is read once per key.
GribNames readGribShortName(grib_handle* h, const QString& fileName);

// How far a message's identity could be read.
enum class IdentityRead {
    Read,
    // Of an edition the naming does not read: read no further.
    OtherEdition,
    // A GRIB 2 message whose product template has no first fixed surface
    // (or no level), as satellite products: read no further.
    NoSurface,
};

// Reads the identity of the message `h` of `fileName` into `out`. A key that
// must be readable and is not ends the run (status 255), except the surface
// and level of a product that has none.
IdentityRead readGribIdentity(grib_handle* h, const QString& fileName, GribNaming naming, GribIdentity& out);
// The same with the names already read.
IdentityRead readGribIdentity(grib_handle* h, const QString& fileName, GribNaming naming, const GribNames& names,
                              GribIdentity& out);

// Why a message read as NoSurface has none, for messages: "product template
// 4.N has no fixed surface".
QString noSurfaceReason(grib_handle* h);

// The exact level of a message whose integer level is `level`: the first
// fixed surface's value and, for a layer (a second surface in GRIB 2, a
// bottom other than the top in GRIB 1), the second's, in the units of
// "level". Where ecCodes gives no exact value, the integer level.
ExactLevel readExactLevel(grib_handle* h, long edition, long level);
