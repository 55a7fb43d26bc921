#!/usr/bin/python3
"""Trains the selection GMM (diagonal, EM with mixture splitting) and the
posterior GMM (the same Gaussians, diagonal or re-estimated with full
covariances) on feature matrices written by jor-export, and writes both as
HTK text definitions."""

import argparse
import glob
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import gmm_em  # noqa: E402
import htk_gmm  # noqa: E402


def load_frames(paths, max_frames, seed, quiet=False):
    mats = []
    for i, p in enumerate(paths):
        m = np.load(p)
        if m.ndim == 2 and m.shape[0] > 0:
            mats.append(m.astype(np.float64))
        if not quiet and (i + 1) % 200 == 0:
            print("  loaded %d/%d feature files" % (i + 1, len(paths)), file=sys.stderr)
    if not mats:
        raise SystemExit("train_gmm: no feature frames found")
    x = np.concatenate(mats)
    if max_frames and x.shape[0] > max_frames:
        rng = np.random.default_rng(seed)
        x = x[np.sort(rng.choice(x.shape[0], max_frames, replace=False))]
    return x


def feature_paths(items):
    paths = []
    for item in items:
        if os.path.isdir(item):
            paths.extend(sorted(glob.glob(os.path.join(item, "*.feats.npy"))))
        else:
            paths.append(item)
    return paths


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("features", nargs="+",
                    help="folders of *.feats.npy (jor-export output) or .npy files")
    ap.add_argument("--num-gaussians", type=int, default=512)
    ap.add_argument("--selection-out", required=True, help="HTK text of the selection GMM")
    ap.add_argument("--posterior-out", help="HTK text of the posterior GMM")
    ap.add_argument("--full", action="store_true",
                    help="posterior GMM with full covariances (else the diagonal model)")
    ap.add_argument("--iters-per-split", type=int, default=4)
    ap.add_argument("--final-iters", type=int, default=10)
    ap.add_argument("--full-iters", type=int, default=4)
    ap.add_argument("--var-floor", type=float, default=0.01,
                    help="variance floor as a fraction of the global variance")
    ap.add_argument("--max-frames", type=int, default=500000,
                    help="random subset of frames to train on (0: all)")
    ap.add_argument("--full-max-frames", type=int, default=100000)
    ap.add_argument("--parm-kind", default="MFCC_E_D")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--quiet", action="store_true")
    a = ap.parse_args(argv)

    x = load_frames(feature_paths(a.features), a.max_frames, a.seed, a.quiet)
    if not a.quiet:
        print("train_gmm: %d frames of dimension %d" % x.shape, file=sys.stderr)
    diag = gmm_em.train_diag(x, a.num_gaussians, a.iters_per_split, a.final_iters,
                             a.var_floor, quiet=a.quiet)
    htk_gmm.write_htk(a.selection_out, diag, parm_kind=a.parm_kind)
    if a.posterior_out:
        post = diag
        if a.full:
            xf = x
            if a.full_max_frames and x.shape[0] > a.full_max_frames:
                rng = np.random.default_rng(a.seed + 1)
                xf = x[rng.choice(x.shape[0], a.full_max_frames, replace=False)]
            post = gmm_em.train_full(xf, diag, a.full_iters, a.var_floor, quiet=a.quiet)
        htk_gmm.write_htk(a.posterior_out, post, parm_kind=a.parm_kind)
    return 0


if __name__ == "__main__":
    sys.exit(main())
