"""The package against the C API, its errors, and its use from threads."""
import concurrent.futures
import ctypes
import os
import struct

import numpy as np
import pytest

import ravel

c_size = ctypes.c_size_t
c_float = ctypes.c_float


class CApi:
    """Calls of pellam.h made the way a C caller makes them."""

    def __init__(self, pellam):
        self.lib, self.f = pellam
        self.handle = ctypes.c_void_p()
        assert self.f[4](ctypes.byref(self.handle)) == 0
        self.size = self.f[18]()

    def close(self):
        self.f[5](ctypes.byref(self.handle))

    def xvector(self, pcm):
        out = ctypes.create_string_buffer(self.size)
        n, size = c_size(len(pcm)), c_size(self.size)
        d, v, s = c_float(), c_float(), c_float()
        rc = self.f[6](self.handle, pcm.ctypes.data_as(ctypes.c_void_p), ctypes.byref(n), out,
                       ctypes.byref(size), ctypes.byref(d), ctypes.byref(v), ctypes.byref(s))
        assert rc == 0
        return out.raw

    def ivector(self, pcm, chunk):
        assert self.f[10](self.handle) == 0
        for start in range(0, len(pcm), chunk):
            piece = np.ascontiguousarray(pcm[start:start + chunk])
            n = c_size(len(piece))
            assert self.f[7](self.handle, piece.ctypes.data_as(ctypes.c_void_p), ctypes.byref(n)) == 0
        out = ctypes.create_string_buffer(self.size)
        size = c_size(self.size)
        d, v, s = c_float(), c_float(), c_float()
        assert self.f[8](self.handle, out, ctypes.byref(size), ctypes.byref(d), ctypes.byref(v),
                         ctypes.byref(s)) == 0
        return out.raw, (d.value, v.value, s.value)

    def compare(self, a, b):
        score = c_float()
        assert self.f[11](self.handle, a, ctypes.byref(c_size(len(a))), b,
                          ctypes.byref(c_size(len(b))), ctypes.byref(score)) == 0
        return score.value


@pytest.fixture(scope="module")
def capi(pellam):
    api = CApi(pellam)
    yield api
    api.close()


def wav_samples(path):
    """Samples of a 16-bit mono 8 kHz WAV read with the standard library, so
    that the package's decoder is checked too."""
    import wave
    with wave.open(path, "rb") as w:
        assert (w.getsampwidth(), w.getnchannels(), w.getframerate()) == (2, 1, 8000)
        return np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")


def test_templates_and_scores_equal_the_c_api(engine, capi, heldout):
    files = heldout[:6]
    pcm = [wav_samples(f) for f in files]
    for f, p in zip(files, pcm):
        assert np.array_equal(ravel.read_audio(f), p)
    xv = [engine.template(f) for f in files]
    assert xv == [capi.xvector(p) for p in pcm]
    assert [engine.template(p, kind="ivector") for p in pcm] == [capi.ivector(p, len(p))[0]
                                                               for p in pcm]
    for a in xv:
        for b in xv:
            assert engine.compare(a, b) == capi.compare(a, b)
    # Streamed in uneven chunks, as a caller of RecPutPcm does.
    with engine.stream() as s:
        for start in range(0, len(pcm[0]), 3001):
            s.put(pcm[0][start:start + 3001])
        templ, (d, v, snr) = capi.ivector(pcm[0], 3001)
        assert s.template() == templ
        q = s.quality()
        assert (q.duration, q.volume, q.snr) == (d, v, snr)
        s.reset()
        assert s.quality().duration == 0.0


def test_template_header_and_quality(engine, heldout):
    pcm = ravel.read_audio(heldout[0])
    t = engine.template(pcm)
    assert len(t) == engine.template_size == 4356
    assert t[2:6] == b"ULX\0" and t[13:15] == b"\x01\x01"
    check = 0
    for byte in t[1:]:
        check ^= byte
    assert t[0] == check
    q = engine.quality(pcm)
    assert struct.unpack_from("<fff", t, 15) == pytest.approx((q.duration, q.volume, q.snr))
    assert q.freq_snr.shape == (16,) and 0 <= q.valid_freq_start < q.valid_freq_end <= 4000
    feats = engine.features(pcm)
    assert feats.dtype == np.float32 and feats.shape[1] == 20
    # Voiced frames of 10 ms, give or take the frames at the edges.
    assert abs(feats.shape[0] - q.duration * 100) <= 2
    assert engine.check_template(t) == "1.1"


def test_identify_scores_equal_compare(engine, heldout):
    db = ravel.SpeakerDatabase(engine)
    enrolled = [f for f in heldout if f.endswith("-008.wav")]
    templates = {os.path.basename(f): engine.template(f) for f in enrolled}
    for name, t in templates.items():
        db.add(name, t)
    probe = engine.template(heldout[0].replace("-008", "-009"))
    hits = db.identify(probe, top=len(enrolled) + 5)
    assert len(hits) == len(enrolled)
    expected = sorted(((engine.compare(probe, t), i) for i, t in enumerate(templates.values())),
                      key=lambda x: (-x[0], x[1]))
    assert [(h.score, h.number - 1) for h in hits] == [(np.float32(s).item(), i)
                                                         for s, i in expected]
    assert db.identify(probe, top=5) == hits[:5]
    assert hits[0].name == os.path.basename(heldout[0])


def test_speaker_database_file(engine, heldout, tmp_path):
    db = ravel.SpeakerDatabase(engine)
    a, b = engine.template(heldout[0]), engine.template(heldout[2])
    db.add("Ana", a)
    db.add("Bruno", b, number=7)
    db.add("Ana", b)
    path = tmp_path / "spdbdata"
    db.save(path)
    raw = path.read_bytes()
    assert len(raw) == 3 * 4489
    records = [raw[i:i + 4489] for i in range(0, len(raw), 4489)]
    assert [struct.unpack_from("<i", r)[0] for r in records] == [1, 7, 8]
    assert [r[4:132].rstrip(b"\0") for r in records] == [b"Ana", b"Bruno", b"Ana"]
    assert [r[133:] for r in records] == [a, b, b]
    again = ravel.SpeakerDatabase(engine, path)
    assert [(e.number, e.name, e.template) for e in again] == [(1, "Ana", a), (7, "Bruno", b),
                                                               (8, "Ana", b)]
    assert again.remove("Ana") == 2 and again.remove(7) == 1 and len(again) == 0
    assert len(ravel.SpeakerDatabase(engine, tmp_path / "missing")) == 0


def _corrupt(t, offset, value):
    b = bytearray(t)
    b[offset:offset + len(value)] = value
    return bytes(b)


def test_errors(engine, heldout, tmp_path, models):
    t = engine.template(heldout[0])
    not_audio = tmp_path / "x.wav"
    not_audio.write_bytes(b"RIFF not a wave file at all")
    engine_errors = [
        (lambda: engine.compare(t, t[:-1]), 1792, 0x2030),
        (lambda: engine.compare(t, b""), 768, 0x2020),
        (lambda: engine.compare(_corrupt(t, 14, b"\x02"), t), 1793, 0x2031),
        (lambda: engine.compare(t, _corrupt(t, 300, struct.pack("<f", float("nan")))), 1792,
         0x2030),
        (lambda: engine.check_template(t[:-4]), 768, 0),
    ]
    for call, status, detail in engine_errors:
        with pytest.raises(ravel.RavelError) as e:
            call()
        assert (e.value.status, e.value.detail) == (status, detail)
        assert e.value.explanation and str(status) in str(e.value)
    with pytest.raises(ravel.RavelError) as e:
        engine.template(np.zeros(0, dtype=np.int16))
    assert e.value.status != 0

    other_errors = [
        (lambda: engine.template(np.zeros(8000, dtype=np.float32)), TypeError),
        (lambda: engine.template(np.zeros((2, 8000), dtype=np.int16)), ValueError),
        (lambda: engine.template(heldout[0], kind="gmm"), ValueError),
        (lambda: engine.template(tmp_path / "missing.wav"), OSError),
        (lambda: engine.template(not_audio), ValueError),
        (lambda: engine.diarize(heldout[0], method="windows"), ValueError),
        (lambda: ravel.Engine(tmp_path), ValueError),  # another folder while one is open
        (lambda: ravel.SpeakerDatabase(engine).add("x", t[:-1]), ValueError),
        (lambda: ravel.SpeakerDatabase(engine).add("x" * 128, t), ValueError),
    ]
    for call, kind in other_errors:
        with pytest.raises(kind):
            call()
    with pytest.raises(ravel.DiarizationError) as e:
        engine.diarize(tmp_path / "missing.wav")
    assert e.value.reason == "Wave sprit Error"


def test_threads_give_the_serial_results(engine, heldout):
    pcm = [ravel.read_audio(f) for f in heldout[:8]]
    serial = [(engine.template(p), engine.template(p, "ivector")) for p in pcm]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        parallel = list(pool.map(lambda p: (engine.template(p), engine.template(p, "ivector")),
                                 pcm * 2))
        scores = list(pool.map(lambda t: engine.compare(t[0], serial[0][0]), parallel))
    assert parallel == serial * 2
    assert scores == [engine.compare(t[0], serial[0][0]) for t in serial] * 2


def test_diarize_names_the_enrolled_voices(engine, models, tmp_path):
    conversation = os.path.join(models, "conversation")
    db = ravel.SpeakerDatabase(engine)
    db.add("es-m4", engine.template(os.path.join(conversation, "es-m4-enrol.wav")))
    db.add("es-f1", engine.template(os.path.join(conversation, "es-f1-enrol.wav")))
    db.save(os.path.join(tmp_path, "spdbdata"))
    # The same deployment with this database.
    for name in os.listdir(models):
        if os.path.isfile(os.path.join(models, name)):
            os.symlink(os.path.join(models, name), tmp_path / name)
    rttm = tmp_path / "two-voices.rttm"
    with ravel.Engine(models) as same:
        unnamed = same.diarize(os.path.join(conversation, "two-voices.wav"))
    assert [t.name for t in unnamed] == ["Unknown"] * len(unnamed)
    named = ravel.diarization.diarize_file(os.path.join(conversation, "two-voices.wav"),
                                           str(tmp_path))
    ravel.write_rttm(named, rttm, "two-voices")
    first = [t for t in named if t.end <= 40]
    second = [t for t in named if t.start >= 40]
    assert first and second and {t.name for t in first} == {"es-m4"}
    assert {t.name for t in second} == {"es-f1"}
    assert [(t.start, t.end, t.cluster) for t in named] == [(t.start, t.end, t.cluster)
                                                           for t in unnamed]
    lines = rttm.read_text().splitlines()
    assert lines[0] == "SPEAKER two-voices 1 %.3f %.3f <NA> <NA> es-m4 <NA> <NA>" % (
        named[0].start, named[0].end - named[0].start)
    assert len(lines) == len(named)
