#!/usr/bin/python3
"""Builds a reproducible multi-speaker 8 kHz corpus from espeak-ng, flite and festival.

Writes under --out: wav/<speaker>/<recording>.wav, manifest.tsv, train.tsv, dev.tsv,
test.tsv (same columns as the manifest), speakers.tsv and voices.json.
"""
import argparse
import json
import os
import random
import shutil
import sys
import zlib

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import channel  # noqa: E402
import texts  # noqa: E402
import voices  # noqa: E402
from progress import run_jobs  # noqa: E402

MANIFEST_COLUMNS = ["speaker", "recording", "path", "seconds", "condition", "family", "channel"]


def recording_rngs(seed, key, index):
    """Generators of one recording, independent of the order the workers run in."""
    ss = np.random.SeedSequence([seed, zlib.crc32(key.encode()), index])
    g = np.random.default_rng(ss)
    return g, random.Random(int(g.integers(2**62)))


def render(speaker, text, p, tmp_base, espeak_path):
    """Synthesis, then jitter and channel; returns int16 samples at 8 kHz."""
    raw = tmp_base + ".raw.wav"
    tempo = voices.synthesize(speaker, text, raw, espeak_path, rate_factor=p.get("rate", 1.0))
    try:
        return channel.apply_channel(raw, p, tempo, tmp_base)
    finally:
        if os.path.exists(raw):
            os.remove(raw)


def _make_recording(job):
    spk, rec, index, args = job
    speaker = voices.Speaker(**spk)
    g, trng = recording_rngs(args["seed"], speaker.speaker, index)
    hard = g.random() < args["hard_fraction"]
    p = channel.draw_channel(g, hard, argparse.Namespace(**args))
    p["cents"] = p.get("cents", 0.0) + speaker.shift_cents
    seconds = trng.uniform(args["min_seconds"], args["max_seconds"])
    text = texts.text_for_seconds(trng, seconds)
    rel = os.path.join("wav", speaker.speaker, rec + ".wav")
    tmp_base = os.path.join(args["out"], "tmp", rec)
    pcm = render(speaker, text, p, tmp_base, args["espeak_path"])
    channel.write_wav(os.path.join(args["out"], rel), pcm)
    return {"speaker": speaker.speaker, "recording": rec, "path": rel,
            "seconds": f"{len(pcm) / channel.RATE:.3f}",
            "condition": "hard" if hard else "clean", "family": speaker.family,
            "channel": channel.describe(p)}


def split_speakers(speakers, seed, dev_fraction, test_fraction, heldout_families):
    """Speaker-disjoint split; every speaker of a held-out family goes to test."""
    split = {}
    rest = []
    for s in speakers:
        if s.family in heldout_families:
            split[s.speaker] = "test"
        else:
            rest.append(s.speaker)
    random.Random(seed ^ 0x5EED).shuffle(rest)
    n_test = int(round(test_fraction * len(rest)))
    n_dev = int(round(dev_fraction * len(rest)))
    if len(rest) > 0 and n_test + n_dev >= len(rest):
        n_dev = max(0, len(rest) - 1 - n_test)
    for i, name in enumerate(rest):
        split[name] = "test" if i < n_test else "dev" if i < n_test + n_dev else "train"
    return split


def write_tsv(path, columns, rows):
    with open(path, "w") as f:
        f.write("\t".join(columns) + "\n")
        for r in rows:
            f.write("\t".join(str(r[c]) for c in columns) + "\n")


def read_tsv(path):
    with open(path) as f:
        lines = f.read().splitlines()
    cols = lines[0].split("\t")
    return [dict(zip(cols, line.split("\t"))) for line in lines[1:] if line]


def add_channel_options(ap):
    g = ap.add_argument_group("session jitter and channel")
    g.add_argument("--hard-fraction", type=float, default=0.5,
                   help="share of recordings with jitter and a random channel (default 0.5)")
    g.add_argument("--rate-jitter", type=float, default=0.15, help="rate +- (default 0.15)")
    g.add_argument("--pitch-cents", type=float, default=60.0, help="pitch +- (default 60)")
    g.add_argument("--snr-min", type=float, default=5.0, help="noise SNR dB (default 5)")
    g.add_argument("--snr-max", type=float, default=20.0, help="noise SNR dB (default 20)")
    g.add_argument("--gain-db", type=float, default=6.0, help="level +- dB (default 6)")
    g.add_argument("--mp3-fraction", type=float, default=0.5,
                   help="share of hard recordings through an MP3 round trip (default 0.5)")
    g.add_argument("--reverb-fraction", type=float, default=0.3,
                   help="share of hard recordings with light reverberation (default 0.3)")


def add_voice_options(ap):
    g = ap.add_argument_group("voices")
    g.add_argument("--espeak-builtin", type=int, default=-1,
                   help="built-in espeak-ng variants to use (default -1: all distinct ones)")
    g.add_argument("--espeak-random", type=int, default=100,
                   help="randomised espeak-ng variants (default 100)")
    g.add_argument("--min-stray", type=float, default=0.5,
                   help="least RMS distance of a random variant's normalised parameters from "
                        "the default voice and from each other (0.5 distinct, 0.25 relatives)")
    g.add_argument("--no-flite", action="store_true", help="leave out flite voices")
    g.add_argument("--no-festival", action="store_true", help="leave out festival voices")
    g.add_argument("--shifted-copies", type=int, default=0,
                   help="extra speakers per flite/festival voice, pitch-shifted by +-250 and "
                        "+-500 cents (0 to 4; default 0)")
    g.add_argument("--path", default=None,
                   help="private espeak-ng data folder for the variants (default OUT/espeak)")


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--out", required=True, help="output folder")
    ap.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    ap.add_argument("--recordings", type=int, default=20, help="recordings per speaker")
    ap.add_argument("--min-seconds", type=float, default=6.0, help="shortest text (s)")
    ap.add_argument("--max-seconds", type=float, default=20.0, help="longest text (s)")
    ap.add_argument("--dev-fraction", type=float, default=0.1)
    ap.add_argument("--test-fraction", type=float, default=0.2)
    ap.add_argument("--heldout-families", default="flite,festival",
                    help="families only in the test list (default flite,festival)")
    ap.add_argument("--jobs", type=int, default=2, help="worker processes (default 2)")
    ap.add_argument("--quiet", action="store_true", help="no progress output")
    add_voice_options(ap)
    add_channel_options(ap)
    args = ap.parse_args(argv)

    out = os.path.abspath(args.out)
    espeak_path = os.path.abspath(args.path or os.path.join(out, "espeak"))
    rng = random.Random(args.seed)
    speakers = voices.build_speakers(rng, args.espeak_builtin, args.espeak_random,
                                     not args.no_flite, not args.no_festival, args.min_stray,
                                     args.shifted_copies)
    if not speakers:
        ap.error("no voices")
    os.makedirs(os.path.join(out, "tmp"), exist_ok=True)
    nfiles = voices.make_espeak_data(espeak_path, speakers)
    fams = {f: sum(s.family == f for s in speakers) for f in voices.FAMILIES}
    if not args.quiet:
        print(f"{len(speakers)} speakers ({', '.join(f'{k} {v}' for k, v in fams.items())}); "
              f"{nfiles} espeak-ng voice files in {espeak_path}", file=sys.stderr)
    for s in speakers:
        os.makedirs(os.path.join(out, "wav", s.speaker), exist_ok=True)

    opts = {k: getattr(args, k) for k in ("seed", "hard_fraction", "rate_jitter", "pitch_cents",
                                           "snr_min", "snr_max", "gain_db", "mp3_fraction",
                                           "reverb_fraction", "min_seconds", "max_seconds")}
    opts.update(out=out, espeak_path=espeak_path)
    jobs = [(s.to_json(), f"{s.speaker}-{i:03d}", i, opts)
            for s in speakers for i in range(args.recordings)]
    rows = run_jobs(_make_recording, jobs, args.jobs, "corpus", quiet=args.quiet)
    shutil.rmtree(os.path.join(out, "tmp"), ignore_errors=True)

    heldout = {f for f in args.heldout_families.split(",") if f}
    split = split_speakers(speakers, args.seed, args.dev_fraction, args.test_fraction, heldout)
    write_tsv(os.path.join(out, "manifest.tsv"), MANIFEST_COLUMNS, rows)
    for name in ("train", "dev", "test"):
        write_tsv(os.path.join(out, name + ".tsv"), MANIFEST_COLUMNS,
                  [r for r in rows if split[r["speaker"]] == name])
    write_tsv(os.path.join(out, "speakers.tsv"), ["speaker", "family", "voice", "split"],
              [{"speaker": s.speaker, "family": s.family, "voice": s.voice,
                "split": split[s.speaker]} for s in speakers])
    with open(os.path.join(out, "voices.json"), "w") as f:
        json.dump({"seed": args.seed, "espeak_path": espeak_path,
                   "speakers": [s.to_json() for s in speakers]}, f, indent=1, sort_keys=True)
    if not args.quiet:
        total = sum(float(r["seconds"]) for r in rows)
        print(f"{len(rows)} recordings, {total / 3600:.2f} h, in {out}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
