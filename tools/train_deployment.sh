#!/bin/bash
# Full training run: synthetic corpus, GMMs, i-vector extractor, x-vector network, scoring
# back-end, a deployment, and its evaluation (verification on the test list, diarization of
# test conversations). About an hour on 2 cores.
# Usage: tools/train_deployment.sh OUT_DIR [STAGE...]
#   Writes OUT_DIR/deployment (the five model files), OUT_DIR/eval (summary.tsv, score
#   files, DET and timeline pictures, diarization/der.tsv), OUT_DIR/stages.tsv (seconds per
#   stage), OUT_DIR/train.log (every EM iteration) and the corpus and exports under
#   OUT_DIR/work. Run again on the same OUT_DIR, it resumes after the last finished stage
#   (the x-vector trainer from its last checkpoint). With STAGE names, only those run
#   (stages: corpus perturb features gmms statistics extractor ivectors xfeatures xvector
#   network vectors backend verification diarization), so that independent stages can run
#   side by side: the x-vector stages need only corpus and perturb, the i-vector ones
#   features; network needs both branches.
#   BUILD      build folder with bin/jor-export, lib/ and java/ (default: build/, brought up
#              to date with scripts/build.sh first)
#   SEED       corpus and model seed (default 1)
#   RECORDINGS recordings per speaker (default 20); RANDOM_VOICES random espeak-ng
#              variants (default 240); GAUSSIANS (256); IVECTOR_DIM (512);
#              IVECTOR_ITERS (3); MAX_UTTERANCES for the i-vector EM (2500);
#              CONVERSATIONS for the diarization test (10); SPEEDS the speed factors
#              that make new training speakers (0.9,1.1); XVECTOR_STEPS (3000),
#              XVECTOR_DIMS (frame layer widths, 128,128,128,128,384), XVECTOR_EMBEDDING (256)
set -euo pipefail
if [[ $# -lt 1 || "$1" == "-h" || "$1" == "--help" ]]; then
  sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'
  exit $([[ $# -ge 1 ]] && echo 0 || echo 2)
fi
REPO=$(cd "$(dirname "$0")/.." && pwd)
PY=/usr/bin/python3
OUT=$(mkdir -p "$1" && cd "$1" && pwd)
shift
ONLY=" $* "
if [[ -z "${BUILD:-}" ]]; then
  echo "== building (scripts/build.sh)" >&2
  bash "$REPO/scripts/build.sh" >"$OUT/build.log" 2>&1 || { tail -20 "$OUT/build.log" >&2; exit 2; }
fi
BUILD=$(cd "${BUILD:-$REPO/build}" && pwd)
EXPORT=$BUILD/bin/jor-export
SEED=${SEED:-1}
C=${GAUSSIANS:-256}
R=${IVECTOR_DIM:-512}
for f in "$EXPORT" "$BUILD/lib/libPellam.so" "$BUILD/lib/libDrumlin.so" \
  "$BUILD/java/jor_diarization_wrapper.jar"; do
  [[ -e "$f" ]] || { echo "missing $f: build the project first (scripts/build.sh)" >&2; exit 2; }
done
W=$OUT/work
DEPLOY=$OUT/deployment
EVAL=$OUT/eval
DONE=$W/done
mkdir -p "$W/exp/train" "$W/exp/pieces" "$W/exp/dev" "$DEPLOY" "$EVAL/diarization" "$DONE"
LOG=$OUT/train.log
touch "$LOG"
[[ -s "$OUT/stages.tsv" ]] || printf 'stage\tseconds\n' >"$OUT/stages.tsv"
export PELLAM_LIB=$BUILD/lib/libPellam.so
MFCC=$W/mfcc-options.json
printf '{"MfccOptions":{"num_ceps":40,"MelBanksOptions":{"num_bins":40}}}' >"$MFCC"

# Progress bars go to the terminal, the log keeps the other lines.
logged() {
  "$@" 2> >(tee >(tr '\r' '\n' | grep -v '\[#*  *\]\|\[#*\] [0-9]' >>"$LOG") >&2) | tee -a "$LOG"
}
# stage ID "what it does" FUNCTION: runs FUNCTION unless an earlier run finished it.
stage() {
  local id=$1 what=$2
  shift 2
  if [[ "$ONLY" != "  " && "$ONLY" != *" $id "* ]]; then
    return
  fi
  if [[ -e "$DONE/$id" ]]; then
    echo "== $what: done before" | tee -a "$LOG" >&2
    return
  fi
  echo "== $(date +%T) $what" | tee -a "$LOG" >&2
  local start=$(date +%s)
  "$@"
  local s=$(($(date +%s) - start))
  printf '%s\t%d\n' "$what" "$s" >>"$OUT/stages.tsv"
  echo "   $what: ${s} s" | tee -a "$LOG" >&2
  touch "$DONE/$id"
}

corpus() {
  rm -rf "$W/corpus"
  logged $PY "$REPO/tools/corpus/make_corpus.py" --out "$W/corpus" --seed "$SEED" \
    --recordings "${RECORDINGS:-20}" --espeak-random "${RANDOM_VOICES:-240}" --jobs 2
  for list in train dev test; do
    printf '%s: %s speakers, %s recordings, %.0f s\n' "$list" \
      "$(awk -F'\t' 'NR>1 {print $1}' "$W/corpus/$list.tsv" | sort -u | wc -l)" \
      "$(awk 'NR>1' "$W/corpus/$list.tsv" | wc -l)" \
      "$(awk -F'\t' 'NR>1 {s += $4} END {print s}' "$W/corpus/$list.tsv")" | tee -a "$LOG" >&2
  done
}
features() {
  logged "$EXPORT" --mfcc-options "$MFCC" --manifest "$W/corpus/train.tsv" --out "$W/exp/train"
}
gmms() {
  logged $PY "$REPO/tools/train/train_gmm.py" "$W/exp/train" --num-gaussians "$C" \
    --selection-out "$W/sel.htk" --posterior-out "$W/post.htk" --max-frames 500000
}
statistics() {
  logged "$EXPORT" --mfcc-options "$MFCC" --selection-gmm "$W/sel.htk" --posterior-gmm "$W/post.htk" \
    --no-features --manifest "$W/corpus/train.tsv" --out "$W/exp/train"
}
extractor() {
  logged $PY "$REPO/tools/train/train_ivector.py" "$W/exp/train" --gmm "$W/post.htk" \
    --out "$W/ivector.sec" --ivector-dim "$R" --iters "${IVECTOR_ITERS:-3}" \
    --max-utterances "${MAX_UTTERANCES:-2500}" --seed "$SEED"
}
ivectors() {
  logged "$EXPORT" --mfcc-options "$MFCC" --selection-gmm "$W/sel.htk" --posterior-gmm "$W/post.htk" \
    --extractor "$W/ivector.sec" --ivectors --no-features \
    --manifest "$W/corpus/train-perturbed.tsv" --out "$W/exp/train"
  $PY "$REPO/tools/train/collect_ivectors.py" --manifest "$W/corpus/train-perturbed.tsv" \
    --export "$W/exp/train" --out "$W/ivectors.npy" --labels "$W/ivector-speakers.txt"
}
# New training speakers: every train speaker played at each speed factor.
perturb() {
  logged $PY "$REPO/tools/corpus/perturb_speakers.py" --corpus "$W/corpus" \
    --list "$W/corpus/train.tsv" --out-list "$W/corpus/train-perturbed.tsv" \
    --factors "${SPEEDS:-0.9,1.1}" --jobs 2
}
xfeatures() {
  # the perturbed rows only: the features stage exported the others
  awk -F'\t' 'NR == 1 || $1 ~ /-sp[0-9.]+$/' "$W/corpus/train-perturbed.tsv" >"$W/corpus/perturbed-only.tsv"
  logged "$EXPORT" --mfcc-options "$MFCC" --manifest "$W/corpus/perturbed-only.tsv" \
    --out "$W/exp/train"
  logged "$EXPORT" --mfcc-options "$MFCC" --manifest "$W/corpus/dev.tsv" --out "$W/exp/dev"
}
xvector() {
  [[ -e "$DONE/features" ]] || { echo "the features stage has not finished" >&2; return 1; }
  logged $PY "$REPO/tools/xvector/train_xvector.py" --feats "$W/exp/train" \
    --manifest "$W/corpus/train-perturbed.tsv" --out "$W/xvector" --seed "$SEED" \
    --steps "${XVECTOR_STEPS:-3000}" --frame-dims "${XVECTOR_DIMS:-128,128,128,128,384}" \
    --embedding-dim "${XVECTOR_EMBEDDING:-256}" --dev-manifest "$W/corpus/dev.tsv" \
    --dev-feats "$W/exp/dev"
}
network() {
  logged $PY "$REPO/tools/xvector/export_xvector.py" --network "$W/xvector/network.pt" \
    --feats "$W/exp/train" --manifest "$W/corpus/train-perturbed.tsv" \
    --targets "$W/ivectors.npy:$W/ivector-speakers.txt" --out "$W/xe5.pb"
}
# Both kinds of vector of the training recordings and of their 4-second pieces (what the
# diarization driver compares): the back-end then knows the spread of short pieces too.
vectors() {
  logged $PY "$REPO/tools/corpus/make_chunks.py" --manifest "$W/corpus/train-perturbed.tsv" \
    --out "$W/pieces" --seconds 4 --max-pieces 1
  logged "$EXPORT" --mfcc-options "$MFCC" --xvectors --xvector-model "$W/xe5.pb" --no-features \
    --manifest "$W/corpus/train-perturbed.tsv" --out "$W/exp/train"
  logged "$EXPORT" --mfcc-options "$MFCC" --selection-gmm "$W/sel.htk" --posterior-gmm "$W/post.htk" \
    --extractor "$W/ivector.sec" --ivectors --xvectors --xvector-model "$W/xe5.pb" --no-features \
    --manifest "$W/pieces/chunks.tsv" --out "$W/exp/pieces"
  local kind
  for kind in ivector xvector; do
    $PY "$REPO/tools/train/collect_ivectors.py" --kind $kind \
      --manifest "$W/corpus/train-perturbed.tsv" --export "$W/exp/train" \
      --manifest "$W/pieces/chunks.tsv" --export "$W/exp/pieces" \
      --out "$W/backend-$kind.npy" --labels "$W/backend-$kind.txt"
  done
}
backend() {
  logged $PY "$REPO/tools/backend/train_backend.py" \
    --set "$W/backend-ivector.npy:$W/backend-ivector.txt" \
    --set "$W/backend-xvector.npy:$W/backend-xvector.txt" --out "$W/backend"
  $PY "$REPO/tools/backend/assemble_deployment.py" "$DEPLOY" --selection-gmm "$W/sel.htk" \
    --posterior-gmm "$W/post.htk" --ivector "$W/ivector.sec" \
    --splda "$W/backend/splda.sec" --mean-variance "$W/backend/mean-variance.sec" \
    --whitening "$W/backend/whitening.sec" --xe5 "$W/xe5.pb" \
    --mfcc-options "$MFCC" --log-level 6 --log-file ULXSdk.log
}
verification() {
  logged $PY "$REPO/tools/eval/evaluate.py" report --manifest "$W/corpus/test.tsv" \
    --deployment "$DEPLOY" --kind ivector --kind xvector --out "$EVAL"
}
diarization() {
  rm -rf "$W/conversations"
  logged $PY "$REPO/tools/corpus/make_conversations.py" --corpus "$W/corpus" \
    --out "$W/conversations" --split test --count "${CONVERSATIONS:-10}" --max-seconds 300 \
    --seed "$SEED"
  logged $PY "$REPO/tools/eval/evaluate.py" diarize \
    --conversations "$W/conversations/conversations.tsv" --manifest "$W/corpus/manifest.tsv" \
    --deployment "$DEPLOY" --classpath "$BUILD/java/jor_diarization_wrapper.jar" \
    --libdir "$BUILD/lib" --out "$EVAL/diarization" | tee "$EVAL/diarization/der.tsv"
}

stage corpus corpus corpus
stage perturb "new training speakers by speed perturbation" perturb
stage features "features (train list)" features
stage gmms "GMMs ($C diagonal Gaussians)" gmms
stage statistics "statistics (train list)" statistics
stage extractor "i-vector extractor (R = $R)" extractor
stage ivectors "i-vectors (perturbed train list)" ivectors
stage xfeatures "features (perturbed train list, dev list)" xfeatures
stage xvector "x-vector network training" xvector
stage network "x-vector network export (embedding mapped to $R)" network
stage vectors "back-end vectors (perturbed train list and a 4-s piece of each)" vectors
stage backend "scoring back-end and deployment" backend
stage verification "verification evaluation (test list)" verification
stage diarization "diarization evaluation (${CONVERSATIONS:-10} test conversations)" diarization

[[ "$ONLY" == "  " ]] || exit 0
echo "== $(date +%T) done" | tee -a "$LOG" >&2
column -t -s $'\t' "$EVAL/summary.tsv" | tee -a "$LOG" >&2
tail -n 1 "$EVAL/diarization/der.tsv" | tee -a "$LOG" >&2
column -t -s $'\t' "$OUT/stages.tsv" | tee -a "$LOG" >&2
