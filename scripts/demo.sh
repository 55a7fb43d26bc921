#!/usr/bin/env bash
# Installs what is missing, builds in Release and runs the demo on the
# default deployment shipped in models/default.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
bash scripts/build.sh
build/bin/ravel-smoke models/default
