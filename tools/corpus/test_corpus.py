"""Corpus generator on a handful of voices and seconds of audio."""
import hashlib
import json
import math
import os
import random
import subprocess
import sys
import tempfile
import unittest
import wave

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import channel  # noqa: E402
import make_corpus  # noqa: E402
import voices  # noqa: E402

TINY = ["--espeak-builtin", "3", "--espeak-random", "3", "--no-festival", "--shifted-copies", "1",
        "--recordings", "2",
        "--min-seconds", "0.8", "--max-seconds", "1.5", "--dev-fraction", "0.17",
        "--test-fraction", "0.34", "--seed", "7", "--quiet"]


def tree_digest(root):
    out = {}
    for dirpath, _, files in os.walk(root):
        for f in files:
            p = os.path.join(dirpath, f)
            if os.path.islink(p) or "espeak" in os.path.relpath(p, root).split(os.sep)[0]:
                continue
            with open(p, "rb") as fh:
                out[os.path.relpath(p, root)] = hashlib.sha256(fh.read()).hexdigest()
    return out


class CorpusTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.a = os.path.join(cls.tmp.name, "a")
        cls.b = os.path.join(cls.tmp.name, "b")
        # Two workers against one: the bytes must not depend on scheduling.
        make_corpus.main(["--out", cls.a, "--jobs", "2"] + TINY)
        make_corpus.main(["--out", cls.b, "--jobs", "1", "--path",
                          os.path.join(cls.tmp.name, "private")] + TINY)
        cls.rows = make_corpus.read_tsv(os.path.join(cls.a, "manifest.tsv"))
        cls.speakers = make_corpus.read_tsv(os.path.join(cls.a, "speakers.tsv"))

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_same_seed_same_bytes(self):
        da, db = tree_digest(self.a), tree_digest(self.b)
        da.pop("voices.json")  # names the espeak-ng data folder
        db.pop("voices.json")
        self.assertGreater(len(da), 10)
        self.assertEqual(da, db)

    def test_other_seed_other_draws(self):
        g1, _ = make_corpus.recording_rngs(7, "es-m3", 0)
        g2, _ = make_corpus.recording_rngs(8, "es-m3", 0)
        g3, _ = make_corpus.recording_rngs(7, "es-m3", 1)
        x1, x2, x3 = g1.random(4), g2.random(4), g3.random(4)
        self.assertFalse(np.array_equal(x1, x2))
        self.assertFalse(np.array_equal(x1, x3))

    def test_wav_format_and_manifest_seconds(self):
        self.assertEqual(len(self.rows), 2 * len(self.speakers))
        for r in self.rows:
            with wave.open(os.path.join(self.a, r["path"]), "rb") as w:
                self.assertEqual((w.getframerate(), w.getnchannels(), w.getsampwidth(),
                                  w.getcomptype()), (8000, 1, 2, "NONE"), r["path"])
                n = w.getnframes()
                pcm = np.frombuffer(w.readframes(n), dtype="<i2").astype(np.float64)
            self.assertAlmostEqual(n / 8000.0, float(r["seconds"]), places=3)
            self.assertGreater(n, 2400)
            rms = math.sqrt(np.mean(pcm ** 2))
            self.assertGreater(rms, 100.0, r["path"])  # speech, not silence
            self.assertLess(np.mean(np.abs(pcm) >= 32767), 0.01, r["path"])  # hardly clipped

    def test_lists_partition_manifest_by_speaker(self):
        split_of = {s["speaker"]: s["split"] for s in self.speakers}
        seen = {}
        for name in ("train", "dev", "test"):
            rows = make_corpus.read_tsv(os.path.join(self.a, name + ".tsv"))
            self.assertTrue(rows, name)
            for r in rows:
                self.assertEqual(split_of[r["speaker"]], name)
                self.assertNotIn(r["recording"], seen)
                seen[r["recording"]] = r
        self.assertEqual(seen, {r["recording"]: r for r in self.rows})
        by_split = {}
        for s in self.speakers:
            by_split.setdefault(s["split"], set()).add(s["speaker"])
        self.assertFalse(by_split["train"] & by_split["test"])
        self.assertFalse(by_split["train"] & by_split["dev"])
        self.assertFalse(by_split["dev"] & by_split["test"])
        flite = {s["speaker"] for s in self.speakers if s["family"] == "flite"}
        self.assertTrue(flite <= by_split["test"])
        if "fl-kal" in flite:  # a pitch-shifted copy is held out with its voice
            self.assertIn("fl-kal-p+250", flite)
        self.assertEqual({r["condition"] for r in self.rows}, {"clean", "hard"})
        for r in self.rows:
            self.assertEqual(r["path"], f"wav/{r['speaker']}/{r['recording']}.wav")

    def test_every_espeak_voice_is_its_own(self):
        """A variant espeak-ng cannot find falls back to the default voice silently."""
        with open(os.path.join(self.a, "voices.json")) as f:
            vj = json.load(f)
        digests = {}
        esp = [voices.Speaker(**s) for s in vj["speakers"] if s["family"].startswith("espeak")]
        esp.append(voices.Speaker("es-default", "espeak", "en"))
        for s in esp:
            out = os.path.join(self.tmp.name, "probe.wav")
            voices.synthesize(s, "Seven yellow apples.", out, vj["espeak_path"])
            with open(out, "rb") as fh:
                digests[s.speaker] = hashlib.sha256(fh.read()).hexdigest()
        self.assertEqual(len(set(digests.values())), len(digests), digests)

    def test_builtin_variants_are_distinct_speakers(self):
        """Every kept built-in variant is one token in the lists and a voice of its own:
        duplicates of the default voice and of each other are left out."""
        rng = random.Random(5)
        builtin = voices.build_speakers(rng, -1, 0, False, False, 0.5)
        self.assertGreater(len(builtin), 50)
        data = os.path.join(self.tmp.name, "builtin")
        voices.make_espeak_data(data, builtin)
        digests = {}
        for s in builtin:  # "default" is the plain voice itself
            self.assertEqual(s.speaker.split(), [s.speaker])
            out = os.path.join(self.tmp.name, "probe.wav")
            voices.synthesize(s, "Seven yellow apples.", out, data)
            with open(out, "rb") as fh:
                digests.setdefault(hashlib.sha256(fh.read()).hexdigest(), []).append(s.speaker)
        self.assertEqual([v for v in digests.values() if len(v) > 1], [])

    def test_voice_file_limit(self):
        rng = random.Random(3)
        many = voices.build_speakers(rng, -1, 300, False, False, 0.0)
        with self.assertRaises(RuntimeError):
            voices.make_espeak_data(os.path.join(self.tmp.name, "many"), many)
        few = voices.build_speakers(rng, 2, 5, False, False, 0.5)
        n = voices.make_espeak_data(os.path.join(self.tmp.name, "few"), few)
        vdir = os.path.join(self.tmp.name, "few", "espeak-ng-data", "voices", "!v")
        self.assertEqual(len(os.listdir(vdir)), 7)
        self.assertLessEqual(n, voices.ESPEAK_MAX_VOICE_FILES)

    def test_random_variants_keep_their_distance(self):
        rng = random.Random(11)
        sp = voices.build_speakers(rng, 0, 12, False, False, 0.5)
        us = [s.params["u"] for s in sp]
        for i, a in enumerate(us):
            self.assertGreaterEqual(math.sqrt(sum(x * x for x in a) / len(a)), 0.5 - 1e-3)
            for b in us[:i]:
                d = math.sqrt(sum((x - y) ** 2 for x, y in zip(a, b)) / len(a))
                self.assertGreaterEqual(d, 0.5 - 1e-3)

    def test_split_holds_out_families(self):
        sp = [voices.Speaker(f"s{i}", "espeak", "en") for i in range(10)]
        sp += [voices.Speaker("f1", "festival", "x"), voices.Speaker("f2", "flite", "y")]
        s1 = make_corpus.split_speakers(sp, 5, 0.1, 0.2, {"festival", "flite"})
        self.assertEqual(s1, make_corpus.split_speakers(sp, 5, 0.1, 0.2, {"festival", "flite"}))
        self.assertEqual((s1["f1"], s1["f2"]), ("test", "test"))
        vals = [s1[f"s{i}"] for i in range(10)]
        self.assertEqual((vals.count("train"), vals.count("dev"), vals.count("test")), (7, 1, 2))
        # too few speakers: training keeps one
        s2 = make_corpus.split_speakers(sp[:2], 5, 0.5, 0.5, set())
        self.assertIn("train", s2.values())


class ChannelTest(unittest.TestCase):
    def test_noise_at_requested_snr(self):
        g = np.random.default_rng(0)
        t = np.arange(16000) / 8000.0
        x = 0.1 * np.sin(2 * np.pi * 440 * t)
        x[:4000] = 0.0  # silence does not count towards the speech power
        for snr in (0.0, 7.5, 30.0):
            noise = g.standard_normal(len(x))
            y = channel.add_noise(x, noise, snr)
            added = y - x
            speech = np.mean(x[4000:] ** 2)
            self.assertAlmostEqual(10 * math.log10(speech / np.mean(added ** 2)), snr, places=6)

    def test_mulaw_quantisation_error(self):
        x = np.linspace(-1, 1, 20001)
        y = channel.mulaw_roundtrip(x)
        # the steepest step of 8-bit mu-law is at full scale: (256^(1/127.5) - 1) relative
        rel_step = 256 ** (1 / 127.5) - 1
        self.assertTrue(np.all(np.abs(y - x) <= rel_step * np.abs(x) / 2 + 1e-4 + 1e-12))
        self.assertLess(np.max(np.abs(y - x)), 0.03)
        self.assertGreater(np.max(np.abs(y - x)), 0.001)  # it does quantise

    def test_band_pass_removes_low_and_high(self):
        with tempfile.TemporaryDirectory() as d:
            src = os.path.join(d, "tones.wav")
            t = np.arange(16000) / 8000.0
            tones = 0.2 * (np.sin(2 * np.pi * 80 * t) + np.sin(2 * np.pi * 1000 * t)
                           + np.sin(2 * np.pi * 3900 * t))
            channel.write_wav(src, channel.to_int16(tones))
            p = {"hard": True, "gain_db": 0.0, "rate": 1.0, "cents": 0.0, "low": 300,
                 "high": 3400, "tilt_db": 0.0}
            y = channel.sox_to_float(src, p)
            spec = np.abs(np.fft.rfft(y[2000:14000]))
            f = np.fft.rfftfreq(12000, 1 / 8000.0)
            amp = {hz: spec[np.argmin(np.abs(f - hz))] for hz in (80, 1000, 3900)}
            self.assertLess(amp[80], amp[1000] * 0.01)
            self.assertLess(amp[3900], amp[1000] * 0.01)

    def test_help(self):
        for tool in ("make_corpus.py", "make_conversations.py"):
            r = subprocess.run([sys.executable, os.path.join(HERE, tool), "--help"],
                               capture_output=True, text=True)
            self.assertEqual(r.returncode, 0)
            self.assertIn("--seed", r.stdout)


if __name__ == "__main__":
    unittest.main()
