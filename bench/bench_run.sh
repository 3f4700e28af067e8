#!/usr/bin/env bash
# Whole-run benchmark: the demo's 0.25-degree sample (229 x 193 columns, 20
# levels) converted with CAPE, DCAPE and TCL switched on. Prints the wall
# time and the peak resident memory of the conversion, then the wall time of
# a second run of the plain fields merged into its output (reading the
# existing output back, header check included).
#
#     bash bench/bench_run.sh [build-dir]
set -euo pipefail
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prog="$work/prog"
mkdir -p "$prog/config"
cp "$build/bin/kelvane" "$build/bin/libcumulex.so" "$prog/"
cp config/log.ini "$prog/config/"
"$build/kelvane-demogrib" "$work/sample.grib2" > /dev/null

levels="1000;950;925;900;850;800;750;700;650;600;550;500;450;400;350;300;250;200;150;100"
{
  head -n 8 config/default.csv
  echo "t,Temperature,Isobaric surface,,,,,0,0,TMP,Temperature,K,,,$levels,0,1"
  echo "gh,Geopotential height,Isobaric surface,,,,,0,0,HGT,Geopotential height,gpm,,,$levels,0,1"
  echo "r,Relative humidity,Isobaric surface,,,,,0,0,RH,Relative humidity,%,,,$levels,0,1"
  echo "td,Dew point,,,,,,1,0,TD,Dew point,K,,,$levels,0,1"
  echo "CAPE,CAPE,,,,,,1,0,CAPE,CAPE,J kg**-1,,,,0,1"
  echo "DCAPE,DCAPE,,,,,,1,0,DCAPE,DCAPE,J kg**-1,,,,0,1"
  echo "TCL,TCL,,,,,,1,0,TCL,TCL,m,,,,0,1"
} > "$prog/config/bench.csv"

start=$(date +%s.%N)
if [ -x /usr/bin/time ]; then
  /usr/bin/time -f "peak resident memory: %M KiB" "$prog/kelvane" -i "$work/sample.grib2" -o "$work/out.nc" \
    -s bench.csv > "$work/run.log" 2> "$work/time.log" || { cat "$work/time.log"; exit 1; }
  grep "peak resident" "$work/time.log"
else
  "$prog/kelvane" -i "$work/sample.grib2" -o "$work/out.nc" -s bench.csv > "$work/run.log"
fi
end=$(date +%s.%N)
awk -v s="$start" -v e="$end" 'BEGIN { printf "wall time: %.1f s\n", e - s }'

# The merge: temperature again, into the output of the first run.
{
  head -n 2 config/default.csv
  echo ",1,grib,2.0,,,,,,,"
  sed -n 4,8p config/default.csv
  echo "t,Temperature,Isobaric surface,,,,,0,0,TMP,Temperature,K,,,$levels,0,1"
} > "$prog/config/bench-merge.csv"
start=$(date +%s.%N)
"$prog/kelvane" -i "$work/sample.grib2" -o "$work/out.nc" -s bench-merge.csv > "$work/merge.log"
end=$(date +%s.%N)
awk -v s="$start" -v e="$end" 'BEGIN { printf "merge wall time: %.2f s\n", e - s }'
