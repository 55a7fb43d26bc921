#!/usr/bin/python3
"""A small x-vector network whose embedding layer is trained as an LDA projection.

Network (written with tools/xvector/xe5_writer.py, computed by libBrindle):
  1. one frame layer over offsets -2..2: fixed random weights (seeded) on the
     features standardised with the training frames' mean and deviation (the
     standardisation is folded into the weights), ReLU;
  2. mean + standard-deviation pooling;
  3. the embedding layer W p + b: the pooled vectors of training chunks are
     projected on their leading principal components (whitened), then on the
     directions of the generalised eigenproblem S_b v = lambda (S_w + r I) v,
     best first; b centres the training mean. With --targets the embedding is
     instead the ridge-regression map from the leading (speakers - 1)
     discriminant coordinates to each speaker's target vector (the mean of its
     training i-vectors), so that x-vectors and i-vectors share one space and
     one scoring back-end serves both. With --within-spread the remaining
     discriminant coordinates are mapped onto the targets' own within-speaker
     covariance, so that whole-recording x-vectors vary about their speaker's
     mean as much as the i-vectors do.

Usage:
  lda_xvector.py --feats EXPORT_DIR --manifest train.tsv --out xe5.pb \
      --embedding-dim 512 [--targets ivectors.npy:ivector-speakers.txt [--within-spread 1]] \
      [--vectors xvectors.npy --labels xvector-speakers.txt]
"""

import argparse
import csv
import os
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "xvector"))
import xe5_writer  # noqa: E402

OFFSETS = (-2, -1, 0, 1, 2)
VARIANCE_FLOOR = 1e-10


def frame_outputs(feats, weight, bias):
    """Frame layer as libBrindle computes it, short inputs padded with edge frames."""
    x = np.asarray(feats, np.float64)
    span = OFFSETS[-1] - OFFSETS[0]
    if x.shape[0] <= span:
        lead = min(max(-OFFSETS[0], 0), span)
        x = np.concatenate([np.repeat(x[:1], lead, 0), x, np.repeat(x[-1:], span - lead, 0)])
    n = x.shape[0] - span
    spliced = np.concatenate([x[o - OFFSETS[0]:o - OFFSETS[0] + n] for o in OFFSETS], axis=1)
    return np.maximum(spliced @ weight.T + bias, 0.0)


def pool(h):
    mean = h.mean(axis=0)
    var = np.maximum((h * h).mean(axis=0) - mean * mean, VARIANCE_FLOOR)
    return np.concatenate([mean, np.sqrt(var)])


def forward(feats, net):
    """Raw embedding of one recording's voiced feature rows."""
    w1, b1, w2, b2 = net
    return w2 @ pool(frame_outputs(feats, w1, b1)) + b2


def read_list(manifest):
    with open(manifest, newline="") as f:
        return [(r["recording"], r["speaker"]) for r in csv.DictReader(f, delimiter="\t")]


def train(feat_list, speakers, embedding_dim, hidden=256, chunk=150, pca_dim=None, seed=1,
          targets=None, ridge=1e-2, within=None, within_scale=1.0, log=print):
    """feat_list: per recording (N, F) arrays; returns (w1, b1, w2, b2).

    targets: optional {speaker: vector of embedding_dim}; the embedding is then
    the least-squares map from the discriminant coordinates to the speaker's
    target (see map_to_targets). within: optional within-speaker covariance of
    the target kind; the remaining discriminant coordinates then add a spread of
    that covariance (times within_scale squared) to the x-vectors of whole
    recordings (see within_map)."""
    rng = np.random.default_rng(seed)
    dim = feat_list[0].shape[1]
    allf = np.concatenate(feat_list).astype(np.float64)
    mu, sd = allf.mean(0), allf.std(0) + 1e-6
    w = rng.normal(0.0, np.sqrt(2.0 / (len(OFFSETS) * dim)), (hidden, len(OFFSETS) * dim))
    scale = np.tile(1.0 / sd, len(OFFSETS))
    w1 = w * scale
    b1 = rng.normal(0.0, 0.1, hidden) - w1 @ np.tile(mu, len(OFFSETS))
    pooled, labels = [], []
    for feats, spk in zip(feat_list, speakers):
        h = frame_outputs(feats, w1, b1)
        for start in range(0, max(1, h.shape[0] - chunk // 2), chunk):
            part = h[start:start + chunk]
            if part.shape[0] >= chunk // 2:
                pooled.append(pool(part))
                labels.append(spk)
    p = np.array(pooled)
    labels = np.array(labels)
    log("lda_xvector: %d training chunks of %d speakers, pooled dimension %d"
        % (p.shape[0], len(set(labels)), p.shape[1]))
    m, proj, v, evals = discriminant_directions(p, labels, pca_dim or min(
        p.shape[1], max(embedding_dim, p.shape[0] // 2)))
    keep = v.shape[0]
    z = (p - m) @ proj
    out = min(embedding_dim, keep)
    lda = np.zeros((keep, embedding_dim))
    lda[:, :out] = v[:, :out]
    log("lda_xvector: leading between/within ratios " +
        " ".join("%.2f" % e for e in evals[:8]))
    if targets is None:
        w2 = (proj @ lda).T
        b2 = -w2 @ m
        return w1, b1, w2, b2
    k = min(out, len(set(labels)) - 1)
    zk = z @ lda[:, :k]
    y = np.array([targets[s] for s in labels], np.float64)
    coef, ybar = map_to_targets(zk, y, ridge)
    w2 = (proj @ lda[:, :k] @ coef).T
    log("lda_xvector: embedding mapped on the speaker targets from %d discriminant directions"
        % k)
    if within is not None and keep > k:
        rest = proj @ v[:, k:keep]
        recs = np.array([pool(frame_outputs(f, w1, b1)) for f in feat_list])
        spread = within_map((recs - m) @ rest, np.asarray(speakers), within)
        w2 = w2 + within_scale * (rest @ spread).T
        log("lda_xvector: within-speaker spread of the targets from %d further directions"
            % spread.shape[0])
    b2 = ybar - w2 @ m
    return w1, b1, w2, b2


def discriminant_directions(p, labels, pca_dim):
    """Linear discriminant analysis of vectors p (N, D) with speaker labels.

    Returns (m, proj, v, evals): the mean, a whitening PCA projection (D, K) of the
    centred vectors, the directions (K, K) of S_b v = lambda S_w v in the projected space
    (v^T S_w v = I, best first) and their ratios lambda."""
    m = p.mean(0)
    pc = p - m
    u, s, vt = np.linalg.svd(pc, full_matrices=False)
    keep = min(pca_dim, int(np.sum(s > s[0] * 1e-6)))
    proj = vt[:keep].T / (s[:keep] / np.sqrt(p.shape[0]))  # whitening PCA
    z = pc @ proj
    sw = np.zeros((keep, keep))
    sb = np.zeros((keep, keep))
    for spk in sorted(set(labels)):
        zs = z[labels == spk]
        c = zs.mean(0)
        sw += (zs - c).T @ (zs - c)
        sb += len(zs) * np.outer(c, c)
    sw /= len(z)
    sb /= len(z)
    sw += 1e-3 * np.trace(sw) / keep * np.eye(keep)
    # S_b v = lambda S_w v via the Cholesky factor of S_w
    li = np.linalg.inv(np.linalg.cholesky(sw))
    evals, evecs = np.linalg.eigh(li @ sb @ li.T)
    order = np.argsort(evals)[::-1]
    return m, proj, li.T @ evecs[:, order], evals[order]


def within_map(z, labels, within):
    """Map M (z dims x D) such that the within-speaker covariance of z @ M equals
    `within` on its leading eigendirections (as many as z has dimensions).

    Without it the x-vectors would carry speaker information only, while the
    targets (i-vectors) carry much within-speaker variation; after length
    normalisation the two kinds would then disagree on the shared scoring model."""
    resid = np.array(z, np.float64)
    for spk in set(labels.tolist()):
        sel = labels == spk
        resid[sel] -= resid[sel].mean(0)
    cz = resid.T @ resid / len(resid)
    ez, uz = np.linalg.eigh(cz + 1e-9 * np.trace(cz) / len(cz) * np.eye(len(cz)))
    uz, ez = uz[:, ::-1], ez[::-1]
    ew, uw = np.linalg.eigh(0.5 * (within + within.T))
    uw, ew = uw[:, ::-1], np.maximum(ew[::-1], 0.0)
    n = min(len(ez), len(ew))
    # whiten z's within-speaker spread, then colour it with the leading part of `within`
    return (uz[:, :n] / np.sqrt(ez[:n])) @ (uw[:, :n] * np.sqrt(ew[:n])).T


def map_to_targets(z, y, ridge):
    """Ridge regression y ~ ybar + z C (z centred); returns (C, ybar)."""
    zc = z - z.mean(0)
    ybar = y.mean(0)
    gram = zc.T @ zc
    gram += ridge * np.trace(gram) / gram.shape[0] * np.eye(gram.shape[0])
    return np.linalg.solve(gram, zc.T @ (y - ybar)), ybar


def write_network(path, net, dim):
    w1, b1, w2, b2 = net
    layers = [xe5_writer.FrameLayer(w1.astype(np.float32), b1.astype(np.float32), list(OFFSETS),
                                    "relu"),
              xe5_writer.PoolingLayer(w1.shape[0], VARIANCE_FLOOR),
              xe5_writer.SegmentLayer(w2.astype(np.float32), b2.astype(np.float32), "none")]
    xe5_writer.write(path, dim, layers)


def float32_net(net):
    """The parameters as the engine holds them (float32), for forward passes."""
    return tuple(np.asarray(a, np.float32).astype(np.float64) for a in net)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--feats", required=True, help="jor-export folder with ID.feats.npy")
    ap.add_argument("--manifest", required=True, help="training list (recording, speaker)")
    ap.add_argument("--out", required=True, help="network file (xe5.pb)")
    ap.add_argument("--embedding-dim", type=int, default=128)
    ap.add_argument("--hidden", type=int, default=256, help="frame layer width")
    ap.add_argument("--chunk", type=int, default=150, help="frames per training chunk")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--targets", help="speaker vectors to map the embedding on: "
                    "VECTORS.npy:LABELS.txt (per-speaker means are the targets)")
    ap.add_argument("--within-spread", type=float, default=0.0, metavar="SCALE",
                    help="with --targets: give the x-vectors of whole recordings the "
                    "within-speaker spread of the target vectors, times SCALE (default 0: none)")
    ap.add_argument("--vectors", help="also write the raw x-vectors of the list (.npy)")
    ap.add_argument("--labels", help="their speaker labels, one a line")
    a = ap.parse_args(argv)
    rows = read_list(a.manifest)
    feats = [np.load(os.path.join(a.feats, r + ".feats.npy")) for r, _ in rows]
    keep = [i for i, f in enumerate(feats) if f.shape[0] > 0]
    feats = [feats[i] for i in keep]
    spk = [rows[i][1] for i in keep]
    targets = within = None
    if a.targets:
        vpath, lpath = a.targets.split(":")
        tv = np.load(vpath).astype(np.float64)
        with open(lpath) as f:
            tl = np.array(f.read().split())
        targets = {s: tv[tl == s].mean(0) for s in set(tl)}
        if a.within_spread > 0:
            resid = tv - np.array([targets[s] for s in tl])
            within = resid.T @ resid / len(resid)
        spk_ok = [i for i, s in enumerate(spk) if s in targets]
        feats = [feats[i] for i in spk_ok]
        spk = [spk[i] for i in spk_ok]
    net = train(feats, spk, a.embedding_dim, a.hidden, a.chunk, seed=a.seed, targets=targets,
                within=within, within_scale=a.within_spread,
                log=lambda s: print(s, file=sys.stderr))
    write_network(a.out, net, feats[0].shape[1])
    if a.vectors:
        net32 = float32_net(net)
        vecs = np.array([forward(f, net32) for f in feats], np.float32)
        np.save(a.vectors, vecs)
        with open(a.labels, "w") as f:
            f.write("".join(s + "\n" for s in spk))
    return 0


if __name__ == "__main__":
    sys.exit(main())
