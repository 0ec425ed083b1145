#!/bin/sh
# Builds the XML fuzz targets with libFuzzer and the address and undefined
# behaviour sanitizers, straight from the sources they need, and runs each for
# the given number of seconds (default 60). Usage: fuzz/run.sh [seconds]
set -eu
SECONDS_EACH=${1:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${FUZZ_OUT:-$ROOT/build-fuzz}
mkdir -p "$OUT"
SOURCES="$ROOT/xml/RGSimpleXML.cpp $ROOT/runtime/Zandor.Variants.cpp $ROOT/runtime/SysUtils.cpp \
  $ROOT/runtime/Zandor.Streams.cpp $ROOT/runtime/Zandor.Interfaces.cpp"
FLAGS="-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I$ROOT"
for t in XmlTextFuzz XmlBinaryFuzz; do
  clang++ $FLAGS -o "$OUT/$t" "$ROOT/fuzz/$t.cpp" $SOURCES
done
# Both targets run even when the first finds something; findings are written
# to $OUT as crash-* files and the script then exits with a failure.
STATUS=0
for t in XmlTextFuzz XmlBinaryFuzz; do
  mkdir -p "$OUT/corpus-$t"
  echo "== $t for $SECONDS_EACH s"
  (cd "$OUT" && "./$t" -max_total_time="$SECONDS_EACH" -print_final_stats=1 "corpus-$t") || STATUS=1
done
exit $STATUS
