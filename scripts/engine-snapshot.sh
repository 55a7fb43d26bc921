#!/usr/bin/env bash
# Writes what the default and the trained test deployment make of fixed
# inputs (template bytes, scores, checks, refusals, diarization XML, log
# lines) into OUT_DIR/default.txt and OUT_DIR/trained.txt, using the libraries
# of BUILD_DIR. Two snapshots of the same inputs from two builds must be
# identical when a change is meant to keep the engine's behaviour:
#   scripts/engine-snapshot.sh build /tmp/before   (old build)
#   scripts/engine-snapshot.sh build /tmp/after    (new build)
#   diff -r /tmp/before /tmp/after
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:?usage: engine-snapshot.sh BUILD_DIR OUT_DIR}")
out=${2:?usage: engine-snapshot.sh BUILD_DIR OUT_DIR}
mkdir -p "$out"
bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
g++ -std=c++20 -O1 -I. -o "$bin/engine-snapshot" scripts/engine-snapshot.cc tools/export/wav-file.cc \
  "$build/lib/static/libdrumlin_diarization.a" "$build/lib/static/libdrumlin_audec.a" \
  -L"$build/lib" -Wl,-rpath,"$build/lib" -lPellam -lRavel -lmp3lame
data=tests/data/trained
wavs=("$data"/heldout/*.wav "$data"/conversation/es-f1-enrol.wav "$data"/conversation/es-m4-enrol.wav)
for deployment in default:models/default trained:$data; do
  name=${deployment%%:*}
  mkdir -p "$bin/$name"
  "$bin/engine-snapshot" "${deployment#*:}" "$bin/$name" "$data/conversation/two-voices.wav" \
    "${wavs[@]}" > "$out/$name.txt"
  echo "$name: $(wc -l < "$out/$name.txt") lines"
done
