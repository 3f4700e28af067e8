#!/usr/bin/env bash
# The demo: makes a sample GRIB 2 file, converts it with the shipped demo
# table, and says where the result is.
set -euo pipefail
build=${1:-build}
bin="$build/bin"
demo="$build/demo"
mkdir -p "$demo"
sample="$(cd "$demo" && pwd)/sample.grib2"
output="$(cd "$demo" && pwd)/demo.nc"

"$build/kelvane-demogrib" "$sample"
rm -f "$output"
"$bin/kelvane" -i "$sample" -o "$output" -s demo.csv > "$demo/kelvane.out"

echo
echo "Converted $sample"
echo "     into $output"
echo
ncdump -h "$output" > "$demo/demo.cdl"
echo "Dimensions and variables (full header: ncdump -h $output):"
grep -E '^[[:space:]]+([[:alnum:]_]+ = [0-9]+ ;|(float|int) )' "$demo/demo.cdl"
