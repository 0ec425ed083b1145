#!/usr/bin/env bash
# Sets up, builds (optimised) and runs the example programs of the library.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target primitives_demo buffers_demo filter_design_demo vantex_gallery processing_demo \
  mixer_demo draw_layers_demo drawing_gallery component_walkthrough generator_chain_demo
./build/examples/primitives_demo
./build/examples/buffers_demo
./build/examples/filter_design_demo build/filter-responses.png
./build/examples/vantex_gallery build/vantex-gallery.png
./build/examples/processing_demo
./build/examples/generator_chain_demo
./build/examples/mixer_demo
./build/examples/draw_layers_demo build/draw-layers-demo.png
./build/examples/drawing_gallery build/drawing-gallery.png
./build/examples/component_walkthrough
