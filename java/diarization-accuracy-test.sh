#!/usr/bin/env bash
# Accuracy of the Java entry point on the trained test deployment: its two-voice
# conversation (conversation/two-voices.wav, one voice in each half) is diarized with
#   java -Djava.library.path=<lib dir> com.jor.wrapper.SpeakerDiarizationWrapper <file> <models>
# where <models> is a private copy of the deployment whose speaker database enrols every
# voice of conversation/enrolment.tsv (enrol_speakers.py, through libPellam). Each listed
# turn must name a voice that talks during it (a turn across the change may name either),
# and each voice must be named for at least half of its own half.
#
# usage: diarization-accuracy-test.sh <classpath> <lib dir> <trained deployment>
# Skipped (exit 77) without java, python3 (PYTHON, default /usr/bin/python3) or numpy.
set -euo pipefail
classpath=$1
libdir=$2
deployment=$3
here=$(cd "$(dirname "$0")" && pwd)
python=${PYTHON:-/usr/bin/python3}
for tool in java "$python"; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing: skipped"
    exit 77
  fi
done
conversation=$deployment/conversation/two-voices.wav
reference=$deployment/conversation/two-voices.tsv
[ -f "$conversation" ] && [ -f "$reference" ] || { echo "no conversation in $deployment"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rc=0
"$python" "$here/enrol_speakers.py" "$deployment" "$libdir/libPellam.so" "$work/models" || rc=$?
[ "$rc" = 0 ] || exit "$rc"

java -Djava.library.path="$libdir" -cp "$classpath" com.jor.wrapper.SpeakerDiarizationWrapper \
  "$conversation" "$work/models" >"$work/out.xml"
cat "$work/out.xml"
seconds=$(awk -F'\t' 'NR > 1 && $3 > e {e = $3} END {print e + 0}' "$reference")
java -cp "$classpath" com.jor.wrapper.SpeakerListCheck "$work/out.xml" "$seconds"
java -cp "$classpath" com.jor.wrapper.SpeakerTurnsCheck "$work/out.xml" "$reference" 0.5
