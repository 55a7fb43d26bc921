"""Conversation generator: RTTM against the audio and the turn rules."""
import hashlib
import os
import sys
import tempfile
import unittest

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import channel  # noqa: E402
import make_conversations  # noqa: E402
import make_corpus  # noqa: E402

CONV = ["--split", "all", "--count", "3", "--min-seconds", "9", "--max-seconds", "14",
        "--min-turn", "2", "--max-turn", "4", "--min-pause", "0.3", "--max-pause", "0.8",
        "--hard-fraction", "0.5", "--seed", "3", "--quiet"]


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class ConversationTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        corpus = os.path.join(cls.tmp.name, "corpus")
        make_corpus.main(["--out", corpus, "--espeak-builtin", "4", "--espeak-random", "1",
                          "--no-flite", "--no-festival", "--recordings", "1",
                          "--min-seconds", "0.5", "--max-seconds", "0.8", "--quiet"])
        cls.a = os.path.join(cls.tmp.name, "a")
        cls.b = os.path.join(cls.tmp.name, "b")
        make_conversations.main(["--corpus", corpus, "--out", cls.a, "--jobs", "2"] + CONV)
        make_conversations.main(["--corpus", corpus, "--out", cls.b, "--jobs", "1"] + CONV)
        cls.rows = make_corpus.read_tsv(os.path.join(cls.a, "conversations.tsv"))

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_same_seed_same_bytes(self):
        self.assertEqual(sorted(os.listdir(self.a)), sorted(os.listdir(self.b)))
        for f in os.listdir(self.a):
            self.assertEqual(digest(os.path.join(self.a, f)), digest(os.path.join(self.b, f)), f)

    def test_rttm_matches_audio_and_turn_rules(self):
        self.assertEqual(len(self.rows), 3)
        for r in self.rows:
            rate, pcm = channel.read_wav(os.path.join(self.a, r["path"]))
            self.assertEqual(rate, 8000)
            seconds = len(pcm) / 8000.0
            self.assertAlmostEqual(seconds, float(r["seconds"]), places=3)
            self.assertGreaterEqual(seconds, 9.0 - 4.0 - 0.8)  # the last turn may not fit
            self.assertLessEqual(seconds, 14.0 + 0.3 + 0.01)
            turns = []
            with open(os.path.join(self.a, r["rttm"])) as f:
                for line in f:
                    t = line.split()
                    self.assertEqual(len(t), 10)
                    self.assertEqual((t[0], t[1], t[2]), ("SPEAKER", r["conversation"], "1"))
                    turns.append((float(t[3]), float(t[4]), t[7]))
            self.assertEqual(len(turns), int(r["turns"]))
            names = {t[2] for t in turns}
            self.assertTrue(2 <= len(names) <= 4, names)
            self.assertEqual(names, set(r["speakers"].split(",")))
            x = pcm.astype(np.float64)
            in_turn = np.zeros(len(x), dtype=bool)
            prev_end, prev_spk = 0.0, None
            for start, dur, spk in turns:
                self.assertGreaterEqual(start - prev_end, 0.3 - 0.002)  # pause before each turn
                self.assertLessEqual(start - prev_end, 0.8 + 0.002)
                self.assertTrue(2.0 - 0.002 <= dur <= 4.0 + 0.002, dur)
                self.assertNotEqual(spk, prev_spk)
                self.assertLessEqual(start + dur, seconds + 0.001)
                a, b = int(round(start * 8000)), int(round((start + dur) * 8000))
                in_turn[a:b] = True
                self.assertGreater(np.sqrt(np.mean(x[a:b] ** 2)), 100.0)
                prev_end, prev_spk = start + dur, spk
            gaps = x[~in_turn]
            self.assertGreater(len(gaps), 0)
            self.assertLess(np.sqrt(np.mean(gaps ** 2)), 100.0)

    def test_plan_turns(self):
        import argparse
        opts = argparse.Namespace(min_pause=0.2, max_pause=1.5, min_turn=2.0, max_turn=20.0)
        for seed in range(20):
            g = np.random.default_rng(seed)
            k = 2 + seed % 3
            total = float(g.uniform(60, 600))
            turns = make_conversations.plan_turns(g, k, total, opts)
            self.assertEqual({w for w, _, _ in turns}, set(range(k)))
            self.assertTrue(all(a[0] != b[0] for a, b in zip(turns, turns[1:])))
            length = sum(p + d for _, p, d in turns)
            self.assertLessEqual(length, total + 1e-9)
            self.assertGreater(length, total - 2.0 - 1.5)
            self.assertTrue(all(2.0 <= d <= 20.0 and 0.2 <= p <= 1.5 for _, p, d in turns))

    def test_rare_speaker_talks_little(self):
        import argparse
        opts = argparse.Namespace(min_pause=0.2, max_pause=1.5, min_turn=1.0, max_turn=30.0,
                                  rare_speaker_seconds=20.0)
        for seed in range(20):
            g = np.random.default_rng(seed)
            k = 3 + seed % 3
            turns = make_conversations.plan_turns(g, k, 600.0, opts)
            self.assertEqual({w for w, _, _ in turns}, set(range(k)))
            self.assertTrue(all(a[0] != b[0] for a, b in zip(turns, turns[1:])))
            self.assertLessEqual(sum(d for w, _, d in turns if w == k - 1), 20.0 + 1e-9)


if __name__ == "__main__":
    unittest.main()
