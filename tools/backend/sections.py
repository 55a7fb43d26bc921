"""Byte writers and readers of the model container and its scoring sections.

Layouts (little-endian):
  container: byte 0 version 1, bytes 1..2 free uint16, byte 3 count 6, then six
    12-byte entries (int32 offset, uint32 length, uint32 type); sections follow.
  every binary section: a 32-byte header (uint32 type, uint64 payload length,
    zeros), then its payload.
  type 4 mean/variance: int32 D, D float32 mean, D float32 scale.
  type 5 whitening: int32 D, D x D float64 basis E (row-major), D float64 variances.
  type 3 SPLDA: int32 element size (4 or 8), int32 D, A (D x D), a, B (D x D), b, c, k.
HTK text sections (types 0 and 1) end with HTK_SEPARATOR so the token reader
stops before the next section.
"""
import struct

import numpy as np

SELECTION_GMM = 0
POSTERIOR_GMM = 1
IVECTOR_EXTRACTOR = 2
SPLDA = 3
MEAN_VARIANCE = 4
WHITENING = 5

HTK_SEPARATOR = b"__KAVOR__SEPARATOR__"
DIRECTORY_BYTES = 76
SECTION_HEADER_BYTES = 32


def with_header(section_type, payload):
    header = struct.pack("<IQ", section_type, len(payload))
    return header.ljust(SECTION_HEADER_BYTES, b"\0") + payload


def mean_variance_section(mean, scale):
    mean = np.asarray(mean, dtype="<f4").ravel()
    scale = np.asarray(scale, dtype="<f4").ravel()
    if mean.size == 0 or mean.size != scale.size:
        raise ValueError("mean and scale must be non-empty and of one length")
    payload = struct.pack("<i", mean.size) + mean.tobytes() + scale.tobytes()
    return with_header(MEAN_VARIANCE, payload)


def whitening_section(basis, variances):
    basis = np.asarray(basis, dtype="<f8")
    variances = np.asarray(variances, dtype="<f8").ravel()
    d = variances.size
    if d == 0 or basis.shape != (d, d):
        raise ValueError("whitening basis must be D x D with D variances")
    if not np.all(variances > 0):
        raise ValueError("whitening variances must be positive")
    payload = struct.pack("<i", d) + np.ascontiguousarray(basis).tobytes() + variances.tobytes()
    return with_header(WHITENING, payload)


def splda_section(model, element_size=4):
    """model: dict with cross (A), cross_eigen (a), self (B), self_eigen (b), linear (c), constant (k)."""
    if element_size not in (4, 8):
        raise ValueError("element size 4 or 8")
    dtype = "<f4" if element_size == 4 else "<f8"
    a_mat = np.asarray(model["cross"], dtype=np.float64)
    d = a_mat.shape[0]
    blocks = [a_mat, model["cross_eigen"], model["self"], model["self_eigen"], model["linear"],
              [model["constant"]]]
    shapes = [(d, d), (d,), (d, d), (d,), (d,), (1,)]
    payload = struct.pack("<ii", element_size, d)
    for block, shape in zip(blocks, shapes):
        arr = np.asarray(block, dtype=np.float64).reshape(-1)
        if arr.size != int(np.prod(shape)):
            raise ValueError("SPLDA block of wrong size")
        payload += np.ascontiguousarray(arr.astype(dtype)).tobytes()
    return with_header(SPLDA, payload)


def htk_text_section(text):
    """An HTK text definition followed by the separator (added once)."""
    data = text.encode("ascii") if isinstance(text, str) else bytes(text)
    if not data.endswith(HTK_SEPARATOR):
        data += HTK_SEPARATOR
    return data


def build_container(sections, uint16_word=0):
    """sections: six (type, bytes) pairs, written in the order given."""
    if len(sections) != 6:
        raise ValueError("a container holds six sections")
    directory = struct.pack("<BHB", 1, uint16_word, 6)
    body = b""
    for section_type, data in sections:
        offset = DIRECTORY_BYTES + len(body)
        directory += struct.pack("<iII", offset, len(data), section_type)
        body += data
    assert len(directory) == DIRECTORY_BYTES
    return directory + body


def read_container(data):
    """Returns {type: bytes} of a container; a section runs to the next offset."""
    if len(data) < DIRECTORY_BYTES or data[0] != 1 or data[3] != 6:
        raise ValueError("not a model container")
    entries = []
    for i in range(6):
        offset, _, section_type = struct.unpack_from("<iII", data, 4 + 12 * i)
        entries.append((offset, section_type))
    offsets = sorted({o for o, _ in entries} | {len(data)})
    out = {}
    for offset, section_type in entries:
        if section_type > 5 or not 0 <= offset <= len(data):
            continue
        end = min(o for o in offsets if o > offset) if offset < len(data) else offset
        out[section_type] = data[offset:end]
    return out


def read_mean_variance(data):
    (d,) = struct.unpack_from("<i", data, 32)
    values = np.frombuffer(data, dtype="<f4", count=2 * d, offset=36)
    return values[:d].copy(), values[d:].copy()


def read_whitening(data):
    (d,) = struct.unpack_from("<i", data, 32)
    values = np.frombuffer(data, dtype="<f8", count=d * d + d, offset=36)
    return values[:d * d].reshape(d, d).copy(), values[d * d:].copy()


def read_splda(data):
    size, d = struct.unpack_from("<ii", data, 32)
    dtype = "<f4" if size == 4 else "<f8"
    v = np.frombuffer(data, dtype=dtype, count=2 * d * d + 3 * d + 1, offset=40).astype(np.float64)
    pos = 0
    out = {}
    for name, n in (("cross", d * d), ("cross_eigen", d), ("self", d * d), ("self_eigen", d),
                    ("linear", d), ("constant", 1)):
        out[name] = v[pos:pos + n]
        pos += n
    out["cross"] = out["cross"].reshape(d, d)
    out["self"] = out["self"].reshape(d, d)
    out["constant"] = float(out["constant"][0])
    return out
