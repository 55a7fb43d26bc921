#!/usr/bin/python3
"""Evaluation of the speaker-recognition kit.

Subcommands:
  trials    verification trial list from a corpus manifest (every pair of
            recordings, optionally filtered by manifest columns for the enrolment
            and the test side, non-targets subsampled)
  score     scores a trial list through libPellam's exports only (x-vector
            templates by ordinal 6, streamed i-vector templates by ordinals 7 and 8,
            comparisons by ordinal 11)
  report    all of it for a test list: per condition (clean, hard, clean
            enrolment against hard test) and per voice family, for both kinds
  metrics   EER and minimum detection cost (P_target 0.01) of score files, DET PNG
  der       diarization error rate of a hypothesis RTTM against a reference RTTM
            (0.25 s collar), timeline PNG
  xml2rttm  converts the diarization entry point's XML speaker list to RTTM
  diarize   runs the Java entry point on the conversations of conversations.tsv,
            with a speaker database of the conversation's speakers made from the
            corpus manifest, and scores every conversation (DER, timeline PNGs)
"""
import argparse
import csv
import os
import random
import struct
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import der as der_mod  # noqa: E402
import metrics  # noqa: E402
import pellam_binding  # noqa: E402

DATABASE_RECORD_BYTES = 4489
DATABASE_NAME_BYTES = 128


def progress(done, total, label):
    width = 30
    fill = int(width * done / max(1, total))
    sys.stderr.write("\r%s [%s%s] %d/%d" % (label, "#" * fill, " " * (width - fill), done, total))
    if done >= total:
        sys.stderr.write("\n")
    sys.stderr.flush()


def read_manifest(path):
    """Rows of a tab-separated manifest with a header; `path` made absolute
    (relative paths are relative to the manifest's folder)."""
    base = os.path.dirname(os.path.abspath(path))
    with open(path, newline="") as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    for r in rows:
        if "path" in r and not os.path.isabs(r["path"]):
            r["path"] = os.path.join(base, r["path"])
    return rows


def _matches(row, conditions):
    return all(row.get(k) == v for k, v in conditions)


def _conditions(items):
    out = []
    for item in items or []:
        key, _, value = item.partition("=")
        out.append((key, value))
    return out


def make_trials(rows, enrol_where=(), test_where=(), max_nontargets=None, seed=1):
    """(enrol recording, test recording, "target"/"nontarget") for every ordered
    pair of different recordings that passes the filters; with no filters each
    unordered pair appears once."""
    enrol = [r for r in rows if _matches(r, enrol_where)]
    test = [r for r in rows if _matches(r, test_where)]
    symmetric = not enrol_where and not test_where
    targets, nontargets = [], []
    for i, e in enumerate(enrol):
        for j, t in enumerate(test):
            if e["recording"] == t["recording"] or (symmetric and j <= i):
                continue
            trial = (e["recording"], t["recording"])
            (targets if e["speaker"] == t["speaker"] else nontargets).append(trial)
    if max_nontargets is not None and len(nontargets) > max_nontargets:
        nontargets = sorted(random.Random(seed).sample(nontargets, max_nontargets))
    return [t + ("target",) for t in targets] + [t + ("nontarget",) for t in nontargets]


def read_trials(path):
    with open(path) as f:
        return [tuple(line.split()[:3]) for line in f if line.strip()]


def read_scores(path):
    tar, non = [], []
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) < 4:
                continue
            (tar if parts[2] == "target" else non).append(float(parts[3]))
    return tar, non


def make_templates(engine, rows, kind, log=True):
    """{recording: template bytes}; recordings the engine refuses are reported and left out."""
    make = engine.xvector_template if kind == "xvector" else engine.ivector_template
    templates = {}
    for n, r in enumerate(rows):
        pcm, rate = pellam_binding.read_wav(r["path"])
        if rate != 8000:
            raise ValueError("%s: %d Hz, expected 8000" % (r["path"], rate))
        try:
            templates[r["recording"]] = make(pcm)[0]
        except RuntimeError as err:
            sys.stderr.write("\n%s: %s\n" % (r["recording"], err))
        if log:
            progress(n + 1, len(rows), "%s templates" % kind)
    return templates


def compare_trials(engine, templates, trials, log=True):
    out = []
    for n, (e, t, label) in enumerate(trials):
        if e in templates and t in templates:
            out.append((e, t, label, engine.compare(templates[e], templates[t])))
        if log and ((n + 1) % 1000 == 0 or n + 1 == len(trials)):
            progress(n + 1, len(trials), "trials")
    return out


def score_trials(trials, rows, deployment, kind, library=None, log=True):
    """Scores through libPellam: returns [(enrol, test, label, score)]."""
    needed = {t[0] for t in trials} | {t[1] for t in trials}
    with pellam_binding.Pellam(deployment, library) as engine:
        templates = make_templates(engine, [r for r in rows if r["recording"] in needed], kind, log)
        return compare_trials(engine, templates, trials, log)


def report_conditions(rows):
    """(name, trial filter arguments) of the standard report: clean, hard, clean
    enrolment against hard test, and every voice family."""
    conds = [("clean", dict(rows=[r for r in rows if r.get("condition") == "clean"])),
             ("hard", dict(rows=[r for r in rows if r.get("condition") == "hard"])),
             ("clean-vs-hard", dict(rows=rows, enrol_where=[("condition", "clean")],
                                    test_where=[("condition", "hard")]))]
    for family in sorted({r.get("family") for r in rows if r.get("family")}):
        conds.append(("family-" + family, dict(rows=[r for r in rows if r.get("family") == family])))
    return conds


def speaker_database(entries):
    """spdbdata bytes: per entry int32 number, 128-byte name, flag byte, template."""
    out = b""
    for number, (name, templ) in enumerate(entries):
        if len(templ) != DATABASE_RECORD_BYTES - 133:
            raise ValueError("database templates are 4,356 bytes (512-dimensional models)")
        raw = name.encode("utf-8")[:DATABASE_NAME_BYTES - 1]
        out += struct.pack("<i", number) + raw.ljust(DATABASE_NAME_BYTES, b"\0") + b"\0" + templ
    return out


def cmd_trials(args):
    rows = read_manifest(args.manifest)
    trials = make_trials(rows, _conditions(args.enrol_where), _conditions(args.test_where),
                         args.max_nontargets, args.seed)
    with open(args.out, "w") as f:
        for t in trials:
            f.write(" ".join(t) + "\n")
    n_tar = sum(1 for t in trials if t[2] == "target")
    print("%d trials: %d target, %d non-target" % (len(trials), n_tar, len(trials) - n_tar))


def cmd_score(args):
    rows = read_manifest(args.manifest)
    scored = score_trials(read_trials(args.trials), rows, args.deployment, args.kind, args.library)
    with open(args.out, "w") as f:
        for e, t, label, s in scored:
            f.write("%s %s %s %.4f\n" % (e, t, label, s))
    print("wrote %d scores to %s" % (len(scored), args.out))


def cmd_metrics(args):
    labels = args.label or [os.path.basename(p) for p in args.scores]
    curves = []
    for label, path in zip(labels, args.scores):
        tar, non = read_scores(path)
        e = metrics.eer(tar, non)
        dcf, thr = metrics.min_dcf(tar, non, args.p_target)
        print("%s\ttrials %d/%d\tEER %.2f%%\tminDCF(%.3g) %.4f at %.2f" %
              (label, len(tar), len(non), 100 * e, args.p_target, dcf, thr))
        curves.append((label, tar, non))
    if args.det:
        metrics.plot_det(curves, args.det, args.title)
        print("wrote %s" % args.det)


def cmd_report(args):
    rows = read_manifest(args.manifest)
    os.makedirs(args.out, exist_ok=True)
    conds = []
    for name, spec in report_conditions(rows):
        trials = make_trials(spec["rows"], spec.get("enrol_where", ()), spec.get("test_where", ()),
                             args.max_nontargets, args.seed)
        if any(t[2] == "target" for t in trials) and any(t[2] == "nontarget" for t in trials):
            conds.append((name, trials))
    summary = ["kind\tcondition\ttargets\tnontargets\tEER\tminDCF"]
    with pellam_binding.Pellam(args.deployment, args.library) as engine:
        for kind in args.kind or ["ivector", "xvector"]:
            templates = make_templates(engine, rows, kind)
            curves = []
            for name, trials in conds:
                scored = compare_trials(engine, templates, trials, log=False)
                with open(os.path.join(args.out, "%s-%s.scores" % (kind, name)), "w") as f:
                    for e, t, label, sc in scored:
                        f.write("%s %s %s %.4f\n" % (e, t, label, sc))
                tar = [sc for _, _, label, sc in scored if label == "target"]
                non = [sc for _, _, label, sc in scored if label != "target"]
                if not tar or not non:
                    continue
                e = metrics.eer(tar, non)
                dcf, _ = metrics.min_dcf(tar, non, args.p_target)
                summary.append("%s\t%s\t%d\t%d\t%.2f%%\t%.4f" % (kind, name, len(tar), len(non),
                                                                    100 * e, dcf))
                print(summary[-1])
                curves.append((name, tar, non))
            if curves:
                metrics.plot_det(curves, os.path.join(args.out, "det-%s.png" % kind), "DET, " + kind)
    with open(os.path.join(args.out, "summary.tsv"), "w") as f:
        f.write("\n".join(summary) + "\n")
    print("wrote %s" % os.path.join(args.out, "summary.tsv"))


def _segments(path):
    return [(s, e, k) for _, s, e, k in der_mod.read_rttm(path)]


def _report_der(name, ref, hyp, collar, timeline):
    r = der_mod.der(ref, hyp, collar)
    print("%s\tDER %.2f%%\tmissed %.2fs\tfalse alarm %.2fs\tconfusion %.2fs\tscored %.2fs" %
          (name, 100 * r["der"], r["missed"], r["false_alarm"], r["confusion"], r["scored"]))
    if timeline:
        der_mod.plot_timeline(ref, hyp, timeline, "%s  DER %.1f%%" % (name, 100 * r["der"]),
                              r["mapping"])
    return r


def cmd_der(args):
    _report_der(os.path.basename(args.hyp), _segments(args.ref), _segments(args.hyp), args.collar,
                args.timeline)


def cmd_xml2rttm(args):
    with open(args.xml) as f:
        segs = der_mod.xml_to_segments(f.read(), args.file_id)
    der_mod.write_rttm(args.out, segs)
    print("wrote %d turns to %s" % (len(segs), args.out))


def cmd_diarize(args):
    convs = read_manifest(args.conversations)
    rows = read_manifest(args.manifest) if args.manifest else []
    by_speaker = {}
    for r in rows:
        by_speaker.setdefault(r["speaker"], []).append(r)
    os.makedirs(args.out, exist_ok=True)
    total = {"missed": 0.0, "false_alarm": 0.0, "confusion": 0.0, "scored": 0.0}
    base = os.path.dirname(os.path.abspath(args.conversations))
    with tempfile.TemporaryDirectory() as tmp:
        engine = pellam_binding.Pellam(args.deployment, args.library) if rows else None
        try:
            for n, conv in enumerate(convs):
                models = os.path.join(tmp, conv["conversation"])
                os.makedirs(models)
                for name in ("ulxmodel.dat", "mfcc-options.json", "log-options.json", "xe5.pb"):
                    src = os.path.join(os.path.abspath(args.deployment), name)
                    if os.path.exists(src):
                        os.symlink(src, os.path.join(models, name))
                entries = []
                for spk in conv.get("speakers", "").split(","):
                    # enrol on the speaker's clean recordings, longest first
                    recs = sorted(by_speaker.get(spk, []),
                                  key=lambda r: (r.get("condition") != "clean", -float(r["seconds"])))
                    if engine is not None and recs:
                        pcm = np.concatenate([pellam_binding.read_wav(r["path"])[0]
                                              for r in recs[:args.enrol_recordings]])
                        entries.append((spk, engine.xvector_template(pcm)[0]))
                if entries:
                    with open(os.path.join(models, "spdbdata"), "wb") as f:
                        f.write(speaker_database(entries))
                audio = os.path.join(base, conv["path"])
                cmd = ["java", "-Djava.library.path=" + args.libdir, "-cp", args.classpath,
                       "com.jor.wrapper.SpeakerDiarizationWrapper", audio, models]
                run = subprocess.run(cmd, capture_output=True, text=True)
                name = conv["conversation"]
                with open(os.path.join(args.out, name + ".xml"), "w") as f:
                    f.write(run.stdout)
                hyp = der_mod.xml_to_segments(run.stdout, name) if run.stdout.startswith("<?xml") else []
                der_mod.write_rttm(os.path.join(args.out, name + ".rttm"), hyp)
                ref = _segments(os.path.join(base, conv["rttm"]))
                r = _report_der(name, ref, [(s, e, k) for _, s, e, k in hyp], args.collar,
                                os.path.join(args.out, name + ".png"))
                for k in total:
                    total[k] += r[k]
                progress(n + 1, len(convs), "conversations")
        finally:
            if engine is not None:
                engine.close()
    if total["scored"] > 0:
        err = total["missed"] + total["false_alarm"] + total["confusion"]
        print("overall\tDER %.2f%%" % (100 * err / total["scored"]))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("trials", help="trial list from a manifest")
    p.add_argument("--manifest", required=True, help="tab-separated manifest (speaker, recording, path, ...)")
    p.add_argument("--out", required=True)
    p.add_argument("--enrol-where", action="append", metavar="COLUMN=VALUE")
    p.add_argument("--test-where", action="append", metavar="COLUMN=VALUE")
    p.add_argument("--max-nontargets", type=int)
    p.add_argument("--seed", type=int, default=1)
    p.set_defaults(run=cmd_trials)
    p = sub.add_parser("score", help="score trials through libPellam")
    p.add_argument("--manifest", required=True)
    p.add_argument("--trials", required=True)
    p.add_argument("--deployment", required=True)
    p.add_argument("--kind", choices=["xvector", "ivector"], default="ivector")
    p.add_argument("--library", help="libPellam.so (default: $PELLAM_LIB or build/lib)")
    p.add_argument("--out", required=True)
    p.set_defaults(run=cmd_score)
    p = sub.add_parser("report", help="EER/minDCF per condition and voice family, DET PNGs")
    p.add_argument("--manifest", required=True, help="test list (manifest columns)")
    p.add_argument("--deployment", required=True)
    p.add_argument("--kind", action="append", choices=["xvector", "ivector"],
                   help="template kinds (default both)")
    p.add_argument("--library", help="libPellam.so (default: $PELLAM_LIB or build/lib)")
    p.add_argument("--max-nontargets", type=int, default=100000)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--p-target", type=float, default=0.01)
    p.add_argument("--out", required=True)
    p.set_defaults(run=cmd_report)
    p = sub.add_parser("metrics", help="EER, minDCF, DET curve")
    p.add_argument("scores", nargs="+", help="score files: enrol test target|nontarget score")
    p.add_argument("--label", action="append")
    p.add_argument("--p-target", type=float, default=0.01)
    p.add_argument("--det", help="DET curve PNG to write")
    p.add_argument("--title", default="DET")
    p.set_defaults(run=cmd_metrics)
    p = sub.add_parser("der", help="diarization error rate of two RTTM files")
    p.add_argument("--ref", required=True)
    p.add_argument("--hyp", required=True)
    p.add_argument("--collar", type=float, default=0.25)
    p.add_argument("--timeline", help="timeline PNG to write")
    p.set_defaults(run=cmd_der)
    p = sub.add_parser("xml2rttm", help="diarization XML to RTTM")
    p.add_argument("--xml", required=True)
    p.add_argument("--file-id", required=True)
    p.add_argument("--out", required=True)
    p.set_defaults(run=cmd_xml2rttm)
    p = sub.add_parser("diarize", help="run the Java entry point on conversations and score them")
    p.add_argument("--conversations", required=True, help="conversations.tsv")
    p.add_argument("--manifest", help="corpus manifest for the speaker database (omit: no names)")
    p.add_argument("--deployment", required=True)
    p.add_argument("--classpath", required=True, help="jor_diarization_wrapper.jar")
    p.add_argument("--libdir", required=True, help="folder of libDrumlin.so and libPellam.so")
    p.add_argument("--library", help="libPellam.so for the database templates")
    p.add_argument("--enrol-recordings", type=int, default=3)
    p.add_argument("--collar", type=float, default=0.25)
    p.add_argument("--out", required=True)
    p.set_defaults(run=cmd_diarize)
    args = parser.parse_args(argv)
    args.run(args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
