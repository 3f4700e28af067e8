# Quick start: `make demo` and `make test`. Each target installs missing
# Debian packages first, then configures and builds.

JOBS ?= 2
BUILD_TYPE ?= RelWithDebInfo
CMAKE ?= cmake

.PHONY: all deps build build-asan demo test test-build test-asan test-fuzz fuzz clean
.PHONY: build-tsan test-tsan

all: build

deps:
	bash scripts/install-deps.sh

build: deps
	$(CMAKE) -S . -B build -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DKELVANE_TESTS=ON
	$(CMAKE) --build build -j $(JOBS)

build-asan: deps
	$(CMAKE) -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKELVANE_SANITIZE=ON -DKELVANE_TESTS=ON
	$(CMAKE) --build build-asan -j $(JOBS)

demo: build
	bash scripts/demo.sh build

test-build: build
	cd build && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd build-asan && ctest --output-on-failure -j $(JOBS)

# The tests of the threaded code (readers, derivations) alone, built with
# clang under ThreadSanitizer with LLVM's OpenMP runtime and its Archer
# tool, each run on 2 and on 4 threads: a race fails the test.
build-tsan: deps
	$(CMAKE) -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_TSAN=ON -DKELVANE_TESTS=ON \
	  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
	$(CMAKE) --build build-tsan -j $(JOBS) --target test_readers test_process

test-tsan: build-tsan
	cd build-tsan && ctest --output-on-failure -j $(JOBS)

# The fuzz targets (clang, in build-fuzz) over their seeds and kept
# regression inputs: a replay, not a campaign.
test-fuzz: deps
	bash scripts/fuzz.sh replay

# A bounded campaign: FUZZ_SECONDS (default 60) per target.
fuzz: deps
	FUZZ_SECONDS=$(or $(FUZZ_SECONDS),60) bash scripts/fuzz.sh run

# Every test, in a normal build and under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded code's under ThreadSanitizer,
# then the fuzz replay.
test: test-build test-asan test-tsan test-fuzz

clean:
	rm -rf build build-asan build-tsan build-fuzz

# Conversions under a real scheduler: a one-node Slurm cluster on this
# machine runs a job array of merging conversions (installs slurm-wlm and
# munge first; not part of `make test`).
.PHONY: test-slurm
test-slurm: build
	bash scripts/install-deps.sh slurm
	bash scripts/test-slurm.sh build
