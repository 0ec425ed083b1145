#!/usr/bin/env bash
# Builds component packages outside the source tree against an installed
# library, the way their authors would, and runs a bundled graph with them:
#   - installs an already-built tree (default build/) into a temporary prefix
#     and checks that the headers, library, program and package files are there;
#   - copies examples/package and packages/nxexamples to a temporary folder and
#     builds them with CMake (find_package(nxruntime)), and the clipper a
#     second time with a plain compiler line (pkg-config nxruntime);
#   - runs the installed nxflow on examples/graphs/clipper-demo.xml with each
#     clipper and checks what it wrote;
#   - starts the installed nxflow serve (its own module) and checks that it
#     answers.
# Usage: scripts/out-of-tree.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(cd "${1:-build}" && pwd)

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Each step names itself; a command that fails names the step it failed in.
step="start"
set -E
trap 'echo "out-of-tree: FAILED: $step" >&2' ERR
fail() { echo "out-of-tree: FAILED: $*" >&2; exit 1; }
# Quiet unless it fails.
quiet() { "$@" >"$tmp/log" 2>&1 || { cat "$tmp/log" >&2; return 1; }; }

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$tmp" CCACHE_NOHASHDIR=1
fi
unset NXFLOW_PACKAGE_PATH LD_LIBRARY_PATH

step="install $build into a temporary prefix"
prefix="$tmp/prefix"
quiet cmake --install "$build" --prefix "$prefix"
for f in bin/nxflow libexec/nxflow/nxflow-serve.so lib/libnxruntime.so lib/nxflow/libnxexamples.so \
  lib/cmake/nxruntime/nxruntimeConfig.cmake lib/pkgconfig/nxruntime.pc \
  include/nxruntime/nxruntime.h include/nxruntime/components/NXPinOwner.h \
  include/nxruntime/components/NXFlowNode.h include/nxruntime/documents/NXGraphDocument.h; do
  [ -e "$prefix/$f" ] || fail "the installed tree lacks $f"
done
# The installed example package must not answer for the one built here.
rm -rf "$prefix/lib/nxflow"

cp -r examples/package "$tmp/clipper"
cp -r packages/nxexamples "$tmp/nxexamples"

cmake_package() {  # SOURCE: configure and build against the prefix only
  step="build $1 with find_package(nxruntime)"
  quiet cmake -S "$tmp/$1" -B "$tmp/build-$1" -G Ninja "${launcher[@]}" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    -DCMAKE_SHARED_LINKER_FLAGS=-Wl,--no-undefined
  quiet cmake --build "$tmp/build-$1"
  if grep -q "$root" "$tmp/build-$1/compile_commands.json"; then
    fail "$1 was compiled with the source tree on its include path"
  fi
}
cmake_package clipper
cmake_package nxexamples

step="build the clipper with pkg-config nxruntime"
mkdir "$tmp/pc"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig${PKG_CONFIG_PATH:+:$PKG_CONFIG_PATH}"
# shellcheck disable=SC2046
quiet g++ -shared -fPIC -Wl,--no-undefined -o "$tmp/pc/libclipper.so" "$tmp/clipper/ClipperPackage.cpp" \
  $(pkg-config --cflags --libs nxruntime)

run_graph() {  # CLIPPER_DIR NAME: run the clipper demo, check the clipped samples
  step="run clipper-demo.xml with the installed nxflow and the $2 clipper"
  quiet "$prefix/bin/nxflow" --packages "$1" --packages "$tmp/build-nxexamples/packages" \
    check examples/graphs/clipper-demo.xml
  quiet "$prefix/bin/nxflow" --packages "$1" --packages "$tmp/build-nxexamples/packages" \
    run examples/graphs/clipper-demo.xml --out "$tmp/out-$2"
  for f in clipped.png clipped-samples.csv; do
    [ -s "$tmp/out-$2/$f" ] || fail "the run with the $2 clipper did not write $f"
  done
  awk -F, 'NR > 1 { n++; v = $2 < 0 ? -$2 : $2; if (v > m) m = v }
    END { exit !(n == 48000 && m == 0.5) }' "$tmp/out-$2/clipped-samples.csv" ||
    fail "the samples of the run with the $2 clipper are not a tone clipped at 0.5"
}
run_graph "$tmp/build-clipper/packages" cmake
run_graph "$tmp/pc" pkg-config

step="start the installed nxflow serve and ask it for its page"
(cd "$tmp" && exec "$prefix/bin/nxflow" --packages "$tmp/build-nxexamples/packages" serve --port 0 >"$tmp/serve.log" 2>&1) &
server=$!
url=""
for _ in $(seq 100); do
  url=$(grep -o 'http://127.0.0.1:[0-9]*/?token=[0-9a-f]*' "$tmp/serve.log" || true)
  [ -n "$url" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
[ -n "$url" ] || { cat "$tmp/serve.log" >&2; kill "$server" 2>/dev/null; fail "the installed nxflow serve did not start"; }
page=$(python3 -c 'import sys, urllib.request; print(urllib.request.urlopen(sys.argv[1]).read().decode())' "$url" || true)
kill -INT "$server"
wait "$server" || fail "the installed nxflow serve did not end cleanly on Ctrl-C"
[[ "$page" == *"<html"* ]] || fail "the installed nxflow serve did not answer with its page"

echo "out-of-tree: packages built with find_package and pkg-config against the installed library ran clipper-demo.xml;" \
  "the installed nxflow serve answered"
