#include "logging/version.h"

#ifndef KELVANE_VERSION
#error "KELVANE_VERSION is set by the build"
#endif

std::string programNameAndVersion()
{
    return std::string("Kelvane ") + KELVANE_VERSION;
}
