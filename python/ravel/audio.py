"""Audio files to engine PCM.

Every path the package accepts goes through read_audio, so a different reader
can take over here without touching its callers.
"""
import os

import numpy as np

from . import _ravel

SAMPLE_RATE = 8000


def read_audio(path) -> np.ndarray:
    """8 kHz mono int16 samples of a WAV or MP3 file (by its ".mp3" extension,
    in any case), decoded by the kit's decoder. Raises OSError for a file that
    cannot be read and ValueError for one that cannot be decoded."""
    path = os.fspath(path)
    return _ravel.decode_audio(path, path.lower().endswith(".mp3"))


def as_pcm(audio) -> np.ndarray:
    """A path (read with read_audio) or a 1-D array of int16 samples at 8 kHz."""
    if isinstance(audio, (str, bytes, os.PathLike)):
        return read_audio(os.fsdecode(audio))
    pcm = np.asarray(audio)
    if pcm.dtype != np.int16:
        if pcm.dtype.kind not in "iu" or (pcm.size and (pcm.min() < -32768 or pcm.max() > 32767)):
            raise TypeError("PCM must be 16-bit integer samples, not %s" % pcm.dtype)
        pcm = pcm.astype(np.int16)
    if pcm.ndim != 1:
        raise ValueError("PCM must be a one-dimensional array of samples")
    return np.ascontiguousarray(pcm)
