#include "readers/readerfactory.h"

#include "readers/cctvecreader.h"
#include "readers/cpasreader.h"
#include "readers/gribreader.h"
#include "readers/latlonreader.h"
#include "readers/recordreader.h"
#include "readers/tjwrfncreader.h"

namespace {

struct ReaderEntry {
    const char* fileType;
    ReaderKind kind;
};

const ReaderEntry kReaders[] = {
    {"grib", ReaderKind::Grib},         {"cpefs", ReaderKind::Cpefs},
    {"grapscm", ReaderKind::GrapsCm},   {"cpas_bin", ReaderKind::CpasBin},
    {"cctv_ec", ReaderKind::CctvEc},    {"latlon", ReaderKind::Latlon},
    {"tjwrf_nc", ReaderKind::TjwrfNc},  {"nc", ReaderKind::TjwrfNc},
    {"geps_nc", ReaderKind::TjwrfNc},
};

}  // namespace

ReaderKind readerKindFor(const QString& fileType)
{
    for (const ReaderEntry& entry : kReaders) {
        if (fileType == QLatin1String(entry.fileType))
            return entry.kind;
    }
    return ReaderKind::Grib;
}

const char* readerClassName(ReaderKind kind)
{
    switch (kind) {
    case ReaderKind::Grib: return "gribReader";
    case ReaderKind::Cpefs: return "cpefsReader";
    case ReaderKind::GrapsCm: return "grapsCmReader";
    case ReaderKind::CpasBin: return "cpasReader";
    case ReaderKind::CctvEc: return "cctvEcReader";
    case ReaderKind::Latlon: return "latlonReader";
    case ReaderKind::TjwrfNc: return "TjwrfNcReader";
    }
    return "unknown reader";
}

baseReader* createReader(ReaderKind kind)
{
    switch (kind) {
    case ReaderKind::Grib:
        return new gribReader();
    case ReaderKind::Cpefs:
        return new cpefsReader();
    case ReaderKind::GrapsCm:
        return new grapsCmReader();
    case ReaderKind::CpasBin:
        return new cpasReader();
    case ReaderKind::CctvEc:
        return new cctvEcReader();
    case ReaderKind::Latlon:
        return new latlonReader();
    case ReaderKind::TjwrfNc:
        return new TjwrfNcReader();
    }
    return nullptr;
}
