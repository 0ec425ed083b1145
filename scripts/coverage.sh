#!/usr/bin/env bash
# Line coverage of the library by the test suite: builds the tests with
# --coverage in build-cov, runs ctest there and prints gcovr's summary of the
# library folders (tests, benchmarks, examples and fuzz targets are not
# counted). A development aid, not part of CI.
#   scripts/coverage.sh [build-dir]     (default: build-cov)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
dir=${1:-build-cov}
command -v gcovr >/dev/null || { echo "gcovr is not installed (apt-get install gcovr)" >&2; exit 1; }

# -O1 keeps the line mapping close to the source and the suite's run time bearable.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_FLAGS="-O1 --coverage" -DCMAKE_CXX_FLAGS="-O1 --coverage" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage \
  -DNX_BUILD_BENCH=OFF -DNX_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$dir"
find "$dir" -name '*.gcda' -delete
(cd "$dir" && ctest --output-on-failure -j"$(nproc)") || echo "coverage: some tests failed; the figure counts what ran" >&2

gcovr -r "$root" --object-directory "$dir" \
  --filter "$root/(runtime|vector|buffers|streams|xml)/" \
  --exclude "$root/vector/reference/" \
  --exclude-unreachable-branches --print-summary -o "$dir/coverage.txt" "$dir"
echo "coverage: details in $dir/coverage.txt"
