#!/usr/bin/env bash
# Installs what is missing, builds in Release and runs the whole test suite.
# With JOR_SANITIZE_RUN=1 (set by CI) the suite runs a second time in an
# AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
bash scripts/build.sh
(cd build && ctest --output-on-failure -j"$(nproc)" --timeout 600)
if [ "${JOR_SANITIZE_RUN:-0}" = "1" ]; then
  BUILD_DIR=build-asan bash scripts/build.sh -DCMAKE_BUILD_TYPE=Debug -DJOR_SANITIZE=ON \
    -DJOR_BUILD_BENCH=OFF -DJOR_BUILD_JAVA=OFF
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$(nproc)" --timeout 900)
fi
