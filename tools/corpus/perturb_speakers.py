#!/usr/bin/python3
"""Makes new training speakers from a corpus list by speed perturbation.

`sox speed F` plays a recording F times faster: pitch, formants and tempo all move by F,
as if a speaker with a vocal tract 1/F as long had read it. Every recording of speaker S
played at factor F becomes a recording of the new speaker "S-spF", so each factor adds as
many speakers as the list has (the way x-vector recipes multiply their speakers).

Voices of the held-out families (flite and festival by default) are refused: neither they
nor any copy of them may reach training.

Writes DIR/wav/S-spF/REC-spF.wav beside the corpus and OUT_LIST with the list's rows and
the new ones (same columns; paths relative to DIR). Run again, it keeps the files already
made, so an interrupted run resumes.

Usage:
  perturb_speakers.py --corpus DIR --list DIR/train.tsv --out-list DIR/train-perturbed.tsv \
      [--factors 0.9,1.1] [--jobs 2]
"""
import argparse
import os
import subprocess
import sys

from make_corpus import MANIFEST_COLUMNS, read_tsv, write_tsv
from progress import run_jobs

HELDOUT = ("flite", "festival")


def perturbed_name(name, factor):
    return f"{name}-sp{factor:g}"


def _perturb(job):
    corpus, row, factor = job
    spk = perturbed_name(row["speaker"], factor)
    rec = perturbed_name(row["recording"], factor)
    rel = os.path.join("wav", spk, rec + ".wav")
    out = os.path.join(corpus, rel)
    if not os.path.exists(out):
        os.makedirs(os.path.dirname(out), exist_ok=True)
        tmp = out + ".part.wav"
        subprocess.run(["sox", "-R", "-V1", os.path.join(corpus, row["path"]), "-r", "8000",
                        "-b", "16", "-c", "1", tmp, "speed", f"{factor:g}"], check=True)
        os.replace(tmp, out)
    new = dict(row)
    new.update(speaker=spk, recording=rec, path=rel,
               seconds=f"{float(row['seconds']) / factor:.3f}",
               channel=row["channel"] + f",speed={factor:g}")
    return new


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--corpus", required=True, help="corpus folder (paths are relative to it)")
    ap.add_argument("--list", required=True, help="list to perturb (manifest columns)")
    ap.add_argument("--out-list", required=True, help="list written: the rows and the new ones")
    ap.add_argument("--factors", default="0.9,1.1", help="speed factors")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--quiet", action="store_true")
    a = ap.parse_args(argv)
    factors = [float(f) for f in a.factors.split(",") if f]
    if any(not 0.5 <= f <= 2.0 or f == 1.0 for f in factors):
        ap.error("factors lie in 0.5..2 and differ from 1")
    rows = read_tsv(a.list)
    refused = sorted({r["speaker"] for r in rows if r["family"] in HELDOUT})
    if refused:
        print(f"perturb_speakers: held-out voices in the list: {', '.join(refused[:5])}",
              file=sys.stderr)
        return 1
    jobs = [(a.corpus, r, f) for f in factors for r in rows]
    new = run_jobs(_perturb, jobs, a.jobs, "perturb", quiet=a.quiet)
    write_tsv(a.out_list, MANIFEST_COLUMNS, rows + new)
    print(f"perturb_speakers: {len({r['speaker'] for r in rows + new})} speakers, "
          f"{len(rows) + len(new)} recordings", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
