#!/usr/bin/env bash
# Checks that the library's includes point only downward. Each folder may
# include its own headers and those of the folders listed for it; anything
# else (an upward arrow, or a sideways one between folders that must stay
# independent) fails with the offending lines. The top-level nxruntime.h,
# tests, benchmarks, examples and fuzz targets stand above everything.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [runtime]=""
  [xml]="runtime"
  [vector]="runtime"
  [buffers]="runtime vector"
  [streams]="runtime vector buffers"
  [algorithms]="runtime vector buffers"
  [infrastructure]="runtime vector buffers streams xml"
  [components]="runtime vector buffers streams xml algorithms infrastructure"
  [processing]="runtime vector buffers streams xml infrastructure components"
  [documents]="runtime vector buffers streams xml infrastructure components"
  [drawing]="runtime vector buffers streams xml infrastructure"
)

status=0
for dir in "${!allowed[@]}"; do
  [ -d "$dir" ] || continue
  ok=" $dir ${allowed[$dir]} "
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"${line#*:}")
    top=${target%%/*}
    [ "$top" = "$target" ] && continue  # a header beside the file
    if [[ "$ok" != *" $top "* ]]; then
      echo "layering: $file includes $target ($dir may include: ${allowed[$dir]:-nothing outside itself})"
      status=1
    fi
  done < <(grep -rHn --include='*.h' --include='*.cpp' --include='*.inc' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$dir" | sed -E 's/^([^:]+):[0-9]+:/\1:/')
done
[ $status -eq 0 ] && echo "layering: every include points downward"
exit $status
