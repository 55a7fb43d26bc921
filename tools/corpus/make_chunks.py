#!/usr/bin/python3
"""Cuts the recordings of a corpus list into consecutive pieces of a fixed length
(the diarization driver compares 4-second pieces), as WAV files with a manifest
that keeps the source's columns: speaker, recording (<source>-cNN), path,
seconds and the rest. A tail shorter than the piece is dropped."""
import argparse
import csv
import os
import sys
import wave


def cut(src, out_dir, recording, piece_samples, max_pieces):
    """Writes the pieces of one WAV file; returns [(recording, file name)]."""
    with wave.open(src, "rb") as w:
        params = w.getparams()
        frames = w.readframes(w.getnframes())
    step = piece_samples * params.sampwidth * params.nchannels
    out = []
    for k in range(min(len(frames) // step, max_pieces)):
        name = "%s-c%02d" % (recording, k)
        with wave.open(os.path.join(out_dir, name + ".wav"), "wb") as w:
            w.setparams(params)
            w.writeframes(frames[k * step:(k + 1) * step])
        out.append((name, name + ".wav"))
    return out


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--manifest", required=True, help="corpus list (tab separated, with header)")
    ap.add_argument("--out", required=True, help="output folder (WAVs and chunks.tsv)")
    ap.add_argument("--seconds", type=float, default=4.0, help="piece length (default 4)")
    ap.add_argument("--max-pieces", type=int, default=3, help="pieces per recording (default 3)")
    a = ap.parse_args(argv)
    if a.seconds <= 0 or a.max_pieces < 1:
        ap.error("--seconds and --max-pieces must be positive")
    base = os.path.dirname(os.path.abspath(a.manifest))
    os.makedirs(a.out, exist_ok=True)
    with open(a.manifest, newline="") as f:
        reader = csv.DictReader(f, delimiter="\t")
        columns = reader.fieldnames
        rows = list(reader)
    pieces = 0
    with open(os.path.join(a.out, "chunks.tsv"), "w", newline="") as f:
        writer = csv.DictWriter(f, columns, delimiter="\t", lineterminator="\n")
        writer.writeheader()
        for row in rows:
            src = row["path"] if os.path.isabs(row["path"]) else os.path.join(base, row["path"])
            with wave.open(src, "rb") as w:
                rate = w.getframerate()
            for rec, name in cut(src, a.out, row["recording"], int(round(a.seconds * rate)),
                                 a.max_pieces):
                piece = dict(row, recording=rec, path=name)
                if "seconds" in piece:
                    piece["seconds"] = "%.3f" % a.seconds
                writer.writerow(piece)
                pieces += 1
    print("make_chunks: %d pieces of %g s from %d recordings" % (pieces, a.seconds, len(rows)),
          file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
