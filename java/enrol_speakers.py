#!/usr/bin/python3
"""Private copy of a deployment with a speaker database ("spdbdata") of enrolled voices.

usage: enrol_speakers.py DEPLOYMENT LIBPELLAM OUT_DIR

Every voice of DEPLOYMENT/conversation/enrolment.tsv (speaker, path relative to the
deployment; one row per recording) is enrolled with one x-vector template (ordinal 6)
of its recordings joined in list order, named by its speaker label. OUT_DIR gets links
to the deployment's model files and the database. Exit 77 when numpy is missing.
"""
import csv
import os
import sys

try:
    import numpy as np
except ImportError:
    print("numpy is missing: skipped")
    sys.exit(77)

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tools", "eval"))
import evaluate  # noqa: E402
import pellam_binding  # noqa: E402

MODEL_FILES = ("ulxmodel.dat", "mfcc-options.json", "log-options.json", "xe5.pb")


def enrolment_voices(deployment):
    """[(speaker, [wav paths])] in the list's order."""
    voices = {}
    with open(os.path.join(deployment, "conversation", "enrolment.tsv"), newline="") as f:
        for r in csv.DictReader(f, delimiter="\t"):
            voices.setdefault(r["speaker"], []).append(os.path.join(deployment, r["path"]))
    return list(voices.items())


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    deployment, library, out = os.path.abspath(argv[1]), argv[2], argv[3]
    os.makedirs(out, exist_ok=True)
    for name in MODEL_FILES:
        link = os.path.join(out, name)
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(os.path.join(deployment, name), link)
    entries = []
    with pellam_binding.Pellam(deployment, library) as engine:
        for speaker, paths in enrolment_voices(deployment):
            pcm = np.concatenate([pellam_binding.read_wav(p)[0] for p in paths])
            entries.append((speaker, engine.xvector_template(pcm)[0]))
    with open(os.path.join(out, "spdbdata"), "wb") as f:
        f.write(evaluate.speaker_database(entries))
    print("enrolled %d voices: %s" % (len(entries), " ".join(s for s, _ in entries)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
