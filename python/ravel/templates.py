"""Template bytes seen as values: what batch scoring reads of a template."""
import struct

import numpy as np

HEADER_BYTES = 256
DURATION_OFFSET = 15
VERSION_OFFSET = 13


def values_of(templates, template_bytes, strict=True):
    """(values n x V float32, durations n float32, usable n bool) of templates
    of `template_bytes` bytes each, given as a list of bytes or one bytes
    block. A template is usable when the engine would score it: version 1.1
    and finite values. With `strict` an unusable one raises ValueError."""
    block = templates if isinstance(templates, (bytes, bytearray, memoryview)) \
        else b"".join(templates)
    if template_bytes <= HEADER_BYTES or (template_bytes - HEADER_BYTES) % 4:
        raise ValueError("templates of %d bytes hold no values" % template_bytes)
    if len(block) % template_bytes:
        raise ValueError("templates must be %d bytes each" % template_bytes)
    raw = np.frombuffer(block, dtype=np.uint8).reshape(-1, template_bytes)
    values = np.ascontiguousarray(raw[:, HEADER_BYTES:]).view("<f4").astype(np.float32, copy=False)
    usable = (raw[:, VERSION_OFFSET] == 1) & (raw[:, VERSION_OFFSET + 1] == 1)
    usable &= np.all(np.isfinite(values), axis=1)
    if strict and not np.all(usable):
        raise ValueError("a template has another version than 1.1 or values that are not finite")
    durations = np.ascontiguousarray(raw[:, DURATION_OFFSET:DURATION_OFFSET + 4]).view("<f4")
    return np.ascontiguousarray(values), durations.reshape(-1).astype(np.float32), usable


def duration_of(template: bytes) -> float:
    return struct.unpack_from("<f", template, DURATION_OFFSET)[0]


def top_matches(scores, top):
    """Indices of the `top` highest scores, best first; the lower index wins
    ties; NaN scores never rank."""
    scores = np.where(np.isnan(scores), -np.inf, scores)
    top = min(top, len(scores))
    if top <= 0:
        return np.zeros(0, dtype=np.int64)
    candidates = np.arange(len(scores))
    if top < len(scores) // 4:
        # Everything that reaches the top-th best score, ties included.
        kth = np.partition(scores, len(scores) - top)[len(scores) - top]
        candidates = np.flatnonzero(scores >= kth)
    # A stable sort on -score keeps the lower index first among equal scores.
    order = np.argsort(-scores[candidates], kind="stable")
    return candidates[order[:top]]
