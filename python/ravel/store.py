"""A template store: enrolled templates in shards of speaker-database records.

A store is a folder of "shard-NNNNN.spdb" files, each in the "spdbdata"
record format (entry number, name, flag, template), and beside each a
"shard-NNNNN.failed.tsv" listing the manifest lines that gave no template.
Shard k holds manifest lines [k*S, (k+1)*S) for the store's shard size S and
entry numbers are manifest line numbers (from 0), so a shard's bytes depend
only on the manifest and the deployment: writing a shard twice writes the same
bytes. Each file is written to a temporary name and renamed, the failure list
first, so a shard file that exists is complete.
"""
import glob
import os
from dataclasses import dataclass
from typing import List, Sequence, Tuple

import numpy as np

from . import _ravel
from .templates import values_of

TEMPLATE_BYTES = _ravel.SPEAKER_TEMPLATE_BYTES


def read_manifest(path) -> List[Tuple[str, str]]:
    """(name, audio path) per line of a tab-separated manifest; blank lines and
    lines starting with '#' are skipped; relative audio paths are taken from
    the manifest's folder."""
    base = os.path.dirname(os.path.abspath(path))
    rows = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\r\n")
            if not line.strip() or line.startswith("#"):
                continue
            parts = line.split("\t")
            if len(parts) < 2 or not parts[0] or not parts[1]:
                raise ValueError("%s:%d: expected NAME<TAB>AUDIO PATH" % (path, number))
            rows.append((parts[0], os.path.join(base, parts[1])))
    return rows


def read_list(path) -> List[str]:
    """Audio paths, one a line (the last tab-separated field), relative to the list's folder."""
    base = os.path.dirname(os.path.abspath(path))
    with open(path, encoding="utf-8") as f:
        return [os.path.join(base, line.rstrip("\r\n").split("\t")[-1]) for line in f
                if line.strip() and not line.startswith("#")]


def shard_path(store, k: int) -> str:
    return os.path.join(store, "shard-%05d.spdb" % k)


def failed_path(store, k: int) -> str:
    return os.path.join(store, "shard-%05d.failed.tsv" % k)


def shard_paths(store) -> List[str]:
    return sorted(glob.glob(os.path.join(store, "shard-[0-9][0-9][0-9][0-9][0-9].spdb")))


def _replace(path, write):
    tmp = "%s.tmp%d" % (path, os.getpid())
    try:
        write(tmp)
        os.replace(tmp, path)
    finally:
        if os.path.exists(tmp):
            os.remove(tmp)


def write_shard(store, k: int, entries: Sequence[Tuple[int, str, bytes]],
                failures: Sequence[Tuple[int, str, str, str]]) -> None:
    """Writes shard k: entries (number, name, template) and failures
    (number, name, path, reason)."""
    def write_failures(tmp):
        with open(tmp, "w", encoding="utf-8") as f:
            for number, name, path, reason in failures:
                f.write("%d\t%s\t%s\t%s\n" % (number, name, path, " ".join(reason.split())))

    _replace(failed_path(store, k), write_failures)
    _replace(shard_path(store, k), lambda tmp: _ravel.write_speaker_database(
        tmp, [(number, name.encode("utf-8"), 0, templ) for number, name, templ in entries]))


@dataclass
class Shard:
    """Stored templates ready for batch scoring."""
    numbers: np.ndarray      # int32, n
    names: List[str]
    values: np.ndarray       # float32, n x V
    durations: np.ndarray    # float32, n

    def __len__(self):
        return len(self.names)

    @property
    def nbytes(self):
        return self.values.nbytes + self.durations.nbytes + self.numbers.nbytes


def load_shard(path, template_bytes: int = TEMPLATE_BYTES) -> Shard:
    """A shard file as a Shard; templates the engine would not score are left out."""
    records = _ravel.read_speaker_database(os.fspath(path))
    records = [r for r in records if len(r[3]) == template_bytes]
    values, durations, ok = values_of([r[3] for r in records], template_bytes, strict=False)
    kept = [r for r, k in zip(records, ok) if k]
    return Shard(np.array([r[0] for r in kept], dtype=np.int32),
                 [r[1].decode("utf-8", "replace") for r in kept], values[ok], durations[ok])


def read_store(store) -> List[Tuple[int, str, bytes]]:
    """Every (number, name, template) of a store, in shard order."""
    out = []
    for path in shard_paths(store):
        out += [(r[0], r[1].decode("utf-8", "replace"), r[3])
                for r in _ravel.read_speaker_database(path)]
    return out
