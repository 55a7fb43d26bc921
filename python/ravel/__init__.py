"""ravel: the speaker-recognition kit from Python.

    from ravel import Engine, SpeakerDatabase
    with Engine("models/default") as engine:
        t = engine.template("speaker.wav")             # x-vector template bytes
        print(engine.compare(t, engine.template("other.wav")))

Batch jobs on Dask: python3 -m ravel.batch --help.
"""
from ._errors import DiarizationError, RavelError  # noqa: F401  (before _ravel)
from . import _ravel  # noqa: F401
from .audio import SAMPLE_RATE, read_audio
from .database import Match, SpeakerDatabase, SpeakerEntry
from .diarization import Turn, write_rttm
from .engine import Engine, Quality, Stream

__all__ = ["Engine", "Stream", "Quality", "SpeakerDatabase", "SpeakerEntry", "Match", "Turn",
           "RavelError", "DiarizationError", "read_audio", "write_rttm", "SAMPLE_RATE",
           "delete_shared_model"]


def delete_shared_model() -> None:
    """Removes the host's shared i-vector model (RecDeleteSharedModels); the
    next engine opened with share_model writes it again."""
    status = _ravel.delete_shared_model()
    if status:
        raise RavelError(status, 0, "RecDeleteSharedModels")
