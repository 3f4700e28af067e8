// What a GRIB message is: its names, edition, surface, level type and level,
// the texts a variable key and a table row are made of, read the one way
// both the conversion and the table generation (-p) use.
#pragma once

#include <QString>

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

// Reads the identity of the message `h` of `fileName` into `out`. A key that
// must be readable and is not ends the run (status 255). False, with the
// message read no further, when it is of an edition the naming does not
// read.
bool readGribIdentity(grib_handle* h, const QString& fileName, GribNaming naming, GribIdentity& out);
// The same with the names already read.
bool readGribIdentity(grib_handle* h, const QString& fileName, GribNaming naming, const GribNames& names,
                      GribIdentity& out);
