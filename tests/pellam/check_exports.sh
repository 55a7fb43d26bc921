#!/usr/bin/env bash
# The library exports exactly the names of the .def file, and the .def file
# matches the ordinal table of the header.
set -euo pipefail
lib=$1 def=$2 header=$3
exported=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWiDB]$/ {print $3}' | grep -v '^_\(init\|fini\|edata\|end\|_bss_start\)$' | sort)
from_def=$(awk '/@/ {print $1}' "$def" | sort)
if [ "$exported" != "$from_def" ]; then
  echo "exported names differ from $def:"; diff <(echo "$exported") <(echo "$from_def") || true; exit 1
fi
def_pairs=$(awk '/@/ {sub("@","",$2); print $2, $1}' "$def" | sort -n)
header_pairs=$(tr -d '\\\n' < "$header" | grep -o 'X([0-9]*, *[A-Za-z]*, *Entry_[0-9a-f]*)' \
  | sed -E 's/X\(([0-9]+), *[A-Za-z]+, *(Entry_[0-9a-f]+)\)/\1 \2/' | sort -n)
if [ "$def_pairs" != "$header_pairs" ]; then
  echo "ordinals of $def differ from the header table:"; diff <(echo "$def_pairs") <(echo "$header_pairs") || true; exit 1
fi
echo "$(echo "$exported" | wc -l) exports match"
