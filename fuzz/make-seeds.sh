#!/usr/bin/env bash
# Remakes the committed seed corpora in fuzz/seeds from the trained test
# deployment and its recordings (needs a build with build/bin/fuzz_make_seeds,
# and sox and lame for the audio formats the recordings do not show).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
rm -rf fuzz/seeds
"$BUILD_DIR/bin/fuzz_make_seeds" "$PWD" fuzz/seeds
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
src=tests/data/trained/conversation/two-voices.wav
# The first input byte picks the format and flags (see audio_fuzz.cc):
# bit 0 WAV, bit 1 no down-sampling, bit 2 keep stereo, bit 3 low-pass.
sox "$src" -r 16000 -c 2 "$tmp/stereo16k.wav" trim 20 0.6
sox "$src" -r 11025 -b 8 "$tmp/u8-11k.wav" trim 30 0.5
sox "$src" -r 22050 -b 24 "$tmp/s24-22k.wav" trim 40 0.3
lame --quiet -b 16 -m m <(sox "$src" -t wav - trim 10 1.5) "$tmp/mono.mp3"
lame --quiet -b 32 -m j "$tmp/stereo16k.wav" "$tmp/stereo.mp3"
{ printf '\x05'; cat "$tmp/stereo16k.wav"; } > fuzz/seeds/audio_fuzz/stereo16k-keep-stereo.wav
{ printf '\x09'; cat "$tmp/u8-11k.wav"; } > fuzz/seeds/audio_fuzz/u8-11k-lowpass.wav
{ printf '\x03'; cat "$tmp/s24-22k.wav"; } > fuzz/seeds/audio_fuzz/s24-22k-no-downsampling.wav
{ printf '\x00'; cat "$tmp/mono.mp3"; } > fuzz/seeds/audio_fuzz/mono.mp3
{ printf '\x04'; cat "$tmp/stereo.mp3"; } > fuzz/seeds/audio_fuzz/stereo-keep-stereo.mp3
du -sh fuzz/seeds
