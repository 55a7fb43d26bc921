#!/bin/bash
# Makes the small trained test deployment (tests/data/trained/) from a synthetic corpus.
# Usage: tools/deployment/make_trained_test_deployment.sh OUT_DIR
#   JOR_EXPORT  jor-export binary (default build/bin/jor-export)
#   WORK        scratch folder (default OUT_DIR/.work, removed at the end unless KEEP_WORK=1)
#   BUILTIN, RANDOM_VOICES  espeak-ng voices (default 12 built-in, 36 random variants)
#   RECORDINGS  recordings per voice (default 34)
#   NUM_CEPS, GAUSSIANS  cepstra and diagonal Gaussians (default 20, 32)
#   IVECTOR_DIM, XVECTOR_DIM  speaker vector dimensions (default 512, 512)
#   IVECTOR_ITERS  i-vector EM iterations (default 2)
set -euo pipefail
if [[ $# -ne 1 || "$1" == "-h" || "$1" == "--help" ]]; then
  sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
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
RECORDINGS=${RECORDINGS:-34}
TRAIN_BELOW=22      # recordings -000..-007 and -010..-021 train the models
NUM_CEPS=${NUM_CEPS:-20}
GAUSSIANS=${GAUSSIANS:-32}
IVECTOR_DIM=${IVECTOR_DIM:-512}
XVECTOR_DIM=${XVECTOR_DIM:-512}
VOICE_A=es-m4       # the two voices of the conversation, one in each half
VOICE_B=es-f1
HALF_SECONDS=40     # 10 pieces each: the clustering seeds a speaker only while 10 pieces remain
ENROL_SECONDS=20    # further audio of each of the two voices for the speaker database
rm -rf "$WORK"; mkdir -p "$WORK"
step() { echo "== $(date +%T) $*" >&2; }

step "corpus: ${BUILTIN:-12} built-in + ${RANDOM_VOICES:-36} random espeak-ng voices, $RECORDINGS clean recordings of 3-5 s each"
$PY "$REPO/tools/corpus/make_corpus.py" --out "$WORK/corpus" --seed $SEED --recordings $RECORDINGS \
  --min-seconds 3 --max-seconds 5 --espeak-builtin ${BUILTIN:-12} --espeak-random ${RANDOM_VOICES:-36} --no-flite \
  --no-festival --hard-fraction 0 --heldout-families '' --test-fraction 0 --dev-fraction 0 \
  --jobs 2 --quiet
# held-out, conversation, enrolment and training lists (see two_voice_conversation.py)
$PY "$REPO/tools/deployment/two_voice_conversation.py" split "$WORK/corpus" "$VOICE_A" "$VOICE_B" \
  --half $HALF_SECONDS --enrol $ENROL_SECONDS --train-below $TRAIN_BELOW
printf '{"MfccOptions":{"num_ceps":%d,"MelBanksOptions":{"num_bins":40}}}' $NUM_CEPS \
  > "$WORK/mfcc-options.json"

mkdir -p "$WORK/exp"
step "features"
"$EXPORT" --quiet --mfcc-options "$WORK/mfcc-options.json" --manifest "$WORK/corpus/fit.tsv" \
  --out "$WORK/exp"
step "GMMs: $GAUSSIANS diagonal Gaussians"
$PY "$REPO/tools/train/train_gmm.py" "$WORK/exp" --num-gaussians $GAUSSIANS \
  --selection-out "$WORK/sel.htk" --posterior-out "$WORK/post.htk" --max-frames 200000 \
  --final-iters 6 --quiet
step "statistics"
"$EXPORT" --quiet --mfcc-options "$WORK/mfcc-options.json" --selection-gmm "$WORK/sel.htk" \
  --posterior-gmm "$WORK/post.htk" --no-features --manifest "$WORK/corpus/fit.tsv" \
  --out "$WORK/exp"
step "i-vector extractor: R = $IVECTOR_DIM"
$PY "$REPO/tools/train/train_ivector.py" "$WORK/exp" --gmm "$WORK/post.htk" \
  --out "$WORK/ivector.sec" --ivector-dim $IVECTOR_DIM --iters ${IVECTOR_ITERS:-2} --quiet
"$EXPORT" --quiet --mfcc-options "$WORK/mfcc-options.json" --selection-gmm "$WORK/sel.htk" \
  --posterior-gmm "$WORK/post.htk" --extractor "$WORK/ivector.sec" --ivectors --no-features \
  --manifest "$WORK/corpus/fit.tsv" --out "$WORK/exp"
$PY "$REPO/tools/train/collect_ivectors.py" --manifest "$WORK/corpus/fit.tsv" \
  --export "$WORK/exp" --out "$WORK/ivectors.npy" --labels "$WORK/ivector-speakers.txt"
step "x-vector network: random frame layer, LDA embedding layer mapped on the i-vector speaker means and spread"
$PY "$REPO/tools/deployment/lda_xvector.py" --feats "$WORK/exp" \
  --manifest "$WORK/corpus/fit.tsv" --out "$WORK/xe5.pb" --embedding-dim $XVECTOR_DIM --seed $SEED \
  --targets "$WORK/ivectors.npy:$WORK/ivector-speakers.txt" --within-spread 1 \
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
# the two-voice conversation of the Java check and the enrolment audio of its voices (WAV:
# an MP3 round trip is a channel these clean-trained models have not seen)
step "conversation: $VOICE_A then $VOICE_B, $HALF_SECONDS s each; enrolment audio"
rm -rf "$OUT/conversation"; mkdir -p "$OUT/conversation"
$PY "$REPO/tools/deployment/two_voice_conversation.py" build "$WORK/corpus" "$OUT/conversation" \
  "$OUT/conversation/two-voices.wav" --half $HALF_SECONDS --enrol $ENROL_SECONDS
awk -F'\t' 'NR > 1 {print $2}' "$OUT/conversation/enrolment.tsv" | while read -r path; do
  [[ -f "$OUT/$path" ]] || { echo "enrolment audio $path missing (voice not kept?)" >&2; exit 1; }
done
[[ "${KEEP_WORK:-0}" == 1 ]] || rm -rf "$WORK"
step "done: $(du -sh "$OUT" | cut -f1) in $OUT"
