#!/bin/sh
# Builds the fuzz targets with libFuzzer and the address and undefined
# behaviour sanitizers and runs each for the given number of seconds (default
# 60). Usage: fuzz/run.sh [seconds]
#
# The XML targets are compiled straight from the sources they need. The
# buffer target needs the vector layer behind the buffers: it links a clang
# build of the library (sanitizers and fuzzer coverage on; of the built-in
# routines only the copy and conversion family, which buffer storage calls,
# and the integer family, whose own routines the typed buffers call by name),
# kept in $OUT/lib so that later runs only rebuild what changed. The graph run
# target also links the nxflow host's library from there and loads the
# example package built beside it ($OUT/lib/packages).
set -eu
SECONDS_EACH=${1:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${FUZZ_OUT:-$ROOT/build-fuzz}
mkdir -p "$OUT"
SOURCES="$ROOT/xml/RGSimpleXML.cpp $ROOT/xml/RGSimpleXMLBinary.cpp $ROOT/xml/RGSimpleXMLParse.cpp \
  $ROOT/xml/RGSimpleXMLWrite.cpp $ROOT/runtime/Zandor.Variants.cpp $ROOT/runtime/SysUtils.cpp \
  $ROOT/runtime/Zandor.Streams.cpp $ROOT/runtime/Zandor.Interfaces.cpp"
FLAGS="-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I$ROOT"
for t in XmlTextFuzz XmlBinaryFuzz; do
  clang++ $FLAGS -o "$OUT/$t" "$ROOT/fuzz/$t.cpp" $SOURCES
done
# The network message decoder stands alone (no ZeroMQ, no library).
clang++ $FLAGS -o "$OUT/NetMessageFuzz" "$ROOT/fuzz/NetMessageFuzz.cpp" "$ROOT/packages/nxnet/NXNetMessage.cpp"
# The image decoders: the graphics layer's sources with Cairo and fontconfig.
DRAWING="$ROOT/drawing/Vantex.cpp $ROOT/drawing/VantexBrushes.cpp $ROOT/drawing/VantexPaths.cpp \
  $ROOT/drawing/VantexImages.cpp $ROOT/runtime/SysUtils.cpp $ROOT/runtime/Zandor.Streams.cpp \
  $ROOT/runtime/Zandor.Interfaces.cpp"
clang++ $FLAGS $(pkg-config --cflags cairo cairo-ft fontconfig) -o "$OUT/ImageLoadFuzz" "$ROOT/fuzz/ImageLoadFuzz.cpp" \
  $DRAWING $(pkg-config --libs cairo cairo-ft fontconfig)

LIB="$OUT/lib"
# The whole library is built (every family of kernels): ccache, where there
# is one, keeps a rerun short.
LAUNCHER=""
if command -v ccache >/dev/null; then
  LAUNCHER="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
fi
cmake -S "$ROOT" -B "$LIB" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link -DNX_SANITIZE=ON \
  -DNX_BUILD_TESTS=OFF -DNX_BUILD_BENCH=OFF -DNX_BUILD_EXAMPLES=OFF $LAUNCHER >/dev/null
cmake --build "$LIB" --target nxruntime nxflowhost nxexamples -j "${FUZZ_JOBS:-2}"
clang++ $FLAGS -o "$OUT/BufferStreamFuzz" "$ROOT/fuzz/BufferStreamFuzz.cpp" -L"$LIB" -lnxruntime \
  -Wl,-rpath,"$LIB"
clang++ $FLAGS -o "$OUT/BufferAccumulatorFuzz" "$ROOT/fuzz/BufferAccumulatorFuzz.cpp" -L"$LIB" -lnxruntime \
  -Wl,-rpath,"$LIB"
clang++ $FLAGS -o "$OUT/GraphDocumentFuzz" "$ROOT/fuzz/GraphDocumentFuzz.cpp" -L"$LIB" -lnxruntime \
  -Wl,-rpath,"$LIB"
# The host's library holds the live server too: it links cpp-httplib.
HTTPLIB_LIBS=$(pkg-config --libs cpp-httplib)
clang++ $FLAGS -DNX_FUZZ_PACKAGES="\"$LIB/packages\"" -o "$OUT/GraphRunFuzz" "$ROOT/fuzz/GraphRunFuzz.cpp" \
  "$LIB/nxflow/libnxflowhost.a" -L"$LIB" -lnxruntime -ldl $HTTPLIB_LIBS -Wl,-rpath,"$LIB"
clang++ $FLAGS -DNX_FUZZ_PACKAGES="\"$LIB/packages\"" -o "$OUT/ServeRequestFuzz" "$ROOT/fuzz/ServeRequestFuzz.cpp" \
  "$LIB/nxflow/libnxflowhost.a" -L"$LIB" -lnxruntime -ldl $HTTPLIB_LIBS -Wl,-rpath,"$LIB"

# Every target runs even when an earlier one finds something; findings are
# written to $OUT as crash-* files and the script then exits with a failure.
STATUS=0
# fontconfig keeps its configuration for the life of the process; a target
# that draws text (the serve target's display) reports it at exit. The test
# runs suppress the same block, and nothing else.
export LSAN_OPTIONS="suppressions=$ROOT/tests/lsan-suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
for t in XmlTextFuzz XmlBinaryFuzz NetMessageFuzz BufferStreamFuzz BufferAccumulatorFuzz GraphDocumentFuzz ImageLoadFuzz GraphRunFuzz \
  ServeRequestFuzz; do
  mkdir -p "$OUT/corpus-$t"
  # Seed inputs kept in the tree are read as a second corpus (new finds go
  # to the first).
  SEEDS=""
  if [ -d "$ROOT/fuzz/seeds/$t" ]; then SEEDS="$ROOT/fuzz/seeds/$t"; fi
  # A target's own options: a dictionary beside it; a whole graph run of a
  # few milliseconds that takes 10 s has hung.
  OPTIONS=""
  if [ -f "$ROOT/fuzz/$t.dict" ]; then OPTIONS="-dict=$ROOT/fuzz/$t.dict"; fi
  if [ "$t" = GraphRunFuzz ]; then OPTIONS="$OPTIONS -timeout=10"; fi
  echo "== $t for $SECONDS_EACH s"
  (cd "$OUT" && "./$t" -max_total_time="$SECONDS_EACH" -print_final_stats=1 $OPTIONS "corpus-$t" $SEEDS) || STATUS=1
done
exit $STATUS
