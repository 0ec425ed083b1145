#!/usr/bin/env bash
# Builds and runs every benchmark program; each prints its ratio table last.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DNX_BUILD_BENCH=ON >/dev/null
cmake --build build
for b in build/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $b"
  "$b" --benchmark_min_time=0.2 "$@"
done
