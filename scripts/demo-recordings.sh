#!/usr/bin/env bash
# Speaks three recordings with espeak-ng (two of one voice, one of another),
# converts them to 8 kHz 16-bit mono WAV and runs the enrol/verify example.
#   demo-recordings.sh WORK_DIR ENROL_VERIFY DEPLOYMENT_DIR
set -euo pipefail
work=$1 program=$2 deployment=$3
command -v espeak-ng >/dev/null && command -v sox >/dev/null || { echo "espeak-ng or sox missing"; exit 77; }
mkdir -p "$work"
say() {  # voice, text, output
  espeak-ng -v "$1" -s 150 -w "$work/raw.wav" "$2"
  sox -R "$work/raw.wav" -r 8000 -c 1 -b 16 "$3"
}
say en+m3 "The quick brown fox jumps over the lazy dog. Speaker recognition needs a few seconds of clear speech, so this sentence goes on for a little while longer." "$work/a.wav"
say en+f2 "Please call Stella and ask her to bring these things with her from the store: six spoons of fresh snow peas and five thick slabs of blue cheese." "$work/b.wav"
say en+f2 "We also need a small plastic snake and a big toy frog for the kids. She can scoop these things into three red bags." "$work/test.wav"
"$program" "$deployment" "$work/a.wav" "$work/b.wav" "$work/test.wav"
