#!/bin/bash
# Assembles models/default from a full training run (tools/train_deployment.sh RUN_DIR).
# Usage: tools/deployment/make_default_deployment.sh RUN_DIR [DEST (models/default)]
#   Copies the run's "ulxmodel.dat", "xe5.pb" and "mfcc-options.json", writes
#   "log-options.json" with logging off, and enrols the sample speaker database "spdbdata"
#   with `ravel enrol` (the kit's own database writer): SAMPLE_VOICES (4) voices of the
#   test list (espeak-ng families only), each from its SAMPLE_RECORDINGS (3) longest clean
#   recordings, named by their corpus speaker names. Then copies the run's evaluation
#   pictures into DEST/figures. RAVEL: the ravel program (default build/bin/ravel).
set -euo pipefail
if [[ $# -lt 1 || "$1" == "-h" || "$1" == "--help" ]]; then
  sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
  exit $([[ $# -ge 1 ]] && echo 0 || echo 2)
fi
REPO=$(cd "$(dirname "$0")/../.." && pwd)
RUN=$(cd "$1" && pwd)
DEST=${2:-$REPO/models/default}
RAVEL=${RAVEL:-$REPO/build/bin/ravel}
CORPUS=$RUN/work/corpus
[[ -x "$RAVEL" ]] || { echo "ravel not found at $RAVEL (build the project or set RAVEL)" >&2; exit 2; }
for f in ulxmodel.dat xe5.pb mfcc-options.json; do
  [[ -s "$RUN/deployment/$f" ]] || { echo "$RUN/deployment/$f missing: finish the run" >&2; exit 2; }
done
mkdir -p "$DEST"
rm -f "$DEST/spdbdata"
cp "$RUN/deployment/ulxmodel.dat" "$RUN/deployment/xe5.pb" "$RUN/deployment/mfcc-options.json" \
  "$DEST/"
printf '{"LogOptions":{"filename":"ULXSdk.log","level":6}}\n' >"$DEST/log-options.json"

# The longest clean recordings of the first voices of the test list (sorted by name).
/usr/bin/python3 - "$CORPUS/test.tsv" "${SAMPLE_VOICES:-4}" "${SAMPLE_RECORDINGS:-3}" \
  >"$RUN/sample-voices.tsv" <<'EOF'
import csv, sys
rows = [r for r in csv.DictReader(open(sys.argv[1]), delimiter="\t")
        if r["family"].startswith("espeak") and r["condition"] == "clean"]
voices = sorted({r["speaker"] for r in rows})[: int(sys.argv[2])]
for v in voices:
    recs = sorted((r for r in rows if r["speaker"] == v), key=lambda r: -float(r["seconds"]))
    print("\t".join([v] + [r["path"] for r in recs[: int(sys.argv[3])]]))
EOF
while IFS=$'\t' read -r name paths; do
  files=()
  for p in $paths; do files+=("$CORPUS/$p"); done
  "$RAVEL" enrol "$name" "${files[@]}" --db "$DEST/spdbdata" --models "$DEST" >/dev/null
  echo "enrolled $name (${#files[@]} recordings)" >&2
done <"$RUN/sample-voices.tsv"

mkdir -p "$DEST/figures"
cp "$RUN/eval/det-ivector.png" "$RUN/eval/det-xvector.png" "$DEST/figures/" 2>/dev/null || true
cp "$RUN/eval/summary.tsv" "$DEST/figures/summary.tsv" 2>/dev/null || true
du -sh "$DEST" >&2
