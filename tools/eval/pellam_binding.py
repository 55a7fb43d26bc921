"""ctypes binding of libPellam.so, by the export names of pellam/pellam.h."""
import ctypes
import os
import re
import struct

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
HEADER_BYTES = 256


def export_names(header=os.path.join(REPO, "pellam", "pellam.h")):
    """{ordinal: export name} from the PELLAM_EXPORTS table."""
    with open(header) as f:
        text = f.read()
    return {int(o): name for o, name in re.findall(r"X\((\d+),\s*\w+,\s*\\?\s*(Entry_[0-9a-f]+)\)",
                                                   text)}


def find_library():
    if os.environ.get("PELLAM_SKIP"):
        return None
    candidates = [os.environ.get("PELLAM_LIB", "")]
    candidates += [os.path.join(REPO, d, "lib", "libPellam.so") for d in ("build",)]
    for c in candidates:
        if c and os.path.exists(c):
            return c
    return None


class Pellam:
    """Initialises the library on a deployment folder; one handle."""

    def __init__(self, deployment, library=None):
        path = library or find_library()
        if path is None:
            raise OSError("libPellam.so not found (set PELLAM_LIB)")
        self.lib = ctypes.CDLL(path)
        names = export_names()
        f = {o: getattr(self.lib, n) for o, n in names.items()}
        sz = ctypes.POINTER(ctypes.c_size_t)
        fl = ctypes.POINTER(ctypes.c_float)
        vp = ctypes.c_void_p
        f[1].argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_bool)]
        f[2].argtypes = []
        f[4].argtypes = [ctypes.POINTER(vp)]
        f[5].argtypes = [ctypes.POINTER(vp)]
        f[6].argtypes = [vp, ctypes.POINTER(ctypes.c_short), sz, ctypes.c_char_p, sz, fl, fl, fl]
        f[7].argtypes = [vp, ctypes.POINTER(ctypes.c_short), sz]
        f[8].argtypes = [vp, ctypes.c_char_p, sz, fl, fl, fl]
        f[10].argtypes = [vp]
        f[11].argtypes = [vp, ctypes.c_char_p, sz, ctypes.c_char_p, sz, fl]
        f[14].argtypes = [vp]
        f[18].argtypes = []
        self.f = f
        share = ctypes.c_bool(False)
        rc = f[1](deployment.encode(), ctypes.byref(share))
        if rc != 0:
            raise RuntimeError("RecInitialize(%s) = %d, detail %d" % (deployment, rc, f[14](None)))
        self.handle = vp()
        rc = f[4](ctypes.byref(self.handle))
        if rc != 0:
            f[2]()
            raise RuntimeError("RecCreate = %d" % rc)
        self.template_bytes = f[18]()

    def close(self):
        if self.handle:
            self.f[5](ctypes.byref(self.handle))
        self.f[2]()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _check(self, rc, what):
        if rc != 0:
            raise RuntimeError("%s = %d, detail %d" % (what, rc, self.f[14](self.handle)))

    def xvector_template(self, pcm):
        """Ordinal 6 on a whole recording (int16 samples); returns (template bytes, duration)."""
        pcm = np.ascontiguousarray(pcm, dtype=np.int16)
        out = ctypes.create_string_buffer(self.template_bytes)
        n, size = ctypes.c_size_t(len(pcm)), ctypes.c_size_t(self.template_bytes)
        dur, vol, snr = ctypes.c_float(), ctypes.c_float(), ctypes.c_float()
        rc = self.f[6](self.handle, pcm.ctypes.data_as(ctypes.POINTER(ctypes.c_short)),
                       ctypes.byref(n), out, ctypes.byref(size), ctypes.byref(dur),
                       ctypes.byref(vol), ctypes.byref(snr))
        self._check(rc, "RecMakeXvectorTemplate")
        return out.raw, dur.value

    def ivector_template(self, pcm, chunk=8000):
        """Ordinals 10, 7 (in chunks, as a stream) and 8; returns (template bytes, duration)."""
        pcm = np.ascontiguousarray(pcm, dtype=np.int16)
        self._check(self.f[10](self.handle), "RecReset")
        for start in range(0, len(pcm), chunk):
            piece = np.ascontiguousarray(pcm[start:start + chunk])
            n = ctypes.c_size_t(len(piece))
            self._check(self.f[7](self.handle, piece.ctypes.data_as(ctypes.POINTER(ctypes.c_short)),
                                  ctypes.byref(n)), "RecPutPcm")
        out = ctypes.create_string_buffer(self.template_bytes)
        size = ctypes.c_size_t(self.template_bytes)
        dur, vol, snr = ctypes.c_float(), ctypes.c_float(), ctypes.c_float()
        rc = self.f[8](self.handle, out, ctypes.byref(size), ctypes.byref(dur), ctypes.byref(vol),
                       ctypes.byref(snr))
        self._check(rc, "RecMakeIvectorTemplate")
        return out.raw, dur.value

    def compare(self, first, second):
        """Ordinal 11: score in [0, 100]."""
        b1, b2 = ctypes.c_size_t(len(first)), ctypes.c_size_t(len(second))
        score = ctypes.c_float()
        rc = self.f[11](self.handle, first, ctypes.byref(b1), second, ctypes.byref(b2),
                        ctypes.byref(score))
        self._check(rc, "RecCompare")
        return score.value


def build_template(values, duration=0.0, volume=0.0, snr=0.0):
    """Template bytes: 256-byte header (XOR checksum at byte 0) and float32 values."""
    header = bytearray(HEADER_BYTES)
    header[1] = 1
    header[2:6] = b"ULX\0"
    struct.pack_into("<I", header, 9, HEADER_BYTES)
    header[13] = 1
    header[14] = 1
    struct.pack_into("<fff", header, 15, duration, volume, snr)
    data = bytearray(header + np.asarray(values, dtype="<f4").tobytes())
    check = 0
    for byte in data[1:]:
        check ^= byte
    data[0] = check
    return bytes(data)


def read_wav(path):
    """16-bit PCM samples of a WAV file (first channel)."""
    import wave
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2:
            raise ValueError("%s: not 16-bit PCM" % path)
        data = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")
        return data[::w.getnchannels()].copy(), w.getframerate()
