#!/bin/bash
# The earlier x-vector network (one random frame layer, LDA embedding layer mapped on the
# i-vector speaker means; tools/deployment/lda_xvector.py) on the models of a full training
# run, with a scoring back-end retrained for it, evaluated on the run's test list: the
# baseline that models/default/README.md sets beside the trained network.
# Usage: tools/deployment/lda_baseline.sh RUN_DIR   (after the run's ivectors stage)
#   Writes RUN_DIR/lda/{xe5.pb,deployment,eval}. BUILD as for tools/train_deployment.sh.
set -euo pipefail
if [[ $# -ne 1 || "$1" == "-h" || "$1" == "--help" ]]; then
  sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'
  exit $([[ $# -eq 1 ]] && echo 0 || echo 2)
fi
REPO=$(cd "$(dirname "$0")/../.." && pwd)
PY=/usr/bin/python3
RUN=$(cd "$1" && pwd)
BUILD=$(cd "${BUILD:-$REPO/build}" && pwd)
W=$RUN/work
L=$RUN/lda
MFCC=$W/mfcc-options.json
export PELLAM_LIB=$BUILD/lib/libPellam.so
mkdir -p "$L/exp/train" "$L/exp/pieces"
$PY "$REPO/tools/deployment/lda_xvector.py" --feats "$W/exp/train" \
  --manifest "$W/corpus/train.tsv" --out "$L/xe5.pb" --embedding-dim 512 --seed 1 \
  --targets "$W/ivectors.npy:$W/ivector-speakers.txt"
$PY "$REPO/tools/corpus/make_chunks.py" --manifest "$W/corpus/train-perturbed.tsv" \
  --out "$L/pieces" --seconds 4 --max-pieces 1
"$BUILD/bin/jor-export" --quiet --mfcc-options "$MFCC" --xvectors --xvector-model "$L/xe5.pb" \
  --no-features --manifest "$W/corpus/train-perturbed.tsv" --out "$L/exp/train"
"$BUILD/bin/jor-export" --quiet --mfcc-options "$MFCC" --selection-gmm "$W/sel.htk" \
  --posterior-gmm "$W/post.htk" --extractor "$W/ivector.sec" --ivectors --xvectors \
  --xvector-model "$L/xe5.pb" --no-features --manifest "$L/pieces/chunks.tsv" --out "$L/exp/pieces"
for kind in ivector xvector; do
  exp=$L/exp/train
  [[ $kind == ivector ]] && exp=$W/exp/train
  $PY "$REPO/tools/train/collect_ivectors.py" --kind $kind \
    --manifest "$W/corpus/train-perturbed.tsv" --export "$exp" \
    --manifest "$L/pieces/chunks.tsv" --export "$L/exp/pieces" \
    --out "$L/backend-$kind.npy" --labels "$L/backend-$kind.txt"
done
$PY "$REPO/tools/backend/train_backend.py" --set "$L/backend-ivector.npy:$L/backend-ivector.txt" \
  --set "$L/backend-xvector.npy:$L/backend-xvector.txt" --out "$L/backend"
$PY "$REPO/tools/backend/assemble_deployment.py" "$L/deployment" --selection-gmm "$W/sel.htk" \
  --posterior-gmm "$W/post.htk" --ivector "$W/ivector.sec" \
  --splda "$L/backend/splda.sec" --mean-variance "$L/backend/mean-variance.sec" \
  --whitening "$L/backend/whitening.sec" --xe5 "$L/xe5.pb" \
  --mfcc-options "$MFCC" --log-level 6 --log-file ULXSdk.log
$PY "$REPO/tools/eval/evaluate.py" report --manifest "$W/corpus/test.tsv" \
  --deployment "$L/deployment" --kind xvector --kind ivector --out "$L/eval"
