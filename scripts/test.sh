#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite twice: optimised (then
# installed, with packages built against the installed tree), then with
# AddressSanitizer and UndefinedBehaviorSanitizer; then the tests where
# threads meet once more under ThreadSanitizer; last, the fuzz targets of
# the readers of outside data run for a minute each.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
root=$(pwd)
# install-deps.sh installs the PoCL CPU device: the OpenCL tests must run, not skip.
export NX_REQUIRE_OPENCL=1
# ccache (installed by install-deps.sh) keeps the three builds quick when the
# same sources were compiled before, in this or another checkout: paths are
# hashed relative to the checkout.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

echo "== layering (includes point only downward)"
bash scripts/check-layering.sh

echo "== optimised build"
cmake -S . -B build -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release -DNX_BUILD_BENCH=ON >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")
echo "== the live page of nxflow serve and its designer in headless chromium"
node tests/browser/serve-page.test.mjs build/nxflow/nxflow build/serve-filter-demo.png
node tests/browser/serve-designer.test.mjs build/nxflow/nxflow build/serve-designer.png
echo "== packages built outside the tree against the installed library"
bash scripts/out-of-tree.sh build

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-asan -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release -DNX_SANITIZE=ON \
  -DNX_BUILD_BENCH=OFF -DNX_BUILD_EXAMPLES=OFF >/dev/null
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions=$root/tests/lsan-suppressions.txt UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j "$jobs")

echo "== ThreadSanitizer build (the tests where threads meet)"
cmake -S . -B build-tsan -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release -DNX_TSAN=ON \
  -DNX_BUILD_BENCH=OFF -DNX_BUILD_EXAMPLES=OFF >/dev/null
# The programs whose threads meet; the proxy, FFT and network programs run
# only their threaded entries (test_..._threads) there.
tsan_tests="test_runtime_Interfaces test_runtime_Threading test_runtime_PairedLock
  test_buffers_Proxy test_buffers_BufferThreads test_buffers_SharingAndCopyOnWrite test_vector_FFT
  test_streams_PinThreads test_streams_OperationList test_streams_StreamTypes test_infrastructure_RGComponent
  test_streams_MultiInput test_streams_FlowFigures test_components_CommonGen
  test_processing_Processing test_components_CommonFilter test_components_ComponentKit test_components_RealSink
  test_packages_Examples test_packages_Net test_packages_Audio
  test_nxflow_Host test_nxflow_Serve test_drawing_GDIPlusProperties"
tsan_names=$(echo $tsan_tests | sed -e "s/test_buffers_Proxy/test_buffers_Proxy_threads/" -e "s/test_vector_FFT/test_vector_FFT_threads/" \
  -e "s/test_packages_Net/test_packages_Net_threads/" | tr " " "|")
cmake --build build-tsan -j "$jobs" --target $tsan_tests
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure -j "$jobs" -R "^($tsan_names)\$")

echo "== fuzzing the readers of outside data (60 s per target)"
bash fuzz/run.sh 60
