#!/usr/bin/env bash
# The fuzz targets: builds them with clang into their own build directory,
# makes their seed corpora, then either replays every seed and kept
# regression input once (replay) or fuzzes each target for a bounded time
# (run).
#
#   scripts/fuzz.sh replay|run [target ...]
#
# FUZZ_BUILD     build directory (default build-fuzz)
# FUZZ_SECONDS   seconds per target for run (default 60)
# FUZZ_JOBS      build jobs (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

mode=${1:-}
[[ "$mode" == replay || "$mode" == run ]] || { echo "usage: $0 replay|run [target ...]" >&2; exit 2; }
shift
build=${FUZZ_BUILD:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-2}
[[ "$build" = /* ]] || build="$root/$build"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_FUZZ=ON -DKELVANE_TESTS=OFF \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$build" --target fuzzers -j "$jobs"

fuzzers="$build/tests/fuzz"
if [[ $# -gt 0 ]]; then targets=("$@"); else mapfile -t targets < "$build/fuzzers.txt"; fi

# Seeds: small inputs, one message or record each where the format allows,
# so that every execution is quick: the generated binary files and their
# compressed forms, single GRIB messages of other grids shrunk from
# ecCodes' samples, the tracked tables and netCDF descriptions. The shared
# GRIB files are replayed, not fuzzed from.
seeds="$build/seeds"
rm -rf "$seeds"
ASAN_OPTIONS=detect_leaks=0 "$fuzzers/kelvane-makeseeds" "$seeds"
# shrunk SAMPLE OUT VALUES KEY=VALUE...: the sample with those keys set and
# VALUES values.
shrunk() {
  local sample=$1 out=$2 n=$3 rules
  shift 3
  rules=$(mktemp)
  { for s in "$@"; do echo "set $s;"; done; echo "set values={$(seq -s, 270 $((269 + n)))}; write;"; } > "$rules"
  grib_filter -o "$seeds/fuzz_grib/$out" "$rules" "/usr/share/eccodes/samples/$sample.tmpl"
  rm -f "$rules"
}
t850=('shortName="t"' level=850)
shrunk polar_stereographic_sfc_grib2 polar.grib2 30 Nx=6 Ny=5 numberOfDataPoints=30 "${t850[@]}" \
  typeOfFirstFixedSurface=100 latitudeOfFirstGridPointInDegrees=30 longitudeOfFirstGridPointInDegrees=100 \
  DxInMetres=100000 DyInMetres=100000 LaDInDegrees=60 orientationOfTheGridInDegrees=110
shrunk GRIB2 lambert.grib2 30 gridDefinitionTemplateNumber=30 Nx=6 Ny=5 numberOfDataPoints=30 "${t850[@]}" \
  typeOfFirstFixedSurface=100 latitudeOfFirstGridPointInDegrees=30 longitudeOfFirstGridPointInDegrees=100 \
  LaDInDegrees=35 LoVInDegrees=110 Latin1InDegrees=30 Latin2InDegrees=60 DxInMetres=100000 DyInMetres=100000
shrunk rotated_ll_sfc_grib2 rotated.grib2 30 Ni=6 Nj=5 numberOfDataPoints=30 "${t850[@]}" typeOfFirstFixedSurface=100
shrunk reduced_ll_sfc_grib1 reduced-ll.grib1 30 Nj=5 'pl={6,6,6,6,6}' "${t850[@]}" indicatorOfTypeOfLevel=100
shrunk reduced_gg_pl_grib1 reduced-gg.grib1 32 N=2 Nj=4 'pl={6,10,10,6}' "${t850[@]}"
# The GRIB damage checks see the bytes ecCodes would be given: the plain
# GRIB seeds and the GRIB reader's kept regression inputs.
mkdir -p "$seeds/fuzz_gribdamage"
cp "$seeds/fuzz_grib"/* tests/fuzz/regressions/fuzz_grib/* "$seeds/fuzz_gribdamage/"
for t in fuzz_grib fuzz_cpefs fuzz_grapscm; do
  for f in "$seeds/$t"/*; do
    gzip -c "$f" > "$f.gz"
    bzip2 -c "$f" > "$f.bz2"
  done
done
mkdir -p "$seeds/fuzz_table" "$seeds/fuzz_upgrade" "$seeds/fuzz_ncmodel" "$seeds/fuzz_ncoutput"
cp config/*.csv "$seeds/fuzz_table/"
cp tests/fuzz/seeds/upgrade-old.csv "$seeds/fuzz_upgrade/"
for kind in model output; do
  for cdl in tests/fuzz/seeds/$kind*.cdl; do
    name=$(basename "$cdl" .cdl)
    ncgen -k nc4 -o "$seeds/fuzz_nc$kind/$name.nc" "$cdl"
    ncgen -k nc3 -o "$seeds/fuzz_nc$kind/$name-classic.nc" "$cdl"
  done
done
# Replayed only: the shared GRIB files, whole.
replayed="$build/replayed"
rm -rf "$replayed"
shared="$root/../shared/data/grib"
if [[ -d "$shared" ]]; then
  for t in fuzz_grib fuzz_gribdamage; do
    mkdir -p "$replayed/$t"
    for f in "$shared"/*; do
      [[ -f "$f" ]] && ln -sf "$f" "$replayed/$t/shared-$(basename "$f")"
    done
  done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/fuzz/lsan.supp:print_suppressions=0}
status=0
for t in "${targets[@]}"; do
  exe="$fuzzers/$t"
  inputs=("$seeds/$t")
  [[ -d "tests/fuzz/regressions/$t" ]] && inputs+=("$root/tests/fuzz/regressions/$t")
  # Room for the large grids a valid header may announce.
  limits=(-rss_limit_mb=4096 -malloc_limit_mb=4096 -timeout=60)
  if [[ "$mode" == replay ]]; then
    [[ -d "$replayed/$t" ]] && inputs+=("$replayed/$t")
    files=()
    for d in "${inputs[@]}"; do
      while IFS= read -r -d '' f; do files+=("$f"); done < <(find -L "$d" -type f -print0 | sort -z)
    done
    echo "fuzz replay: $t (${#files[@]} inputs)"
    if ! "$exe" "${limits[@]}" -close_fd_mask=2 "${files[@]}" > "$build/replay-$t.log" 2>&1; then
      echo "fuzz replay: $t FAILED, see $build/replay-$t.log" >&2
      tail -40 "$build/replay-$t.log" >&2
      status=1
    fi
  else
    corpus="$build/corpus/$t"
    artifacts="$build/artifacts/$t"
    mkdir -p "$corpus" "$artifacts"
    # ecCodes, HDF5 and netCDF keep memory on inputs they fail on (their
    # leaks are suppressed); libFuzzer's leak check after every such input
    # scans the whole heap, so these targets check for leaks at exit only.
    leaks=()
    case $t in fuzz_grib | fuzz_ncmodel | fuzz_ncoutput) leaks=(-detect_leaks=0) ;; esac
    echo "fuzz run: $t for ${seconds}s"
    set +e
    "$exe" "${limits[@]}" "${leaks[@]}" -max_len=65536 -max_total_time="$seconds" -close_fd_mask=2 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$corpus" "${inputs[@]}" > "$build/run-$t.log" 2>&1
    rc=$?
    set -e
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$build/run-$t.log" | grep -o '[0-9]*$' || true)
    echo "fuzz run: $t exit $rc, ${execs:-?} executions, log $build/run-$t.log"
    if [[ $rc -ne 0 ]]; then
      status=1
      tail -60 "$build/run-$t.log" >&2
    fi
  fi
done
exit $status
