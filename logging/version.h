// The program's name and version, as the output's "source" attribute and
// --version give them.
#pragma once

#include <string>

// "Kelvane <version>".
std::string programNameAndVersion();
