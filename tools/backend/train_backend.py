#!/usr/bin/python3
"""Trains the scoring back-end (mean/variance, whitening, PLDA -> SPLDA) on speaker
vectors and writes the three container sections.

One set of models serves i-vectors and x-vectors: give one --set per template kind.
Every kind carries the same weight in the mean/variance and whitening statistics,
and PLDA classes are (kind, speaker), so a kind's offset from the other never
counts as within-speaker variation.

With --calibration-set the SPLDA score is mapped affinely onto the log-likelihood
ratio measured on held-out vectors (for example of short pieces, as diarization
compares them); the map is folded into the SPLDA parameters.
"""
import argparse
import csv
import os
import sys
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import plda  # noqa: E402
import sections  # noqa: E402


def read_speakers(manifest):
    """{recording: speaker} from a tab-separated manifest with a header."""
    with open(manifest, newline="") as f:
        return {r["recording"]: r["speaker"] for r in csv.DictReader(f, delimiter="\t")}


def load_set(spec, speakers=None):
    """VECTORS.npy:LABELS.txt (one label a line); an .npz with `vectors` and `labels`;
    or DIR[:SUFFIX], per-recording files DIR/<recording>SUFFIX (default
    ".ivector.npy", as jor-export --ivectors writes them) of the manifest's recordings."""
    path, _, rest = spec.partition(":")
    if os.path.isdir(path):
        if speakers is None:
            raise ValueError("a folder set needs --manifest")
        suffix = rest or ".ivector.npy"
        vectors, labels = [], []
        for rec, spk in sorted(speakers.items()):
            f = os.path.join(path, rec + suffix)
            if os.path.exists(f):
                vectors.append(np.load(f).astype(np.float64).ravel())
                labels.append(spk)
        if not vectors:
            raise ValueError("%s: no *%s files of the manifest's recordings" % (path, suffix))
        return np.stack(vectors), labels
    if spec.endswith(".npz"):
        data = np.load(spec)
        return np.asarray(data["vectors"], dtype=np.float64), [str(v) for v in data["labels"]]
    vectors = np.load(path).astype(np.float64)
    with open(rest) as f:
        labels = [line.strip() for line in f if line.strip()]
    if len(labels) != len(vectors):
        raise ValueError("%s: %d vectors but %d labels" % (spec, len(vectors), len(labels)))
    return vectors, labels


def train(sets, iterations=10, whiten=True, lda_ridge=1e-6, log=print):
    """sets: list of (vectors N x D, labels). Returns the trained stages and their sections."""
    xs = [np.asarray(v, dtype=np.float64) for v, _ in sets]
    dims = {x.shape[1] for x in xs}
    if len(dims) != 1:
        raise ValueError("all sets need one dimension")
    x = np.concatenate(xs)
    weights = np.concatenate([np.full(len(v), 1.0 / len(v)) for v in xs])
    labels = np.array(["%d\t%s" % (i, lab) for i, (_, labs) in enumerate(sets) for lab in labs])
    mean, scale = plda.train_mean_variance(x, weights)
    log("mean/variance: %d vectors of dimension %d in %d set(s)" % (len(x), x.shape[1], len(xs)))
    f = plda.apply_mean_variance(x, mean, scale).astype(np.float64)
    basis = variances = None
    if whiten:
        basis, variances = plda.train_whitening(f, weights)
        log("whitening: variances %.3g .. %.3g" % (variances.min(), variances.max()))
    z = plda.engine_normalize(x, mean, scale, basis, variances).astype(np.float64)
    start = time.time()

    def log_em(it, ll):
        log("PLDA EM %d/%d (%.0f s): log-likelihood per vector %.6f"
            % (it, iterations, time.time() - start, ll / len(z)))

    model = plda.train_plda(z, labels, iterations=iterations, ridge=lda_ridge, log=log_em)
    params = plda.derive_splda(model)
    out = {
        "mean": mean, "scale": scale, "basis": basis, "variances": variances, "plda": model,
        "splda": params,
        "sections": {
            sections.MEAN_VARIANCE: sections.mean_variance_section(mean, scale),
            sections.SPLDA: sections.splda_section(params, 4),
        },
    }
    if whiten:
        out["sections"][sections.WHITENING] = sections.whitening_section(basis, variances)
    return out


def calibration_pairs(labels, max_nontargets, rng):
    """Every same-speaker pair and up to max_nontargets random different-speaker
    pairs (i < j) of a label list."""
    labels = np.asarray(labels)
    by_speaker = {}
    for i, lab in enumerate(labels):
        by_speaker.setdefault(lab, []).append(i)
    targets = [(a, b) for idx in by_speaker.values() for k, a in enumerate(idx) for b in idx[k + 1:]]
    n = len(labels)
    draw = rng.integers(0, n, size=(4 * max_nontargets + 16, 2))
    draw = draw[labels[draw[:, 0]] != labels[draw[:, 1]]][:max_nontargets]
    return (np.array(targets, dtype=np.int64).reshape(-1, 2),
            np.sort(draw, axis=1).astype(np.int64))


def calibrate(result, sets, max_nontargets=200000, seed=1, log=print):
    """Fits the score-to-LLR map on the pairs of every calibration set (each set's
    trials weighted alike) and returns the calibrated SPLDA parameters."""
    rng = np.random.default_rng(seed)
    params = result["splda"]
    tar, non = [], []
    for vectors, labels in sets:
        z = plda.engine_normalize(vectors, result["mean"], result["scale"], result["basis"],
                                  result["variances"]).astype(np.float64)
        tp, npairs = calibration_pairs(labels, max_nontargets, rng)
        tar.append(plda.splda_pair_scores(params, z, tp))
        non.append(plda.splda_pair_scores(params, z, npairs))
    # Repeat sets up to a common count so that each kind weighs the same.
    rt, rn = max(len(t) for t in tar), max(len(n) for n in non)
    t = np.concatenate([np.resize(x, rt) for x in tar])
    n = np.concatenate([np.resize(x, rn) for x in non])
    alpha, beta = plda.fit_calibration(t, n)
    for name, v in (("targets", t), ("non-targets", n)):
        raw = np.percentile(v, [5, 50, 95])
        log("calibration %s (%d): raw LLR 5/50/95%% %.1f %.1f %.1f -> %.1f %.1f %.1f"
            % (name, len(v), *raw, *(alpha * raw + beta)))
    log("calibration: LLR = %.4f x score %+.3f" % (alpha, beta))
    return plda.calibrate_splda(params, alpha, beta), alpha, beta


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--set", action="append", required=True,
                        metavar="VECTORS.npy:LABELS.txt | DATA.npz | DIR[:SUFFIX]",
                        help="speaker vectors of one template kind (repeat per kind): an N x D "
                             ".npy with one speaker label a line, an .npz holding `vectors` and "
                             "`labels`, or a folder of per-recording DIR/<recording>SUFFIX files "
                             "(default .ivector.npy) named by --manifest")
    parser.add_argument("--manifest", help="tab-separated manifest (recording, speaker) for "
                                           "folder sets")
    parser.add_argument("--out", required=True, help="output folder for the section files")
    parser.add_argument("--iterations", type=int, default=10, help="PLDA EM iterations")
    parser.add_argument("--no-whitening", action="store_true",
                        help="write no whitening section (the engine then skips the stage)")
    parser.add_argument("--calibration-set", action="append", default=[],
                        metavar="VECTORS.npy:LABELS.txt | DATA.npz | DIR[:SUFFIX]",
                        help="held-out speaker vectors (same forms as --set) on which the "
                             "score is calibrated to a log-likelihood ratio")
    parser.add_argument("--calibration-nontargets", type=int, default=200000,
                        help="different-speaker pairs drawn per calibration set")
    args = parser.parse_args(argv)
    speakers = read_speakers(args.manifest) if args.manifest else None
    sets = [load_set(s, speakers) for s in args.set]
    calibration_sets = [load_set(s, speakers) for s in args.calibration_set]
    os.makedirs(args.out, exist_ok=True)
    result = train(sets, args.iterations, whiten=not args.no_whitening)
    alpha, beta = 1.0, 0.0
    if calibration_sets:
        params, alpha, beta = calibrate(result, calibration_sets, args.calibration_nontargets)
        result["splda"] = params
        result["sections"][sections.SPLDA] = sections.splda_section(params, 4)
    names = {sections.MEAN_VARIANCE: "mean-variance.sec", sections.WHITENING: "whitening.sec",
             sections.SPLDA: "splda.sec"}
    for section_type, data in result["sections"].items():
        path = os.path.join(args.out, names[section_type])
        with open(path, "wb") as f:
            f.write(data)
        print("wrote %s (%d bytes)" % (path, len(data)))
    np.savez(os.path.join(args.out, "plda.npz"), mean=result["plda"].mean,
             between=result["plda"].between, within=result["plda"].within,
             calibration=np.array([alpha, beta]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
