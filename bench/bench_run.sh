#!/usr/bin/env bash
# Whole-run benchmark: the demo's 0.25-degree sample (229 x 193 columns, 20
# levels) converted with CAPE, DCAPE and TCL switched on. Prints the median
# wall time of the conversion on one thread and on every core, the peak
# resident memory, then the wall time of
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

# The conversion on one thread and on every core (OMP_NUM_THREADS), three
# runs each: the median wall time, and the peak memory of the last run.
convert() {
  local threads=$1 walls=()
  for run in 1 2 3; do
    start=$(date +%s.%N)
    if [ -x /usr/bin/time ]; then
      OMP_NUM_THREADS=$threads /usr/bin/time -f "%M" "$prog/kelvane" -i "$work/sample.grib2" -o "$work/out.nc" \
        -s bench.csv > "$work/run.log" 2> "$work/time.log" || { cat "$work/time.log"; exit 1; }
    else
      OMP_NUM_THREADS=$threads "$prog/kelvane" -i "$work/sample.grib2" -o "$work/out.nc" -s bench.csv > "$work/run.log"
    fi
    end=$(date +%s.%N)
    walls+=("$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", e - s }')")
  done
  printf '%s\n' "${walls[@]}" | sort -n | sed -n 2p
}
cores=$(nproc)
one=$(convert 1)
[ -f "$work/time.log" ] && echo "peak resident memory: $(tail -n 1 "$work/time.log") KiB"
all=$(convert "$cores")
echo "wall time, 1 thread: $one s"
awk -v a="$all" -v o="$one" -v c="$cores" 'BEGIN { printf "wall time, %d threads: %s s (%.2f x faster)\n", c, a, o / a }'

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
