#!/usr/bin/python3
"""Writes a trained x-vector network as "xe5.pb", its embedding mapped into i-vector space.

The scoring back-end is one normalisation, whitening and SPLDA model for both template
kinds, so x-vectors must land where i-vectors of the same speaker land. The raw embeddings
of the training recordings are projected on their leading --target-dims discriminant
directions and mapped by ridge regression onto each speaker's mean i-vector; the remaining
directions are mapped onto the i-vectors' own within-speaker covariance, so that x-vectors
of one speaker vary about their mean as i-vectors do. The map (A, c) composes with the
embedding layer (W, b) into one affine layer (A W, A b + c), written as the network's
first segment layer, with every batch normalisation and the input standardisation folded.

Usage:
  export_xvector.py --network DIR/network.pt --feats EXPORT_DIR --manifest train.tsv \
      --targets ivectors.npy:ivector-speakers.txt --out xe5.pb [--target-dims 200]
"""
import argparse
import os
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "deployment"))
import xe5_writer  # noqa: E402
from lda_xvector import discriminant_directions, map_to_targets, within_map  # noqa: E402
from train_xvector import embed_all, load_network, read_list  # noqa: E402
from xvector_net import export_layers  # noqa: E402


def embedding_map(emb, labels, targets, within, target_dims, ridge=1e-2, within_scale=1.0):
    """(A, c) with A emb + c near each speaker's target plus the targets' within spread."""
    m, proj, v, _ = discriminant_directions(emb, labels, emb.shape[1])
    k = min(target_dims, v.shape[1], len(set(labels.tolist())) - 1)
    lead = proj @ v[:, :k]
    y = np.array([targets[s] for s in labels], np.float64)
    coef, ybar = map_to_targets((emb - m) @ lead, y, ridge)
    a = (lead @ coef).T
    if within is not None and v.shape[1] > k:
        rest = proj @ v[:, k:]
        a = a + within_scale * (rest @ within_map((emb - m) @ rest, labels, within)).T
    return a, ybar - a @ m


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--network", required=True, help="network.pt of train_xvector.py")
    ap.add_argument("--feats", required=True, help="jor-export folder with REC.feats.npy")
    ap.add_argument("--manifest", required=True, help="recordings to fit the map on")
    ap.add_argument("--targets", required=True, help="VECTORS.npy:LABELS.txt (i-vectors)")
    ap.add_argument("--out", required=True, help="network file (xe5.pb)")
    ap.add_argument("--target-dims", type=int, default=200,
                    help="discriminant directions mapped on the speaker means")
    ap.add_argument("--within-spread", type=float, default=1.0,
                    help="scale of the within-speaker spread (0: none)")
    a = ap.parse_args(argv)
    net = load_network(a.network)
    vpath, lpath = a.targets.split(":")
    tv = np.load(vpath).astype(np.float64)
    with open(lpath) as f:
        tl = np.array(f.read().split())
    targets = {s: tv[tl == s].mean(0) for s in set(tl.tolist())}
    resid = tv - np.array([targets[s] for s in tl])
    within = resid.T @ resid / len(resid) if a.within_spread > 0 else None
    rows = [(r, s) for r, s in read_list(a.manifest) if s in targets and
            os.path.exists(os.path.join(a.feats, r + ".feats.npy"))]
    mats = [np.load(os.path.join(a.feats, r + ".feats.npy")) for r, _ in rows]
    keep = [i for i, m in enumerate(mats) if len(m) > 0]
    emb = embed_all(net.float(), [mats[i] for i in keep], max_frames=1 << 30).astype(np.float64)
    labels = np.array([rows[i][1] for i in keep])
    emb_map = embedding_map(emb, labels, targets, within, a.target_dims,
                            within_scale=a.within_spread)
    xe5_writer.write(a.out, net.input_dim, export_layers(net, emb_map))
    print(f"export_xvector: {len(keep)} recordings of {len(set(labels.tolist()))} speakers; "
          f"embedding {emb.shape[1]} -> {emb_map[0].shape[0]}; wrote {a.out}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
