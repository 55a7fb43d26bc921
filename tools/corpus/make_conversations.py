#!/usr/bin/python3
"""Builds diarization conversations with ground-truth RTTM from the voices of a corpus.

Reads voices.json and speakers.tsv from a folder made by make_corpus.py and writes under
--out: <conversation>.wav (8 kHz 16-bit mono), <conversation>.rttm and conversations.tsv.
Each conversation has 2 to 4 speakers taking turns with pauses between them; every speaker
keeps one channel for the whole conversation.
"""
import argparse
import json
import os
import shutil
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import channel  # noqa: E402
import make_corpus  # noqa: E402
import texts  # noqa: E402
import voices  # noqa: E402
from progress import run_jobs  # noqa: E402

RATE = channel.RATE


def trim_silence(pcm, frame=80, floor_db=-35.0):
    """Drops the synthesiser's leading and trailing silence."""
    x = pcm.astype(np.float64)
    n = len(x) // frame
    if n == 0:
        return pcm
    e = np.mean(x[: n * frame].reshape(n, frame) ** 2, axis=1)
    if e.max() <= 0:
        return pcm[:0]
    on = np.nonzero(e > e.max() * 10 ** (floor_db / 10))[0]
    return pcm[on[0] * frame: min(len(pcm), (on[-1] + 1) * frame)]


def plan_turns(g, n_speakers, total_s, opts):
    """[(speaker index, pause before, turn length)] filling about total_s seconds."""
    turns, t, prev = [], 0.0, -1
    while True:
        pause = float(g.uniform(opts.min_pause, opts.max_pause))
        left = total_s - t - pause
        if left < opts.min_turn:
            break
        dur = min(float(g.uniform(opts.min_turn, opts.max_turn)), left)
        who = int(g.integers(n_speakers - 1)) if prev >= 0 else int(g.integers(n_speakers))
        if prev >= 0 and who >= prev:
            who += 1
        turns.append((who, pause, dur))
        t += pause + dur
        prev = who
    rare_cap = getattr(opts, "rare_speaker_seconds", 0.0) or 0.0
    if rare_cap > 0 and n_speakers > 2:
        turns = _cap_rare_speaker(g, turns, n_speakers, rare_cap, opts)
    # every speaker talks at least once: hand a turn of a speaker who has several to the
    # missing one, where its neighbours are someone else
    for k in range(n_speakers):
        if k in {w for w, _, _ in turns}:
            continue
        for i in g.permutation(len(turns)):
            counts = [w for w, _, _ in turns]
            near = {turns[j][0] for j in (i - 1, i + 1) if 0 <= j < len(turns)}
            if counts.count(turns[i][0]) > 1 and k not in near:
                turns[i] = (k, turns[i][1], turns[i][2])
                break
    return turns


def _cap_rare_speaker(g, turns, n_speakers, cap, opts):
    """The last speaker talks for at most a drawn min_turn..cap seconds in all: its later
    turns go to a speaker unlike both neighbours, or are dropped where there is none."""
    rare, budget, said, out = n_speakers - 1, float(g.uniform(opts.min_turn, cap)), 0.0, []
    for i, (who, pause, dur) in enumerate(turns):
        if who == rare and said + opts.min_turn <= budget:
            dur = min(dur, budget - said)
            said += dur
        elif who == rare:
            near = {w for w, _, _ in out[-1:]} | {w for w, _, _ in turns[i + 1:i + 2]}
            others = [k for k in range(n_speakers) if k != rare and k not in near]
            if not others:
                continue
            who = others[int(g.integers(len(others)))]
        out.append((who, pause, dur))
    return out


def speech_for(speaker, p, seconds, trng, tmp_base, espeak_path):
    """About `seconds` of the speaker through its channel, cut to length."""
    want = int(round(seconds * RATE))
    parts, have = [], 0
    while have < want:
        text = texts.text_for_seconds(trng, max(1.0, (want - have) / RATE * 1.2))
        seg = trim_silence(make_corpus.render(speaker, text, p, tmp_base, espeak_path))
        parts.append(seg)
        have += len(seg)
        if len(seg) == 0 and len(parts) > 5:
            break
    pcm = np.concatenate(parts)[:want] if parts else np.zeros(0, dtype="<i2")
    fade = min(len(pcm), 80)
    if fade:
        pcm = pcm.copy()
        pcm[-fade:] = np.round(pcm[-fade:] * np.linspace(1.0, 0.0, fade)).astype("<i2")
    return pcm


def _make_conversation(job):
    index, pool, args = job
    g, trng = make_corpus.recording_rngs(args["seed"], "conversation", index)
    opts = argparse.Namespace(**args)
    k = int(g.integers(opts.min_speakers, opts.max_speakers + 1))
    k = min(k, len(pool))
    chosen = [voices.Speaker(**pool[i]) for i in sorted(g.choice(len(pool), k, replace=False))]
    hard = bool(g.random() < opts.hard_fraction)
    chans = [channel.draw_channel(g, hard, opts) for _ in chosen]
    for s, p in zip(chosen, chans):
        p["cents"] = p.get("cents", 0.0) + s.shift_cents
    total = float(g.uniform(opts.min_seconds, opts.max_seconds))
    name = f"conv{index + 1:04d}"
    tmp_base = os.path.join(args["out"], "tmp", name)
    pieces, rttm, pos = [], [], 0
    for who, pause, dur in plan_turns(g, k, total, opts):
        gap = int(round(pause * RATE))
        pieces.append(np.zeros(gap, dtype="<i2"))
        pos += gap
        seg = speech_for(chosen[who], chans[who], dur, trng, tmp_base, args["espeak_path"])
        if len(seg) == 0:
            continue
        pieces.append(seg)
        rttm.append((pos, len(seg), chosen[who].speaker))
        pos += len(seg)
    pieces.append(np.zeros(int(round(opts.min_pause * RATE)), dtype="<i2"))
    pcm = np.concatenate(pieces)
    if opts.floor_dbfs is not None and len(pcm):
        floor = np.random.default_rng(int(g.integers(2**31))).standard_normal(len(pcm))
        pcm = channel.to_int16(pcm / 32767.0 + floor * 10 ** (opts.floor_dbfs / 20))
    channel.write_wav(os.path.join(args["out"], name + ".wav"), pcm)
    with open(os.path.join(args["out"], name + ".rttm"), "w") as f:
        for start, length, spk in rttm:
            f.write(f"SPEAKER {name} 1 {start / RATE:.3f} {length / RATE:.3f} "
                    f"<NA> <NA> {spk} <NA> <NA>\n")
    return {"conversation": name, "path": name + ".wav", "rttm": name + ".rttm",
            "seconds": f"{len(pcm) / RATE:.3f}",
            "speakers": ",".join(s.speaker for s in chosen if s.speaker in {r[2] for r in rttm}),
            "turns": len(rttm), "condition": "hard" if hard else "clean"}


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--corpus", required=True, help="folder made by make_corpus.py")
    ap.add_argument("--out", required=True, help="output folder")
    ap.add_argument("--split", default="test",
                    help="speakers of this list (train, dev, test or all; default test)")
    ap.add_argument("--count", type=int, default=20, help="conversations (default 20)")
    ap.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    ap.add_argument("--min-speakers", type=int, default=2)
    ap.add_argument("--max-speakers", type=int, default=4)
    ap.add_argument("--min-seconds", type=float, default=60.0, help="shortest (default 60)")
    ap.add_argument("--max-seconds", type=float, default=600.0, help="longest (default 600)")
    ap.add_argument("--min-turn", type=float, default=2.0, help="shortest turn (default 2 s)")
    ap.add_argument("--max-turn", type=float, default=20.0, help="longest turn (default 20 s)")
    ap.add_argument("--min-pause", type=float, default=0.2, help="shortest pause (default 0.2)")
    ap.add_argument("--max-pause", type=float, default=1.5, help="longest pause (default 1.5)")
    ap.add_argument("--floor-dbfs", type=float, default=-60.0,
                    help="background noise floor over the whole recording (default -60)")
    ap.add_argument("--rare-speaker-seconds", type=float, default=0.0,
                    help="in conversations of 3 or more speakers, one talks for at most a "
                         "drawn --min-turn..this many seconds in all (default 0: off)")
    ap.add_argument("--jobs", type=int, default=2, help="worker processes (default 2)")
    ap.add_argument("--quiet", action="store_true", help="no progress output")
    make_corpus.add_channel_options(ap)
    args = ap.parse_args(argv)
    if not 2 <= args.min_speakers <= args.max_speakers:
        ap.error("need 2 <= --min-speakers <= --max-speakers")
    if not 0 < args.min_turn <= args.max_turn or args.min_seconds > args.max_seconds:
        ap.error("bad turn or length bounds")
    if not 0 <= args.min_pause <= args.max_pause:
        ap.error("bad pause bounds")

    with open(os.path.join(args.corpus, "voices.json")) as f:
        vj = json.load(f)
    split = {r["speaker"]: r["split"]
             for r in make_corpus.read_tsv(os.path.join(args.corpus, "speakers.tsv"))}
    pool = [s for s in vj["speakers"]
            if args.split == "all" or split.get(s["speaker"]) == args.split]
    if len(pool) < args.min_speakers:
        ap.error(f"only {len(pool)} speakers in split {args.split}")

    out = os.path.abspath(args.out)
    os.makedirs(os.path.join(out, "tmp"), exist_ok=True)
    opts = {k: v for k, v in vars(args).items() if k not in ("corpus", "out")}
    opts.update(out=out, espeak_path=vj["espeak_path"])
    jobs = [(i, pool, opts) for i in range(args.count)]
    rows = run_jobs(_make_conversation, jobs, args.jobs, "conversations", quiet=args.quiet)
    shutil.rmtree(os.path.join(out, "tmp"), ignore_errors=True)
    make_corpus.write_tsv(os.path.join(out, "conversations.tsv"),
                          ["conversation", "path", "rttm", "seconds", "speakers", "turns",
                           "condition"], rows)
    return 0


if __name__ == "__main__":
    sys.exit(main())
