#!/usr/bin/env bash
# Line coverage of the library by the test suite: builds the tests with
# --coverage in build-cov, runs them and prints gcovr's summary of each library
# folder (tests, benchmarks, examples and fuzz targets are not counted). A
# development aid, not part of CI.
#   scripts/coverage.sh                 every test program, every folder
#   scripts/coverage.sh FOLDER...       only tests/FOLDER's programs, and the
#                                       coverage of FOLDER/ by them (the figure
#                                       to compare when a folder's tests change)
# BUILD_DIR (default build-cov) names the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
dir=${BUILD_DIR:-build-cov}
command -v gcovr >/dev/null || { echo "gcovr is not installed (apt-get install gcovr)" >&2; exit 1; }
all=(runtime vector buffers streams components algorithms processing infrastructure drawing xml nxflow packages)
folders=("$@")
[ ${#folders[@]} -gt 0 ] || folders=("${all[@]}")

# -O1 keeps the line mapping close to the source and the suite's run time
# bearable; atomic counters keep threaded tests from corrupting the counts.
flags="-O1 --coverage -fprofile-update=atomic"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug "${launcher[@]}" \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage \
  -DNX_BUILD_BENCH=OFF -DNX_BUILD_EXAMPLES=OFF >/dev/null

if [ $# -gt 0 ]; then
  re="^test_($(IFS='|'; echo "${folders[*]}"))_"
  targets=$(cd "$dir" && ninja -t targets all | grep -oE "${re}[A-Za-z0-9_]+" | sort -u | tr '\n' ' ')
  [ -n "$targets" ] || { echo "coverage: no test programs for ${folders[*]}" >&2; exit 1; }
  # Packages' tests need the package libraries and the host.
  nice cmake --build "$dir" -j"$(nproc)" --target $targets nxflow nxexamples 2>/dev/null ||
    nice cmake --build "$dir" -j"$(nproc)" --target $targets
else
  re="."
  nice cmake --build "$dir" -j"$(nproc)"
fi
find "$dir" -name '*.gcda' -delete
(cd "$dir" && ctest --output-on-failure -j"$(nproc)" -R "$re") || echo "coverage: some tests failed; the figure counts what ran" >&2

summary() {  # $1: filter regex, $2: output file
  gcovr -r "$root" --object-directory "$dir" --filter "$1" --exclude "$root/vector/reference/" \
    --gcov-ignore-parse-errors --exclude-unreachable-branches --print-summary -o "$2" "$dir" 2>/dev/null |
    grep -E '^lines'
}
for f in "${folders[@]}"; do
  printf '%-16s %s\n' "$f" "$(summary "$root/$f/" "$dir/coverage-$f.txt")"
done
echo "details: $dir/coverage-FOLDER.txt"
