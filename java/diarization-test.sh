#!/usr/bin/env bash
# End-to-end test of the Java entry point: a synthetic two-speaker recording
# (two espeak-ng voices, 32 s each), as WAV and as MP3, is diarized with
#   java -Djava.library.path=<lib dir> com.jor.wrapper.SpeakerDiarizationWrapper <file> <models>
# and the XML is checked with Java's own parser.
#
# usage: diarization-test.sh <classpath> <lib dir> [deployment]
# The deployment (model directory) comes from the third argument or from
# JOR_TEST_DEPLOYMENT; without one, or without the tools, the test is
# skipped (exit 77).
set -euo pipefail
classpath=$1
libdir=$2
deployment=${3:-${JOR_TEST_DEPLOYMENT:-}}
if [ -z "$deployment" ]; then
  echo "JOR_TEST_DEPLOYMENT is not set: skipped"
  exit 77
fi
for tool in java espeak-ng sox lame; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing: skipped"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

text="The weather this morning was cold and grey, but by noon the sun came out and the \
streets filled with people walking to the market. We bought bread, apples and a little \
cheese, and then we sat by the river and talked about the summer holidays for a long time."
espeak-ng -v en-us+m3 -s 150 -w "$work/a.wav" "$text"
espeak-ng -v en-gb+f4 -s 170 -p 70 -w "$work/b.wav" "$text"
# 32 s of each voice at 16 kHz: exercises the decoder's resampling.
sox "$work/a.wav" -r 16000 -c 1 -b 16 "$work/a16.wav" repeat 9 trim 0 32
sox "$work/b.wav" -r 16000 -c 1 -b 16 "$work/b16.wav" repeat 9 trim 0 32
sox "$work/a16.wav" "$work/b16.wav" "$work/two.wav"
lame --quiet -b 64 "$work/two.wav" "$work/two.mp3"

run() {
  local input=$1
  echo "== $input"
  java -Djava.library.path="$libdir" -cp "$classpath" com.jor.wrapper.SpeakerDiarizationWrapper \
    "$input" "$deployment" >"$work/out.xml"
  cat "$work/out.xml"
  java -cp "$classpath" com.jor.wrapper.SpeakerListCheck "$work/out.xml" 64
}
run "$work/two.wav"
run "$work/two.mp3"
