#!/usr/bin/python3
"""Assembles a deployment folder: "ulxmodel.dat" (the six-section container),
"mfcc-options.json", "log-options.json" and "xe5.pb".

Each container section comes from its own file, or from an existing container
(--from-container) for the sections not given.
"""
import argparse
import json
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sections  # noqa: E402

ROLES = [  # (option, type, is HTK text)
    ("selection_gmm", sections.SELECTION_GMM, True),
    ("posterior_gmm", sections.POSTERIOR_GMM, True),
    ("ivector", sections.IVECTOR_EXTRACTOR, False),
    ("splda", sections.SPLDA, False),
    ("mean_variance", sections.MEAN_VARIANCE, False),
    ("whitening", sections.WHITENING, False),
]
UNUSED_TYPE = 9  # an entry the reader logs and skips: no whitening stage


def assemble(out_dir, parts, xe5, mfcc_options, log_options=None, base_container=None):
    """parts: {role: bytes or None}; roles missing fall back to base_container."""
    base = {}
    if base_container is not None:
        with open(base_container, "rb") as f:
            base = sections.read_container(f.read())
    entries = []
    for role, section_type, is_text in ROLES:
        data = parts.get(role)
        if data is None:
            data = base.get(section_type)
        if data is None:
            if section_type == sections.WHITENING:
                entries.append((UNUSED_TYPE, b""))
                continue
            raise ValueError("no %s section" % role)
        if is_text:
            data = sections.htk_text_section(data)
        entries.append((section_type, data))
    os.makedirs(out_dir, exist_ok=True)
    with open(os.path.join(out_dir, "ulxmodel.dat"), "wb") as f:
        f.write(sections.build_container(entries))
    with open(os.path.join(out_dir, "mfcc-options.json"), "w") as f:
        f.write(mfcc_options)
    if log_options is not None:
        with open(os.path.join(out_dir, "log-options.json"), "w") as f:
            f.write(log_options)
    if os.path.abspath(xe5) != os.path.abspath(os.path.join(out_dir, "xe5.pb")):
        shutil.copyfile(xe5, os.path.join(out_dir, "xe5.pb"))


def read_bytes(path):
    if path is None:
        return None
    with open(path, "rb") as f:
        return f.read()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("out", help="deployment folder to write")
    parser.add_argument("--selection-gmm", help="HTK text definition of the selection GMM")
    parser.add_argument("--posterior-gmm", help="HTK text definition of the posterior GMM")
    parser.add_argument("--ivector", help="i-vector extractor section file")
    parser.add_argument("--splda", help="SPLDA section file (train_backend.py)")
    parser.add_argument("--mean-variance", help="mean/variance section file")
    parser.add_argument("--whitening", help="whitening section file (optional)")
    parser.add_argument("--from-container", help="take missing sections from this ulxmodel.dat")
    parser.add_argument("--xe5", required=True, help="x-vector network file")
    parser.add_argument("--mfcc-options", help="mfcc-options.json to copy (default: --num-ceps)")
    parser.add_argument("--num-ceps", type=int, default=40)
    parser.add_argument("--log-file", default="ULXSdk.log")
    parser.add_argument("--log-level", type=int, default=None,
                        help="write log-options.json with this level (default: none written)")
    args = parser.parse_args(argv)
    if args.mfcc_options:
        with open(args.mfcc_options) as f:
            mfcc = f.read()
    else:
        mfcc = json.dumps({"MfccOptions": {"num_ceps": args.num_ceps,
                                           "MelBanksOptions": {"num_bins": max(23, args.num_ceps)}}},
                          separators=(",", ":"))
    log_options = None
    if args.log_level is not None:
        log_options = json.dumps({"LogOptions": {"filename": args.log_file, "level": args.log_level}},
                                 separators=(",", ":"))
    parts = {role: read_bytes(getattr(args, role)) for role, _, _ in ROLES}
    assemble(args.out, parts, args.xe5, mfcc, log_options, args.from_container)
    print("wrote %s" % args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
