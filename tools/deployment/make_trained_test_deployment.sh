#!/bin/bash
# Makes the small trained test deployment (tests/data/trained/) from a synthetic corpus.
# Usage: tools/deployment/make_trained_test_deployment.sh OUT_DIR
#   JOR_EXPORT  jor-export binary (default build/bin/jor-export)
#   WORK        scratch folder (default OUT_DIR/.work, removed at the end unless KEEP_WORK=1)
#   BUILTIN, RANDOM_VOICES  espeak-ng voices (default 12 built-in, 36 random variants)
#   IVECTOR_ITERS  i-vector EM iterations (default 2)
set -euo pipefail
if [[ $# -ne 1 || "$1" == "-h" || "$1" == "--help" ]]; then
  sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'
  exit $([[ $# -eq 1 ]] && echo 0 || echo 2)
fi
REPO=$(cd "$(dirname "$0")/../.." && pwd)
PY=/usr/bin/python3
OUT=$(mkdir -p "$1" && cd "$1" && pwd)
EXPORT=${JOR_EXPORT:-$REPO/build/bin/jor-export}
WORK=${WORK:-$OUT/.work}
[[ -x "$EXPORT" ]] || { echo "jor-export not found at $EXPORT (set JOR_EXPORT)" >&2; exit 2; }
SEED=7
SPEAKERS_KEPT=12    # speakers whose held-out recordings are stored with the deployment
rm -rf "$WORK"; mkdir -p "$WORK"
step() { echo "== $(date +%T) $*" >&2; }

step "corpus: ${BUILTIN:-12} built-in + ${RANDOM_VOICES:-36} random espeak-ng voices, 10 clean recordings of 3-5 s each"
$PY "$REPO/tools/corpus/make_corpus.py" --out "$WORK/corpus" --seed $SEED --recordings 10 \
  --min-seconds 3 --max-seconds 5 --espeak-builtin ${BUILTIN:-12} --espeak-random ${RANDOM_VOICES:-36} --no-flite \
  --no-festival --hard-fraction 0 --heldout-families '' --test-fraction 0 --dev-fraction 0 \
  --jobs 2 --quiet
# recordings 000-007 of every speaker train the models, 008-009 are held out
awk -F'\t' 'NR==1 || $2 !~ /-00[89]$/' "$WORK/corpus/manifest.tsv" > "$WORK/corpus/fit.tsv"
awk -F'\t' 'NR==1 || $2 ~ /-00[89]$/' "$WORK/corpus/manifest.tsv" > "$WORK/corpus/heldout.tsv"
printf '{"MfccOptions":{"num_ceps":40,"MelBanksOptions":{"num_bins":40}}}' > "$WORK/mfcc-options.json"

mkdir -p "$WORK/exp"
step "features"
"$EXPORT" --quiet --mfcc-options "$WORK/mfcc-options.json" --manifest "$WORK/corpus/fit.tsv" \
  --out "$WORK/exp"
step "GMMs: 64 diagonal Gaussians"
$PY "$REPO/tools/train/train_gmm.py" "$WORK/exp" --num-gaussians 64 \
  --selection-out "$WORK/sel.htk" --posterior-out "$WORK/post.htk" --max-frames 200000 \
  --final-iters 6 --quiet
step "statistics"
"$EXPORT" --quiet --mfcc-options "$WORK/mfcc-options.json" --selection-gmm "$WORK/sel.htk" \
  --posterior-gmm "$WORK/post.htk" --no-features --manifest "$WORK/corpus/fit.tsv" \
  --out "$WORK/exp"
step "i-vector extractor: R = 128"
$PY "$REPO/tools/train/train_ivector.py" "$WORK/exp" --gmm "$WORK/post.htk" \
  --out "$WORK/ivector.sec" --ivector-dim 128 --iters ${IVECTOR_ITERS:-2} --quiet
"$EXPORT" --quiet --mfcc-options "$WORK/mfcc-options.json" --selection-gmm "$WORK/sel.htk" \
  --posterior-gmm "$WORK/post.htk" --extractor "$WORK/ivector.sec" --ivectors --no-features \
  --manifest "$WORK/corpus/fit.tsv" --out "$WORK/exp"
$PY "$REPO/tools/train/collect_ivectors.py" --manifest "$WORK/corpus/fit.tsv" \
  --export "$WORK/exp" --out "$WORK/ivectors.npy" --labels "$WORK/ivector-speakers.txt"
step "x-vector network: random frame layer, LDA embedding layer mapped on the i-vector speaker means"
$PY "$REPO/tools/deployment/lda_xvector.py" --feats "$WORK/exp" \
  --manifest "$WORK/corpus/fit.tsv" --out "$WORK/xe5.pb" --embedding-dim 128 --seed $SEED \
  --targets "$WORK/ivectors.npy:$WORK/ivector-speakers.txt" \
  --vectors "$WORK/xvectors.npy" --labels "$WORK/xvector-speakers.txt"
step "back-end on both kinds"
$PY "$REPO/tools/backend/train_backend.py" --set "$WORK/ivectors.npy:$WORK/ivector-speakers.txt" \
  --set "$WORK/xvectors.npy:$WORK/xvector-speakers.txt" --out "$WORK/backend"
step "assembly"
$PY "$REPO/tools/backend/assemble_deployment.py" "$OUT" --selection-gmm "$WORK/sel.htk" \
  --posterior-gmm "$WORK/post.htk" --ivector "$WORK/ivector.sec" \
  --splda "$WORK/backend/splda.sec" --mean-variance "$WORK/backend/mean-variance.sec" \
  --whitening "$WORK/backend/whitening.sec" --xe5 "$WORK/xe5.pb" \
  --mfcc-options "$WORK/mfcc-options.json" --log-level 6 --log-file ULXSdk.log
# held-out recordings of the first speakers, for the accuracy tests
rm -rf "$OUT/heldout"; mkdir -p "$OUT/heldout"
awk -F'\t' 'NR>1 {print $1}' "$WORK/corpus/heldout.tsv" | uniq | head -n $SPEAKERS_KEPT \
  > "$WORK/kept.txt"
printf 'speaker\trecording\tpath\n' > "$OUT/heldout/heldout.tsv"
awk -F'\t' 'NR==FNR {k[$1]=1; next} FNR>1 && ($1 in k) {print $1 "\t" $2 "\t" $3}' \
  "$WORK/kept.txt" "$WORK/corpus/heldout.tsv" | while IFS=$'\t' read -r spk rec path; do
  cp "$WORK/corpus/$path" "$OUT/heldout/$rec.wav"
  printf '%s\t%s\t%s\n' "$spk" "$rec" "$rec.wav" >> "$OUT/heldout/heldout.tsv"
done
[[ "${KEEP_WORK:-0}" == 1 ]] || rm -rf "$WORK"
step "done: $(du -sh "$OUT" | cut -f1) in $OUT"
