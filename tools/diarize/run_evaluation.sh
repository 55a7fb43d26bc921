#!/bin/bash
# Diarization evaluation in one command: both methods on held-out conversations,
# the window method calibrated on development conversations.
#
#   tools/diarize/run_evaluation.sh DEPLOYMENT [CORPUS] [DATA] [OUT]
#
# DEPLOYMENT  model folder (ulxmodel.dat, mfcc-options.json, xe5.pb)
# CORPUS      folder made by tools/corpus/make_corpus.py (default /work/run/work/corpus)
# DATA        where the conversations are made once and kept (default /work/dia-data)
# OUT         results (default DATA/eval-<deployment folder name>)
#
# Environment: BUILD (default build), DEV_COUNT (16), TEST_COUNT (24), SEED (7), JOBS (2).
# Conversations: 2-5 speakers, 30 s - 10 min, turns 1-30 s, half of them on the hard
# channel, one speaker of every conversation of 3 or more talking for at most 1-35 s in all.
set -euo pipefail
REPO=$(cd "$(dirname "$0")/../.." && pwd)
DEPLOY=$(cd "${1:?usage: run_evaluation.sh DEPLOYMENT [CORPUS] [DATA] [OUT]}" && pwd)
CORPUS=${2:-/work/run/work/corpus}
DATA=${3:-/work/dia-data}
OUT=${4:-$DATA/eval-$(basename "$DEPLOY")}
BUILD=${BUILD:-$REPO/build}
PY=/usr/bin/python3

make_set() {  # split count folder seed
  if [ -f "$3/conversations.tsv" ]; then return; fi
  $PY "$REPO/tools/corpus/make_conversations.py" --corpus "$CORPUS" --out "$3" --split "$1" \
    --count "$2" --seed "$4" --min-speakers 2 --max-speakers 5 --min-seconds 30 \
    --max-seconds 600 --min-turn 1 --max-turn 30 --rare-speaker-seconds 35 \
    --jobs "${JOBS:-2}"
}
make_set dev "${DEV_COUNT:-16}" "$DATA/dev" "${SEED:-7}"
make_set test "${TEST_COUNT:-24}" "$DATA/test" "$(( ${SEED:-7} + 1 ))"

if [ ! -x "$BUILD/bin/jor-diarize" ]; then
  cmake --build "$BUILD" -j2 --target jor-diarize Drumlin Pellam jor_diarization_wrapper
fi
$PY "$REPO/tools/diarize/evaluate_diarization.py" --deployment "$DEPLOY" --dev "$DATA/dev" \
  --test "$DATA/test" --manifest "$CORPUS/manifest.tsv" --build "$BUILD" --out "$OUT"
