"""The speaker database "spdbdata": enrolled speakers by name and template."""
import os
from dataclasses import dataclass
from typing import List, Optional, Union

import numpy as np

from . import _ravel
from .templates import top_matches, values_of

FILE_NAME = "spdbdata"
TEMPLATE_BYTES = _ravel.SPEAKER_TEMPLATE_BYTES


@dataclass
class SpeakerEntry:
    number: int
    name: str
    template: bytes
    flag: int = 0


@dataclass(frozen=True)
class Match:
    name: str
    number: int
    score: float


class SpeakerDatabase:
    """Entries of a speaker database file, in file order.

    The file is a sequence of 4,489-byte records (entry number, 128-byte name,
    flag byte, 4,356-byte template), read and written by the diarization
    library's own code; only deployments whose templates are 4,356 bytes can
    use it. identify() scores a template against every entry in one pass.
    """

    def __init__(self, engine, path: Optional[Union[str, os.PathLike]] = None):
        """An empty database for `engine`'s deployment, or the file at `path`
        (a missing file gives an empty database, as in diarization)."""
        self.engine = engine
        self.path = None if path is None else os.fspath(path)
        self.entries: List[SpeakerEntry] = []
        self._rows = None
        if self.path is not None:
            for number, name, flag, templ in _ravel.read_speaker_database(self.path):
                self.entries.append(SpeakerEntry(number, name.decode("utf-8", "replace"),
                                                 templ, flag))

    @classmethod
    def of_deployment(cls, engine):
        """The database diarization names speakers from: "spdbdata" in the
        engine's deployment folder."""
        return cls(engine, os.path.join(engine.models_dir, FILE_NAME))

    def __len__(self):
        return len(self.entries)

    def __iter__(self):
        return iter(self.entries)

    def add(self, name: str, template: bytes, number: Optional[int] = None) -> SpeakerEntry:
        """Appends a speaker; the number defaults to one more than the largest."""
        template = bytes(template)
        if len(template) != TEMPLATE_BYTES:
            raise ValueError("speaker database templates must be %d bytes, not %d"
                             % (TEMPLATE_BYTES, len(template)))
        self.engine.check_template(template)
        if len(name.encode("utf-8")) >= _ravel.SPEAKER_NAME_BYTES or "\0" in name:
            raise ValueError("a speaker name must be under %d bytes of UTF-8 without NUL"
                             % _ravel.SPEAKER_NAME_BYTES)
        if number is None:
            number = max((e.number for e in self.entries), default=0) + 1
        entry = SpeakerEntry(int(number), name, template)
        self.entries.append(entry)
        self._rows = None
        return entry

    def remove(self, key: Union[str, int]) -> int:
        """Removes every entry with this name (str) or number (int); returns
        how many went."""
        before = len(self.entries)
        if isinstance(key, str):
            self.entries = [e for e in self.entries if e.name != key]
        else:
            self.entries = [e for e in self.entries if e.number != key]
        self._rows = None
        return before - len(self.entries)

    def save(self, path: Optional[Union[str, os.PathLike]] = None) -> None:
        """Writes the database (to the file it was read from by default),
        replacing the old file in one step."""
        path = self.path if path is None else os.fspath(path)
        if path is None:
            raise ValueError("no path to save the speaker database to")
        tmp = "%s.tmp%d" % (path, os.getpid())
        try:
            _ravel.write_speaker_database(tmp, [(e.number, e.name.encode("utf-8"), e.flag,
                                                 e.template) for e in self.entries])
            os.replace(tmp, path)
        finally:
            if os.path.exists(tmp):
                os.remove(tmp)
        self.path = path

    def identify(self, template: bytes, top: int = 5) -> List[Match]:
        """The `top` entries that score highest against `template`, best first,
        each score equal to engine.compare(template, entry.template). Entries
        whose templates the engine cannot score are left out."""
        template = bytes(template)
        self.engine.check_template(template)
        if self._rows is None:
            sized = [e for e in self.entries if len(e.template) == self.engine.template_size]
            values, durations, ok = values_of([e.template for e in sized],
                                              self.engine.template_size, strict=False)
            self._rows = ([e for e, k in zip(sized, ok) if k], values[ok], durations[ok])
        usable, values, durations = self._rows
        if not usable:
            return []
        probe = values_of(template, self.engine.template_size)[0][0]
        scores = self.engine.batch_scorer().score(probe, values, durations)
        return [Match(usable[i].name, usable[i].number, float(scores[i]))
                for i in top_matches(scores, top)]
