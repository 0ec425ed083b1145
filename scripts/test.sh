#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite twice: optimised, then with
# AddressSanitizer and UndefinedBehaviorSanitizer; then the tests where
# threads meet once more under ThreadSanitizer; last, the fuzz targets of
# the readers of outside data run for a minute each.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

echo "== layering (includes point only downward)"
bash scripts/check-layering.sh

echo "== optimised build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DNX_BUILD_BENCH=ON >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Release -DNX_SANITIZE=ON \
  -DNX_BUILD_BENCH=OFF -DNX_BUILD_EXAMPLES=OFF >/dev/null
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j "$jobs")

echo "== ThreadSanitizer build (the tests where threads meet)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Release -DNX_TSAN=ON \
  -DNX_BUILD_BENCH=OFF -DNX_BUILD_EXAMPLES=OFF >/dev/null
tsan_tests="test_runtime_Interfaces test_runtime_Threading test_runtime_PairedLock test_buffers_BufferThreads test_buffers_SharingAndCopyOnWrite
  test_vector_FFT test_streams_PinThreads test_streams_OperationList test_streams_StreamTypes test_infrastructure_RGComponent"
cmake --build build-tsan -j "$jobs" --target $tsan_tests
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure -j "$jobs" -R "^(test_runtime_Interfaces|test_runtime_Threading|test_runtime_PairedLock|test_buffers_BufferThreads|test_buffers_SharingAndCopyOnWrite|test_vector_FFT_threads|test_streams_PinThreads|test_streams_OperationList|test_streams_StreamTypes|test_infrastructure_RGComponent)\$")

echo "== fuzzing the readers of outside data (60 s per target)"
bash fuzz/run.sh 60
