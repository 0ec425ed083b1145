#!/usr/bin/env bash
# The include layering check on a copy of the sources: the copy as it is
# passes; each escape planted in it fails with a line naming the planted file
# and line; includes that only look like escapes still pass.
# Usage: check-layering-test.sh [SOURCE_ROOT]
set -euo pipefail
src=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
check=$src/scripts/check-layering.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/tree
mkdir "$tree"
(cd "$src" && find . \( -name .git -o -path './build*' -o -path ./out \) -prune -o -type f \
  \( -name '*.h' -o -name '*.hpp' -o -name '*.inc' -o -name '*.c' -o -name '*.cpp' \) -print0 |
  xargs -0 cp --parents -t "$tree")

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! out=$(bash "$check" "$tree"); then
  fail "the unchanged copy is refused:"; echo "$out"
fi

# Escapes: expected line start | planted file | its second line (printf %b) | optional second file | its text
escapes=(
  'runtime/Planted.h:2 includes "nxruntime.h"|runtime/Planted.h|#include "nxruntime.h"'
  'streams/Planted.h:2 includes <components/NXCommonFilter.h>|streams/Planted.h|#include <components/NXCommonFilter.h>'
  'buffers/Planted.cpp:2 includes <nxruntime/drawing/Vantex.h>|buffers/Planted.cpp|#  include <nxruntime/drawing/Vantex.h>'
  'components/Planted.h:2 includes "nxflow/NXFlowHost.h"|components/Planted.h|#include "nxflow/NXFlowHost.h"'
  'nxflow/Planted.cpp:2 includes "packages/nxexamples/NXExampleFilters.h"|nxflow/Planted.cpp|#include "packages/nxexamples/NXExampleFilters.h"'
  'gadgets/ holds C/C++ sources (gadgets/Planted.cpp)|gadgets/Planted.cpp|int planted = 0;'
  'packages/Planted.h:2 includes "nxflow/NXFlowHost.h"|packages/Planted.h|#include "nxflow/NXFlowHost.h"'
  'examples/Planted.cpp:2 includes <nxflow/NXFlowHost.h>|examples/Planted.cpp|#include <nxflow/NXFlowHost.h>'
  'python/Planted.cpp:2 includes "packages/nxexamples/NXExampleFilters.h"|python/Planted.cpp|#include "packages/nxexamples/NXExampleFilters.h"'
  'Planted.h:2 includes "nxflow/NXFlowHost.h"|Planted.h|#include "nxflow/NXFlowHost.h"'
  'vector/Planted.h:2 includes "../streams/Anything.h"|vector/Planted.h|%:include "../streams/Anything.h"'
  'xml/Planted.h:2 includes <algorithms/Anything.h>|xml/Planted.h|# /* hidden */ include <algorithms/Anything.h>'
  'streams/Planted.h:2 includes "drawing/Vantex.h"|streams/Planted.h|#include \\\n  "drawing/Vantex.h"'
  'documents/Planted.h:2 includes "nxflow/NXFlowHost.h"|documents/Planted.h|import "nxflow/NXFlowHost.h";'
  'drawing/Planted.h:2 includes processing/Anything.h (through PLANTED_HEADER)|drawing/Planted.h|#define PLANTED_HEADER "processing/Anything.h"\n#include PLANTED_HEADER'
  'runtime/Planted.h:2 includes NOT_DEFINED_ANYWHERE|runtime/Planted.h|#include NOT_DEFINED_ANYWHERE'
  'runtime/Planted.def:2 includes "xml/RGSimpleXML.h"|runtime/Planted.h|#include "Planted.def"|runtime/Planted.def|#include "xml/RGSimpleXML.h"'
)
# Look-alikes, planted together, that must pass: commented out, inside a raw
# string, system headers named like a folder, headers beside the file or
# reached through "..", folders that may.
lookalikes=(
  'runtime/Planted1.cpp|// #include "nxflow/NXFlowHost.h"\n/* #include <components/NXCommonFilter.h> */'
  'runtime/Planted2.cpp|const char* text = R"(\n#include "nxflow/NXFlowHost.h"\n)";'
  'runtime/Planted3.cpp|#include <vector>\n#include <gtest/gtest.h>\n#include "Zandor.Types.h"\n#include "Generated.h"'
  'components/detail/Planted.h|#include "../../streams/NotYetWritten.h"'
  'packages/Planted.cpp|#include <nxruntime.h>\n#include "packages/nxexamples/NXExampleFilters.h"'
  'tests/Planted.cpp|#include "nxflow/NXFlowHost.h"\n#include "packages/nxexamples/NXExampleFilters.h"'
  'python/Planted2.cpp|#include "nxflow/NXFlowRun.h"'
)

plant() {  # file text
  mkdir -p "$(dirname "$tree/$1")"
  printf '// planted\n%b\n' "$2" >"$tree/$1"
}
unplant() {
  for f in "$@"; do [ -z "$f" ] || rm -f "$tree/$f"; done
  rmdir "$tree/gadgets" 2>/dev/null || true
}

for row in "${escapes[@]}"; do
  IFS='|' read -r expect file text file2 text2 <<<"$row"
  plant "$file" "$text"
  [ -z "$file2" ] || plant "$file2" "$text2"
  rc=0; out=$(bash "$check" "$tree") || rc=$?
  if [ $rc -ne 1 ] || ! grep -qF "layering: $expect" <<<"$out"; then
    fail "planted $file ($text): rc $rc, expected a line starting 'layering: $expect'"; echo "$out"
  fi
  unplant "$file" "$file2"
done

planted=()
for row in "${lookalikes[@]}"; do
  IFS='|' read -r file text <<<"$row"
  plant "$file" "$text"
  planted+=("$file")
done
out=$(bash "$check" "$tree") || { fail "look-alikes refused:"; echo "$out"; }
unplant "${planted[@]}"

[ $failures -eq 0 ] && echo "check-layering: ${#escapes[@]} escapes caught, ${#lookalikes[@]} look-alikes passed"
exit $((failures > 0))
