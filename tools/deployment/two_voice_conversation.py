#!/usr/bin/python3
"""Recording lists of the trained test deployment and its two-voice conversation.

  split CORPUS_DIR VOICE_A VOICE_B --half S --enrol S --train-below N
      writes CORPUS_DIR/fit.tsv (training), heldout.tsv and conversation.tsv
  build CORPUS_DIR OUT_DIR WAV_OUT --half S --enrol S
      writes WAV_OUT (the conversation: VOICE_A's half, then VOICE_B's, 8 kHz 16-bit
      mono) and, under OUT_DIR, two-voices.tsv (speaker, start, end),
      <voice>-enrol.wav and enrolment.tsv (speaker, path relative to the deployment)

Recordings -008 and -009 of every voice are held out. Of the two conversation
voices, recordings -010 on are kept from training: in order, the first ones
make the voice's half of the conversation (cut at --half seconds), the next
ones its enrolment audio (cut at --enrol seconds). The other voices train on
-000..-007 and -010 up to --train-below.
"""
import argparse
import csv
import os
import sys
import wave

import numpy as np

RATE = 8000


def read_rows(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def write_rows(path, rows, columns):
    with open(path, "w", newline="") as f:
        w = csv.DictWriter(f, columns, delimiter="\t", lineterminator="\n",
                           extrasaction="ignore")
        w.writeheader()
        w.writerows(rows)


def index_of(recording):
    return int(recording.rsplit("-", 1)[1])


def split(rows, voices, half, enrol, train_below):
    """(fit rows, held-out rows, conversation rows with a `role` column)."""
    fit, heldout, conversation = [], [], []
    taken = {(v, role): 0.0 for v in voices for role in ("conversation", "enrolment")}
    for r in rows:
        i = index_of(r["recording"])
        if i in (8, 9):
            heldout.append(r)
        elif r["speaker"] in voices and i >= 10:
            spk = r["speaker"]
            if taken[spk, "conversation"] < half:
                role = "conversation"
            elif taken[spk, "enrolment"] < enrol:
                role = "enrolment"
            else:
                continue
            taken[spk, role] += float(r["seconds"])
            conversation.append(dict(r, role=role))
        elif i < 8 or (r["speaker"] not in voices and i < train_below):
            fit.append(r)
    for (v, role), seconds in taken.items():
        if seconds < (half if role == "conversation" else enrol):
            raise ValueError("%s: %.1f s of %s recordings, %.0f s needed"
                             % (v, seconds, role, half if role == "conversation" else enrol))
    conversation.sort(key=lambda r: voices.index(r["speaker"]))  # stable: index order kept
    return fit, heldout, conversation


def read_pcm(path):
    with wave.open(path, "rb") as w:
        if w.getframerate() != RATE or w.getsampwidth() != 2 or w.getnchannels() != 1:
            raise ValueError("%s: not 8 kHz 16-bit mono" % path)
        return np.frombuffer(w.readframes(w.getnframes()), "<i2")


def write_pcm(path, pcm):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(np.asarray(pcm, "<i2").tobytes())


def joined(corpus, rows, seconds):
    pcm = np.concatenate([read_pcm(os.path.join(corpus, r["path"])) for r in rows])
    if len(pcm) < seconds * RATE:
        raise ValueError("%.1f s of audio, %.0f s needed" % (len(pcm) / RATE, seconds))
    return pcm[:int(seconds * RATE)]


def build(corpus, out_dir, wav_out, half, enrol):
    rows = read_rows(os.path.join(corpus, "conversation.tsv"))
    voices = list(dict.fromkeys(r["speaker"] for r in rows))
    heldout = read_rows(os.path.join(corpus, "heldout.tsv"))
    parts, turns, enrolment = [], [], []
    for n, voice in enumerate(voices):
        own = [r for r in rows if r["speaker"] == voice]
        parts.append(joined(corpus, [r for r in own if r["role"] == "conversation"], half))
        turns.append({"speaker": voice, "start": "%g" % (n * half), "end": "%g" % ((n + 1) * half)})
        name = voice + "-enrol.wav"
        write_pcm(os.path.join(out_dir, name),
                  joined(corpus, [r for r in own if r["role"] == "enrolment"], enrol))
        for r in heldout:
            if r["speaker"] == voice:
                enrolment.append({"speaker": voice, "path": "heldout/%s.wav" % r["recording"]})
        enrolment.append({"speaker": voice, "path": "conversation/" + name})
    write_pcm(wav_out, np.concatenate(parts))
    write_rows(os.path.join(out_dir, "two-voices.tsv"), turns, ["speaker", "start", "end"])
    write_rows(os.path.join(out_dir, "enrolment.tsv"), enrolment, ["speaker", "path"])


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = ap.add_subparsers(dest="cmd", required=True)
    s = sub.add_parser("split")
    s.add_argument("corpus")
    s.add_argument("voices", nargs=2)
    s.add_argument("--train-below", type=int, required=True)
    b = sub.add_parser("build")
    b.add_argument("corpus")
    b.add_argument("out_dir")
    b.add_argument("wav_out")
    for p in (s, b):
        p.add_argument("--half", type=float, required=True)
        p.add_argument("--enrol", type=float, required=True)
    a = ap.parse_args(argv)
    if a.cmd == "split":
        rows = read_rows(os.path.join(a.corpus, "manifest.tsv"))
        columns = list(rows[0].keys())
        missing = [v for v in a.voices if v not in {r["speaker"] for r in rows}]
        if missing:
            sys.exit("no voice %s in the corpus" % " ".join(missing))
        fit, heldout, conversation = split(rows, a.voices, a.half, a.enrol, a.train_below)
        write_rows(os.path.join(a.corpus, "fit.tsv"), fit, columns)
        write_rows(os.path.join(a.corpus, "heldout.tsv"), heldout, columns)
        write_rows(os.path.join(a.corpus, "conversation.tsv"), conversation, columns + ["role"])
    else:
        build(a.corpus, a.out_dir, a.wav_out, a.half, a.enrol)
    return 0


if __name__ == "__main__":
    sys.exit(main())
