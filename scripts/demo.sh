#!/usr/bin/env bash
# Installs what is missing, builds in Release and runs the demo on the default
# deployment shipped in models/default: enrol two speakers from recordings
# spoken by espeak-ng and verify a third recording against both; then a tour
# of the ravel program (enrol, verify, identify, diarize with a timeline
# picture).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
bash scripts/build.sh
build/bin/ravel-smoke models/default
echo "== models/default (trained here; the test recording is B's voice)"
bash scripts/demo-recordings.sh build/demo build/bin/enrol_verify models/default
echo "== tests/data/trained (small trained deployment; the test recording is B's voice)"
bash scripts/demo-recordings.sh build/demo build/bin/enrol_verify tests/data/trained
echo "== ravel, the command-line program, on models/default"
bash scripts/demo-cli.sh build/demo-cli build/bin/ravel models/default
