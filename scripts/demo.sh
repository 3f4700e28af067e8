#!/usr/bin/env bash
# The demo: shows the program of the build tree. Conversions come in once
# the GRIB reader and the netCDF writer are part of the build.
set -euo pipefail
build=${1:-build}
exe="$build/bin/kelvane"
echo "Kelvane program directory: $(cd "$build/bin" && pwd)"
"$exe" --help
