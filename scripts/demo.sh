#!/usr/bin/env bash
# Sets up, builds (optimised) the nxflow host and the example component
# package, and runs the bundled filter demo: noise and two tones through an
# FIR low-pass and an IIR band-pass, 60 s of a 48 kHz stream on virtual time.
# The closing table names the pictures and CSV files it wrote (out/filter-demo).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target nxflow nxexamples clipper
./build/nxflow/nxflow run examples/graphs/filter-demo.xml --out out/filter-demo
echo
echo "Pictures: $(ls out/filter-demo/*.png | tr '\n' ' ')"
