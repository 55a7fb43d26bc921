"""Speaker turns of a recording and their RTTM form."""
import os
from dataclasses import dataclass
from typing import List

from . import _ravel
from ._errors import DiarizationError

METHODS = ("pieces",)
PIECE_SECONDS = 4
UNKNOWN = "Unknown"


@dataclass(frozen=True)
class Turn:
    """One speaker turn: the speaker's database name (or "Unknown"), its
    cluster number, and start and end in seconds."""
    name: str
    cluster: int
    start: float
    end: float

    @property
    def speaker(self) -> str:
        """The name, or "cluster<N>" for an unnamed cluster, so that unnamed
        speakers stay apart."""
        return self.name if self.name != UNKNOWN else "cluster%d" % self.cluster


def diarize_file(path: str, models_dir: str, method: str = "pieces") -> List[Turn]:
    if method not in METHODS:
        raise ValueError("method must be one of %s, not %r" % (", ".join(METHODS), method))
    xml, _pieces, labels, turns = _ravel.diarize_pieces(path, models_dir)
    if not xml.startswith(b"<?xml"):
        raise DiarizationError(path, xml.decode("utf-8", "replace"))
    return [Turn(name.decode("utf-8", "replace"), labels[start // PIECE_SECONDS], float(start),
                 float(end)) for name, start, end in turns]


def rttm_lines(turns: List[Turn], file_id: str) -> List[str]:
    """SPEAKER lines; white space in names becomes "_"."""
    return ["SPEAKER %s 1 %.3f %.3f <NA> <NA> %s <NA> <NA>\n"
            % (file_id, t.start, t.end - t.start, "_".join(t.speaker.split()) or "_")
            for t in turns]


def write_rttm(turns: List[Turn], path, file_id: str) -> None:
    """Writes the turns as RTTM, replacing the file in one step."""
    path = os.fspath(path)
    tmp = "%s.tmp%d" % (path, os.getpid())
    with open(tmp, "w") as f:
        f.writelines(rttm_lines(turns, file_id))
    os.replace(tmp, path)
