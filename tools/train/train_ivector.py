#!/usr/bin/python3
"""Trains the i-vector extractor (total-variability model with a prior offset
on the first dimension) by EM on the Baum-Welch statistics written by
jor-export, and writes the extractor section of the model container."""

import argparse
import glob
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import htk_gmm  # noqa: E402
import ivector_tv  # noqa: E402


def load_stats(folders, quiet=False):
    """(ids, zeroth (U, C), first (U, C, F)) from *.zeroth.npy / *.first.npy."""
    ids, zs, fs = [], [], []
    for folder in folders:
        for zp in sorted(glob.glob(os.path.join(folder, "*.zeroth.npy"))):
            fp = zp[:-len(".zeroth.npy")] + ".first.npy"
            if not os.path.exists(fp):
                continue
            z = np.load(zp)
            if z.sum() <= 0:
                continue
            ids.append(os.path.basename(zp)[:-len(".zeroth.npy")])
            zs.append(z.astype(np.float64))
            fs.append(np.load(fp).astype(np.float64))
            if not quiet and len(ids) % 500 == 0:
                print("  loaded statistics of %d recordings" % len(ids), file=sys.stderr)
    if not ids:
        raise SystemExit("train_ivector: no statistics found")
    return ids, np.stack(zs), np.stack(fs)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("stats", nargs="+", help="folders of jor-export statistics")
    ap.add_argument("--gmm", required=True,
                    help="the posterior GMM (HTK text) the statistics were made with")
    ap.add_argument("--out", required=True, help="extractor section file")
    ap.add_argument("--ivector-dim", type=int, default=512)
    ap.add_argument("--prior-offset", type=float, default=100.0)
    ap.add_argument("--iters", type=int, default=10)
    ap.add_argument("--double", action="store_true", help="write 8-byte values")
    ap.add_argument("--max-utterances", type=int, default=0,
                    help="train on a seeded random subset of this many recordings (0: all)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--quiet", action="store_true")
    a = ap.parse_args(argv)

    ids, zeroth, first = load_stats(a.stats, a.quiet)
    if a.max_utterances and len(ids) > a.max_utterances:
        pick = np.sort(np.random.default_rng(a.seed).choice(len(ids), a.max_utterances,
                                                            replace=False))
        ids = [ids[i] for i in pick]
        zeroth, first = zeroth[pick], first[pick]
    gmm = htk_gmm.read_htk_text(a.gmm)
    if gmm.num_gaussians != zeroth.shape[1] or gmm.dim != first.shape[2]:
        raise SystemExit("train_ivector: GMM (C=%d, F=%d) and statistics (C=%d, F=%d) differ"
                         % (gmm.num_gaussians, gmm.dim, zeroth.shape[1], first.shape[2]))
    if not a.quiet:
        print("train_ivector: %d recordings, C=%d, F=%d, R=%d"
              % (len(ids), zeroth.shape[1], first.shape[2], a.ivector_dim), file=sys.stderr)
    model = ivector_tv.init_from_gmm(gmm, a.ivector_dim, a.prior_offset, a.seed)
    model = ivector_tv.train(model, zeroth, first, a.iters, quiet=a.quiet)
    ivector_tv.write_section(a.out, model, 8 if a.double else 4)
    return 0


if __name__ == "__main__":
    sys.exit(main())
