#!/usr/bin/env bash
# Installs the Debian packages Kelvane needs to build and test; does nothing
# when every one of them is already installed. The argument `slurm` adds the
# scheduler that `make test-slurm` runs.
set -euo pipefail

packages=(
  build-essential cmake make pkg-config
  qtbase5-dev
  libeccodes-dev libeccodes-tools
  libnanoflann-dev
  libnetcdf-dev netcdf-bin
  zlib1g-dev libbz2-dev bzip2 gzip
  libgtest-dev libgmock-dev
  clang-14 libfuzzer-14-dev
  # LLVM's OpenMP runtime, its headers for clang and its Archer tool
  # (ThreadSanitizer build); llvm-14 for llvm-symbolizer, which names the
  # functions and lines of sanitizer reports
  libomp-14-dev llvm-14
  # clang-14's sanitizer and libFuzzer runtimes (only a recommendation of
  # libclang-common-14-dev, so not pulled in without recommends)
  libclang-rt-14-dev
)
# `install-deps.sh slurm` adds the one-node scheduler that `make test-slurm`
# starts; no other target installs it.
if [[ "${1:-}" == slurm ]]; then
  packages+=(slurm-wlm munge)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if [[ ${#missing[@]} -eq 0 ]]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO=sudo
  else
    echo "install-deps: missing packages and not root: ${missing[*]}" >&2
    exit 1
  fi
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
