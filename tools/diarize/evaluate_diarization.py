#!/usr/bin/python3
"""Diarization evaluation of both methods on the same conversations.

    evaluate_diarization.py --deployment DIR --dev DEV_CONV --test TEST_CONV --out OUT \\
        [--manifest CORPUS/manifest.tsv] [--build build]

1. Calibration on the development conversations: jor-diarize (the window method) runs
   over a grid of stopping thresholds, then of resegmentation switch penalties and
   longest in-turn pauses at the best threshold; the setting with the lowest DER
   (0.25 s collar) wins (OUT/dev/calibration.tsv).
2. The held-out conversations with that setting (OUT/test/windows/), and with the
   4-second pass through the Java entry point (OUT/test/pieces/, through
   tools/eval/evaluate.py diarize; with --manifest its speaker database enrols the
   conversation's speakers, without it every unnamed cluster is one speaker).
3. OUT/summary.tsv and OUT/summary.md: for each method and condition (all, clean,
   hard), DER with a 0.25 s collar and without, missed speech, false alarm and
   confusion (percent of scored speech), the share of conversations whose speaker
   count is right, the mean absolute count error, and the share of speakers who
   talk for under 40 s in all that were found (mapped to a hypothesis speaker).
   Per conversation: OUT/test/per-conversation.tsv.

Conversation folders are made by tools/corpus/make_conversations.py
(conversations.tsv with conversation, path, rttm, condition).
"""
import argparse
import csv
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tools", "eval"))
import der as der_mod  # noqa: E402
import numpy as np  # noqa: E402

DEFAULT_THRESHOLDS = "-40,-30,-20,-15,-10,-5,0,5,10,15,20,30"
DEFAULT_PENALTIES = "10,30,60"
DEFAULT_GAPS = "0.5,1,2"
SHORT_SPEAKER_SECONDS = 40.0


def read_tsv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def segments(path):
    if not os.path.exists(path):
        return []
    return [(s, e, k) for _, s, e, k in der_mod.read_rttm(path)]


def run_windows(jor_diarize, deployment, conv_dir, out, thresholds, penalties, gaps, extra=()):
    os.makedirs(out, exist_ok=True)
    cmd = [jor_diarize, "--models", deployment, "--out", out,
           "--list", os.path.join(conv_dir, "conversations.tsv"),
           "--threshold", thresholds, "--switch-penalty", penalties, "--max-gap", gaps]
    cmd += list(extra)
    subprocess.run(cmd, check=True, stderr=subprocess.DEVNULL)


def setting_dirs(out):
    return sorted(d for d in os.listdir(out) if d.startswith("t") and
                  os.path.isdir(os.path.join(out, d)))


STEP = 0.01  # seconds per scoring frame


def frame_der(reference, hypothesis, collar):
    """der.der on a 10-ms grid (numpy), for sweeps: the same definition (no-score zone of
    +-collar around reference boundaries, overlap per speaker, one-to-one mapping of
    largest overlap), frame-rounded times."""
    end = max([e for _, e, _ in reference + hypothesis] + [0.0])
    n = int(np.ceil(end / STEP)) + 1
    ref_spk = sorted({k for _, _, k in reference})
    hyp_spk = sorted({k for _, _, k in hypothesis})
    R = np.zeros((len(ref_spk), n), bool)
    H = np.zeros((len(hyp_spk), n), bool)
    for s, e, k in reference:
        R[ref_spk.index(k), int(round(s / STEP)):int(round(e / STEP))] = True
    for s, e, k in hypothesis:
        H[hyp_spk.index(k), int(round(s / STEP)):int(round(e / STEP))] = True
    keep = np.ones(n, bool)
    if collar > 0:
        for s, e, _ in reference:
            for b in (s, e):
                keep[max(0, int(round((b - collar) / STEP))):int(round((b + collar) / STEP))] = False
    R, H = R[:, keep], H[:, keep]
    overlap = (R.astype(np.float64) @ H.T.astype(np.float64)) * STEP
    mapping = der_mod._hungarian_max(overlap) if overlap.size else {}
    pairs = [(i, j) for i, j in mapping.items() if overlap[i, j] > 0]
    nr, nh = R.sum(0), H.sum(0)
    correct = np.zeros(R.shape[1])
    for i, j in pairs:
        correct += R[i] & H[j]
    scored = nr.sum() * STEP
    missed = np.maximum(nr - nh, 0).sum() * STEP
    fa = np.maximum(nh - nr, 0).sum() * STEP
    conf = (np.minimum(nr, nh) - correct).sum() * STEP
    return {"der": (missed + fa + conf) / scored if scored else float("nan"), "missed": missed,
            "false_alarm": fa, "confusion": conf, "scored": scored,
            "mapping": {hyp_spk[j]: ref_spk[i] for i, j in pairs}}


def score(conv_dir, hyp_dir, collars=(0.25, 0.0), exact=True):
    """Per conversation: reference and hypothesis speakers and DER parts per collar
    (der.der when exact, else the 10-ms grid)."""
    rows = []
    for conv in read_tsv(os.path.join(conv_dir, "conversations.tsv")):
        ref = segments(os.path.join(conv_dir, conv["rttm"]))
        hyp = segments(os.path.join(hyp_dir, conv["conversation"] + ".rttm"))
        row = {"conversation": conv["conversation"], "condition": conv.get("condition", ""),
               "seconds": float(conv.get("seconds", 0) or 0),
               "ref_speakers": len({k for _, _, k in ref}),
               "hyp_speakers": len({k for _, _, k in hyp})}
        for collar in collars:
            r = der_mod.der(ref, hyp, collar) if exact else frame_der(ref, hyp, collar)
            for part in ("missed", "false_alarm", "confusion", "scored"):
                row["%s@%g" % (part, collar)] = r[part]
            if collar == 0.0:
                talk = {}
                for s, e, k in ref:
                    talk[k] = talk.get(k, 0.0) + e - s
                short = [k for k, t in talk.items() if t < SHORT_SPEAKER_SECONDS]
                found = set(r["mapping"].values())
                row["short_speakers"] = len(short)
                row["short_found"] = sum(1 for k in short if k in found)
        rows.append(row)
    return rows


def summarise(rows, collar=0.25):
    def pct(part, c):
        scored = sum(r["scored@%g" % c] for r in rows)
        return 100.0 * sum(r["%s@%g" % (part, c)] for r in rows) / scored if scored else float("nan")

    out = {"conversations": len(rows)}
    for c in (collar, 0.0):
        err = sum(pct(p, c) for p in ("missed", "false_alarm", "confusion"))
        out["DER@%g" % c] = err
    for p in ("missed", "false_alarm", "confusion"):
        out[p] = pct(p, collar)
    n = max(1, len(rows))
    out["count_right"] = 100.0 * sum(r["ref_speakers"] == r["hyp_speakers"] for r in rows) / n
    out["count_error"] = sum(abs(r["ref_speakers"] - r["hyp_speakers"]) for r in rows) / n
    short = sum(r["short_speakers"] for r in rows)
    out["short_found"] = 100.0 * sum(r["short_found"] for r in rows) / short if short else float("nan")
    out["short_speakers"] = short
    return out


def calibrate(args, jor_diarize, out):
    """Best setting on the development conversations: (DER, setting) rows, best first."""
    dev_out = os.path.join(out, "dev")
    run_windows(jor_diarize, args.deployment, args.dev, dev_out, args.thresholds,
                str(args.default_penalty), str(args.default_gap))
    results = {}

    def evaluate_all():
        for d in setting_dirs(dev_out):
            if d not in results:
                s = summarise(score(args.dev, os.path.join(dev_out, d), exact=False))
                results[d] = s
                print("dev %-30s DER %6.2f%%  count right %5.1f%%" %
                      (d, s["DER@0.25"], s["count_right"]), flush=True)

    evaluate_all()
    best = min(results, key=lambda d: (results[d]["DER@0.25"], -results[d]["count_right"]))
    threshold = best.split("_")[0][1:]
    run_windows(jor_diarize, args.deployment, args.dev, dev_out, threshold, args.penalties,
                args.gaps)
    evaluate_all()
    ranked = sorted(results, key=lambda d: (results[d]["DER@0.25"], -results[d]["count_right"]))
    with open(os.path.join(dev_out, "calibration.tsv"), "w") as f:
        f.write("setting\tDER_0.25\tDER_0\tcount_right\n")
        for d in ranked:
            r = results[d]
            f.write("%s\t%.2f\t%.2f\t%.1f\n" % (d, r["DER@0.25"], r["DER@0"], r["count_right"]))
    return ranked[0]


def parse_setting(name):
    """'t-10_p30_g1_m1' -> (threshold, penalty, gap) strings."""
    parts = dict((p[0], p[1:]) for p in name.split("_"))
    return parts["t"], parts["p"], parts["g"]


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--deployment", required=True, help="model folder (ulxmodel.dat, ...)")
    ap.add_argument("--dev", required=True, help="development conversations folder")
    ap.add_argument("--test", required=True, help="held-out conversations folder")
    ap.add_argument("--out", required=True)
    ap.add_argument("--manifest", help="corpus manifest.tsv: enrols the 4-second pass's database")
    ap.add_argument("--build", default=os.path.join(REPO, "build"), help="build folder")
    ap.add_argument("--thresholds", default=DEFAULT_THRESHOLDS)
    ap.add_argument("--penalties", default=DEFAULT_PENALTIES)
    ap.add_argument("--gaps", default=DEFAULT_GAPS)
    ap.add_argument("--default-penalty", type=float, default=30.0)
    ap.add_argument("--default-gap", type=float, default=1.0)
    ap.add_argument("--setting", help="skip calibration: use this jor-diarize setting name")
    ap.add_argument("--fast", action="store_true",
                    help="held-out DER on the 10-ms grid too (as the calibration)")
    ap.add_argument("--skip-pieces", action="store_true", help="do not run the 4-second pass")
    args = ap.parse_args(argv)

    deployment = os.path.abspath(args.deployment)
    args.deployment = deployment
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    jor_diarize = os.path.join(args.build, "bin", "jor-diarize")

    best = args.setting or calibrate(args, jor_diarize, out)
    print("chosen setting:", best, flush=True)
    t, p, g = parse_setting(best)
    test_windows = os.path.join(out, "test", "windows")
    run_windows(jor_diarize, deployment, args.test, test_windows, t, p, g)
    methods = [("windows", os.path.join(test_windows, best))]

    if not args.skip_pieces:
        pieces = os.path.join(out, "test", "pieces")
        cmd = [sys.executable, os.path.join(REPO, "tools", "eval", "evaluate.py"), "diarize",
               "--conversations", os.path.join(args.test, "conversations.tsv"),
               "--deployment", deployment,
               "--classpath", os.path.join(args.build, "java", "jor_diarization_wrapper.jar"),
               "--libdir", os.path.join(args.build, "lib"), "--out", pieces]
        if args.manifest:
            cmd += ["--manifest", args.manifest,
                    "--library", os.path.join(args.build, "lib", "libPellam.so")]
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
        methods.append(("pieces", pieces))

    per_conv = []
    table = []
    for name, hyp_dir in methods:
        rows = score(args.test, hyp_dir, exact=not args.fast)
        for r in rows:
            per_conv.append(dict(r, method=name))
        for cond in ("all", "clean", "hard"):
            sel = [r for r in rows if cond == "all" or r["condition"] == cond]
            if sel:
                table.append(dict(summarise(sel), method=name, condition=cond))

    cols = ["method", "condition", "conversations", "DER@0.25", "DER@0", "missed", "false_alarm",
            "confusion", "count_right", "count_error", "short_speakers", "short_found"]
    with open(os.path.join(out, "summary.tsv"), "w") as f:
        f.write("\t".join(cols) + "\n")
        for r in table:
            f.write("\t".join(str(round(r[c], 3)) if isinstance(r[c], float) else str(r[c])
                              for c in cols) + "\n")
    with open(os.path.join(out, "summary.md"), "w") as f:
        f.write("setting: %s, deployment: %s\n\n" % (best, deployment))
        f.write("| method | condition | conv. | DER 0.25 s | DER no collar | missed | false alarm "
                "| confusion | count right | mean count error | speakers < 40 s found |\n")
        f.write("|" + "---|" * 11 + "\n")
        for r in table:
            f.write("| %s | %s | %d | %.1f %% | %.1f %% | %.1f %% | %.1f %% | %.1f %% | %.0f %% "
                    "| %.2f | %s |\n" % (
                        r["method"], r["condition"], r["conversations"], r["DER@0.25"],
                        r["DER@0"], r["missed"], r["false_alarm"], r["confusion"],
                        r["count_right"], r["count_error"],
                        "%.0f %% of %d" % (r["short_found"], r["short_speakers"])
                        if r["short_speakers"] else "none"))
    pc_cols = ["method", "conversation", "condition", "seconds", "ref_speakers", "hyp_speakers",
               "missed@0.25", "false_alarm@0.25", "confusion@0.25", "scored@0.25"]
    with open(os.path.join(out, "test", "per-conversation.tsv"), "w") as f:
        f.write("\t".join(pc_cols) + "\n")
        for r in per_conv:
            f.write("\t".join(str(round(r[c], 3)) if isinstance(r[c], float) else str(r[c])
                              for c in pc_cols) + "\n")
    with open(os.path.join(out, "summary.md")) as f:
        print(f.read())
    return 0


if __name__ == "__main__":
    sys.exit(main())
