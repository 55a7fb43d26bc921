#!/usr/bin/python3
"""Gathers the i-vectors that jor-export --ivectors wrote (or, with --kind
xvector, the x-vectors of --xvectors) into one N x R matrix (.npy) and a
speaker label file (one label a line, same order), the input of
tools/backend/train_backend.py --set. --manifest and --export may be repeated
in pairs; the vectors of every pair are stacked in order (one kind of template
from several lists, e.g. whole recordings and their pieces)."""

import argparse
import csv
import os
import sys

import numpy as np


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--manifest", required=True, action="append",
                    help="corpus list with 'speaker' and 'recording' columns (tab separated)")
    ap.add_argument("--export", required=True, action="append",
                    help="jor-export output folder (one per --manifest)")
    ap.add_argument("--out", required=True, help="N x R float32 .npy")
    ap.add_argument("--labels", required=True, help="speaker labels, one a line")
    ap.add_argument("--kind", choices=["ivector", "xvector"], default="ivector")
    a = ap.parse_args(argv)
    if len(a.manifest) != len(a.export):
        ap.error("give one --export per --manifest")

    vecs, labels, missing = [], [], 0
    for manifest, export in zip(a.manifest, a.export):
        with open(manifest, newline="") as fh:
            for row in csv.DictReader(fh, delimiter="\t"):
                p = os.path.join(export, row["recording"] + "." + a.kind + ".npy")
                if not os.path.exists(p):
                    missing += 1
                    continue
                vecs.append(np.load(p))
                labels.append(row["speaker"])
    if not vecs:
        raise SystemExit("collect_ivectors: no %ss found" % a.kind)
    np.save(a.out, np.stack(vecs).astype(np.float32))
    with open(a.labels, "w") as fh:
        fh.write("".join(s + "\n" for s in labels))
    print("collect_ivectors: %d %ss of %d speakers, %d recordings without one"
          % (len(vecs), a.kind, len(set(labels)), missing), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
