#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehavior-
# Sanitizer) and runs each for a given time on a working copy of its seeds:
#   fuzz/run.sh [SECONDS] [TARGET...]        default 30 s, every target
# BUILD_DIR (default build-fuzz) holds the build, the working corpora
# (BUILD_DIR/corpus/TARGET) and any finding (BUILD_DIR/findings/TARGET);
# FUZZ_JOBS (default 1) targets run at once; FUZZ_NO_BUILD=1 runs what is built. For each target one line gives
# executions per second, the corpus size and the coverage libFuzzer reached.
# The exit status is non-zero when a target found anything.
set -uo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-30}
shift || true
BUILD_DIR=${BUILD_DIR:-build-fuzz}
JOBS=${FUZZ_JOBS:-1}

if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  mkdir -p "$BUILD_DIR"
  CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Debug -DJOR_LIBFUZZER=ON \
    -DJOR_SANITIZE=ON -DJOR_BUILD_TESTS=OFF -DJOR_BUILD_BENCH=OFF -DJOR_BUILD_JAVA=OFF \
    ${JOR_CMAKE_ARGS:-} > "$BUILD_DIR.configure.log" 2>&1 || { cat "$BUILD_DIR.configure.log"; exit 1; }
fi
if [ "${FUZZ_NO_BUILD:-0}" != "1" ]; then
  cmake --build "$BUILD_DIR" -j"$(nproc)" --target fuzz-all > "$BUILD_DIR.build.log" 2>&1 \
    || { tail -50 "$BUILD_DIR.build.log"; exit 1; }
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in fuzz/*_fuzz.cc; do
    name=$(basename "$src" .cc)
    [ -x "$BUILD_DIR/bin/$name" ] && targets+=("$name")
  done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_one() {
  local name=$1
  local corpus="$BUILD_DIR/corpus/$name" findings="$BUILD_DIR/findings/$name"
  local log="$BUILD_DIR/fuzz-$name.log"
  mkdir -p "$corpus" "$findings"
  [ -d "fuzz/seeds/$name" ] && cp -n fuzz/seeds/"$name"/* "$corpus"/ 2>/dev/null
  "$BUILD_DIR/bin/$name" -max_total_time="$SECONDS_EACH" -timeout=120 -rss_limit_mb=2560 \
    -malloc_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" \
    > "$log" 2>&1
  local rc=$?
  local last execs cov ft units size
  last=$(grep -E '^#[0-9]+' "$log" | tail -1)
  execs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<< "$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<< "$last")
  units=$(ls "$corpus" | wc -l)
  size=$(du -sk "$corpus" | cut -f1)
  if [ $rc -eq 0 ]; then
    printf '%-16s ok       %6s exec/s  corpus %5s inputs %7s KiB  cov %5s  ft %6s\n' \
      "$name" "${execs:-?}" "$units" "$size" "${cov:-?}" "${ft:-?}"
  else
    printf '%-16s FINDING  (exit %d) see %s and %s\n' "$name" "$rc" "$log" "$findings"
    grep -m3 -E 'ERROR|runtime error|broken promise' "$log"
  fi
  return $rc
}

status=0
pids=()
for name in "${targets[@]}"; do
  run_one "$name" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$JOBS" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
