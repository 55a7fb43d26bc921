"""The recognition engine of one deployment folder."""
import os
import threading
from dataclasses import dataclass
from typing import List, Optional, Union

import numpy as np

from . import _ravel
from .audio import as_pcm
from .diarization import Turn, diarize_file, write_rttm

Audio = Union[str, os.PathLike, np.ndarray]
KINDS = ("xvector", "ivector")


@dataclass(frozen=True)
class Quality:
    """Quality of a recording: duration in seconds of voiced speech, volume,
    signal-to-noise ratio in dB, the usable band in Hz, and 16 band SNRs."""
    duration: float
    volume: float
    snr: float
    valid_freq_start: float
    valid_freq_end: float
    freq_snr: np.ndarray

    @classmethod
    def _from(cls, values):
        return cls(*values)


class Stream:
    """Streamed i-vector enrolment: put PCM in chunks, read quality as it
    grows, take the template. One thread at a time; a context manager."""

    def __init__(self, session):
        self._stream = _ravel.Stream(session)

    def put(self, pcm) -> None:
        """Appends int16 samples at 8 kHz to the stream."""
        self._stream.put(as_pcm(pcm))

    def quality(self) -> Quality:
        """Quality of everything put since the last reset."""
        return Quality._from(self._stream.quality())

    def template(self) -> bytes:
        """I-vector template of everything put since the last reset."""
        return self._stream.template()[0]

    def reset(self) -> None:
        """Starts a new stream."""
        self._stream.reset()

    def close(self) -> None:
        self._stream.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class Engine:
    """The engine on a deployment folder ("ulxmodel.dat", "mfcc-options.json",
    "log-options.json", "xe5.pb").

    The engine is process-wide: several Engine objects on the same folder share
    it, and a folder different from the open one is refused. Every method may
    be called from several threads at once and releases the interpreter lock
    while the engine works, so threads run in parallel. With ``share_model``
    the i-vector model lives in named shared memory that every process of the
    host reads (the first one writes it). Failures raise RavelError.

        with Engine("models/default") as engine:
            a = engine.template("alice.wav")
            print(engine.compare(a, engine.template("bob.wav")))
    """

    def __init__(self, models_dir: Union[str, os.PathLike], share_model: bool = False):
        self.models_dir = os.fspath(models_dir)
        self.share_model = bool(share_model)
        self._session = _ravel.EngineSession(self.models_dir, self.share_model)
        self._scorer = None
        self._scorer_lock = threading.Lock()

    # Life cycle.
    def close(self) -> None:
        """Releases this object's handles; the last open Engine of the process
        terminates the engine."""
        self._session.close()

    @property
    def closed(self) -> bool:
        return self._session.closed

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __getstate__(self):
        raise TypeError("an Engine belongs to its process; build one per worker")

    @property
    def template_size(self) -> int:
        """Bytes of every template of this deployment."""
        return self._session.template_size

    # Templates and scores.
    def template(self, audio: Audio, kind: str = "xvector") -> bytes:
        """Template of a whole recording (a path or int16 samples at 8 kHz):
        an x-vector (RecMakeXvectorTemplate) or an i-vector (the recording
        streamed through RecPutPcm and RecMakeIvectorTemplate)."""
        pcm = as_pcm(audio)
        if kind == "xvector":
            return self._session.xvector_template(pcm)[0]
        if kind == "ivector":
            return self._session.ivector_template(pcm)[0]
        raise ValueError("kind must be one of %s, not %r" % (", ".join(KINDS), kind))

    def compare(self, first: bytes, second: bytes) -> float:
        """Similarity of two templates on 0..100, as RecCompare(first, second):
        the second template's duration adjusts the score."""
        return self._session.compare(bytes(first), bytes(second))

    def check_template(self, template: bytes) -> str:
        """The template's version ("1.1"); RavelError when the engine refuses it."""
        return self._session.check_template(bytes(template))

    def quality(self, audio: Audio) -> Quality:
        """Quality of a whole recording."""
        return Quality._from(self._session.features(as_pcm(audio))[1])

    def features(self, audio: Audio) -> np.ndarray:
        """Voiced feature rows of a whole recording (frames x dimension, float32)."""
        return self._session.features(as_pcm(audio))[0]

    def stream(self) -> Stream:
        """A new i-vector stream on a handle of its own."""
        return Stream(self._session)

    # Search and diarization.
    def batch_scorer(self):
        """The scorer that compares one template with many at once (loaded on
        first use)."""
        with self._scorer_lock:
            if self._scorer is None:
                self._scorer = _ravel.BatchScorer(self.models_dir)
            return self._scorer

    def diarize(self, path: Union[str, os.PathLike], rttm: Optional[str] = None,
                method: str = "pieces") -> List[Turn]:
        """Who speaks when in a recording file. ``method="pieces"`` cuts it into
        4-second pieces, clusters their x-vectors and names the clusters from
        the deployment's speaker database "spdbdata" (a final piece shorter
        than 4 s is not analysed). Writes RTTM to ``rttm`` when given.
        Raises DiarizationError with the driver's reason on failure."""
        if self.closed:
            raise RuntimeError("the engine is closed")
        turns = diarize_file(os.fspath(path), self.models_dir, method)
        if rttm is not None:
            write_rttm(turns, rttm, file_id=os.path.splitext(os.path.basename(path))[0])
        return turns
