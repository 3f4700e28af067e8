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

# Seeds: the generated binary files and their compressed forms, the tracked
# tables and netCDF descriptions, and the shared GRIB samples when present.
seeds="$build/seeds"
rm -rf "$seeds"
ASAN_OPTIONS=detect_leaks=0 "$fuzzers/kelvane-makeseeds" "$seeds"
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
shared="$root/../shared/data/grib"
if [[ -d "$shared" ]]; then
  for f in "$shared"/*; do
    if [[ -f "$f" ]]; then
      ln -sf "$f" "$seeds/fuzz_grib/shared-$(basename "$f")"
      ln -sf "$f" "$seeds/fuzz_gribdamage/shared-$(basename "$f")"
    fi
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
    echo "fuzz run: $t for ${seconds}s"
    set +e
    "$exe" "${limits[@]}" -max_len=65536 -max_total_time="$seconds" -close_fd_mask=2 -print_final_stats=1 \
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
