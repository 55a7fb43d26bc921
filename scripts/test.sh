#!/usr/bin/env bash
# Installs what is missing, builds in Release and runs the whole test suite.
# With JOR_SANITIZE_RUN=1 (set by CI) the suite runs a second time in an
# AddressSanitizer + UndefinedBehaviorSanitizer build. With JOR_THOROUGH_RUN=1
# (also set by CI) the engine, Pellam and diarization tests then run in a
# ThreadSanitizer build, and every fuzz target runs for JOR_FUZZ_SECONDS
# (default 20) under libFuzzer with ASan + UBSan.
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
if [ "${JOR_THOROUGH_RUN:-0}" = "1" ]; then
  # Only the targets of the threaded and multi-process tests.
  tsan_start=$SECONDS
  mkdir -p build-tsan
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Release -DJOR_TSAN=ON -DJOR_BUILD_BENCH=OFF \
    -DJOR_BUILD_JAVA=OFF > build-tsan.configure.log 2>&1 || { cat build-tsan.configure.log; exit 1; }
  cmake --build build-tsan -j"$(nproc)" --target engine_exports_test engine_lifecycle_test \
    engine_threads_test engine_instance_test pellam_c_test pellam_flow_test \
    diarization_speaker_clustering_test diarization_speaker_database_test \
    diarization_diarization_driver_test diarization_diarization_deployment_test
  (cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --output-on-failure \
    -j"$(nproc)" --timeout 900 -R '^(ExportsTest|LifecycleTest|ThreadsTest|InstanceTest|Pellam(CApi|CallingOrders)|SpeakerClustering|SpeakerDatabase|DiarizationDriver|DiarizationDeployment|SpeakerList|QuantiseScore)')
  echo "ThreadSanitizer build and tests: $((SECONDS - tsan_start)) s"
  fuzz_start=$SECONDS
  bash fuzz/run.sh "${JOR_FUZZ_SECONDS:-20}"
  echo "Fuzz build and runs: $((SECONDS - fuzz_start)) s"
fi
