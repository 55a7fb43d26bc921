import itertools
import os
import struct
import sys
import tempfile
import unittest
import wave

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import der  # noqa: E402
import evaluate  # noqa: E402
import metrics  # noqa: E402
import pellam_binding  # noqa: E402

REPO = os.path.dirname(os.path.dirname(HERE))
PNG_MAGIC = b"\x89PNG\r\n\x1a\n"


class VerificationMetricsTest(unittest.TestCase):
    def test_eer_known_answers(self):
        cases = [  # targets, non-targets, EER
            ([2, 3], [0, 1], 0.0),            # separable
            ([1, 2], [0, 1.5], 0.5),
            ([3, 4, 5], [1, 2, 3.5], 1 / 3),
            ([2], [1, 3], 0.5),               # crossing between two operating points
            ([0], [1], 1.0),                  # every trial wrong
        ]
        for tar, non, want in cases:
            with self.subTest(tar=tar, non=non):
                self.assertAlmostEqual(metrics.eer(tar, non), want, places=12)

    def test_min_dcf_known_answers(self):
        cases = [  # targets, non-targets, P_target, minDCF
            ([2, 3], [0, 1], 0.01, 0.0),
            ([1, 2], [0, 1.5], 0.01, 0.5),    # reject the 1: miss 1/2, no false alarm
            ([0], [1], 0.01, 1.0),            # best is to reject everything
            ([1, 2], [0, 1.5], 0.5, 0.5),
        ]
        for tar, non, p, want in cases:
            with self.subTest(tar=tar, non=non, p=p):
                self.assertAlmostEqual(metrics.min_dcf(tar, non, p)[0], want, places=12)

    def test_min_dcf_equals_brute_force(self):
        rng = np.random.default_rng(1)
        tar = list(np.round(rng.normal(2, 1, 40), 1))
        non = list(np.round(rng.normal(0, 1, 300), 1))
        best = 1.0
        for t in sorted(set(tar + non)):
            miss = sum(1 for s in tar if s < t) / len(tar)
            fa = sum(1 for s in non if s >= t) / len(non)
            best = min(best, (0.01 * miss + 0.99 * fa) / 0.01)
        self.assertAlmostEqual(metrics.min_dcf(tar, non)[0], best, places=12)

    def test_det_png_written(self):
        rng = np.random.default_rng(2)
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "det.png")
            metrics.plot_det([("a", rng.normal(2, 1, 50), rng.normal(0, 1, 500)),
                              ("b", rng.normal(1, 1, 50), rng.normal(0, 1, 500))], path)
            with open(path, "rb") as f:
                self.assertEqual(f.read(8), PNG_MAGIC)


class DiarizationErrorTest(unittest.TestCase):
    def test_der_known_answers(self):
        a10 = [(0, 10, "A")]
        turns = [(0, 10, "A"), (10, 20, "B")]
        cases = [  # reference, hypothesis, collar, DER
            (a10, [(0, 10, "x")], 0.25, 0.0),
            (turns, [(0, 12, "x"), (12, 20, "y")], 0.0, 2 / 20),
            (turns, [(0, 12, "x"), (12, 20, "y")], 0.25, 1.75 / 19),
            (a10, [(2, 12, "x")], 0.0, 4 / 10),
            (a10, [(2, 12, "x")], 0.25, 3.5 / 9.5),
            (turns, [(0, 10, "B"), (10, 20, "A")], 0.25, 0.0),   # names need not match
            ([(0, 10, "A"), (5, 10, "B")], [(0, 10, "x")], 0.0, 5 / 15),  # overlap missed
            (a10, [], 0.25, 1.0),
            (turns, [(0, 20, "x")], 0.0, 0.5),                 # one speaker for two
        ]
        for ref, hyp, collar, want in cases:
            with self.subTest(ref=ref, hyp=hyp, collar=collar):
                self.assertAlmostEqual(der.der(ref, hyp, collar)["der"], want, places=9)

    def test_assignment_is_optimal(self):
        rng = np.random.default_rng(3)
        for shape in ((3, 3), (2, 4), (4, 2), (5, 5)):
            w = rng.integers(0, 20, size=shape).astype(float)
            got = der._hungarian_max(w)
            best = 0.0
            if shape[0] <= shape[1]:
                for perm in itertools.permutations(range(shape[1]), shape[0]):
                    best = max(best, sum(w[i, perm[i]] for i in range(shape[0])))
            else:
                for perm in itertools.permutations(range(shape[0]), shape[1]):
                    best = max(best, sum(w[perm[j], j] for j in range(shape[1])))
            self.assertEqual(len(set(got.values())), len(got))
            self.assertAlmostEqual(sum(w[i, j] for i, j in got.items()), best)

    def test_rttm_and_xml(self):
        xml = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<speakerList>\n'
               '    <speaker name="Unknown" start="0" end="8" />\n'
               '    <speaker name="spk2" start="8" end="20" />\n</speakerList>\n')
        segs = der.xml_to_segments(xml, "conv1")
        self.assertEqual(segs, [("conv1", 0.0, 8.0, "Unknown"), ("conv1", 8.0, 20.0, "spk2")])
        bad = xml.replace("spk2", "Tom & Jerry")  # the driver does not escape names
        self.assertEqual(der.xml_to_segments(bad, "c")[1][3], "Tom & Jerry")
        lines = der.rttm_lines(segs)
        self.assertEqual(lines[1], "SPEAKER conv1 1 8.000 12.000 <NA> <NA> spk2 <NA> <NA>\n")
        self.assertEqual(der.read_rttm(lines), segs)
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "t.png")
            der.plot_timeline([(0, 8, "A"), (8, 20, "B")], [(s, e, k) for _, s, e, k in segs], path)
            with open(path, "rb") as f:
                self.assertEqual(f.read(8), PNG_MAGIC)


def write_wav(path, pcm):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        w.writeframes(np.asarray(pcm, dtype="<i2").tobytes())


class TrialsAndScoringTest(unittest.TestCase):
    def manifest(self, tmp):
        rng = np.random.default_rng(9)
        lines = ["speaker\trecording\tpath\tseconds\tcondition"]
        for spk, rec, cond, f0 in (("s1", "r1", "clean", 120), ("s1", "r2", "hard", 125),
                                   ("s2", "r3", "clean", 210), ("s2", "r4", "hard", 200)):
            t = np.arange(8000 * 3) / 8000.0
            pcm = (2500 * np.sin(2 * np.pi * f0 * t * (1 + 0.05 * np.sin(5 * t)))
                   * (0.6 + 0.4 * np.sin(2 * np.pi * 3 * t)) + rng.normal(0, 200, t.size))
            os.makedirs(os.path.join(tmp, "wav"), exist_ok=True)
            write_wav(os.path.join(tmp, "wav", rec + ".wav"), pcm)
            lines.append("%s\t%s\twav/%s.wav\t3.0\t%s" % (spk, rec, rec, cond))
        path = os.path.join(tmp, "manifest.tsv")
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        return path

    def test_trials_from_manifest(self):
        with tempfile.TemporaryDirectory() as tmp:
            rows = evaluate.read_manifest(self.manifest(tmp))
            self.assertTrue(os.path.isabs(rows[0]["path"]))
            all_pairs = evaluate.make_trials(rows)
            self.assertEqual(len(all_pairs), 6)
            self.assertEqual(sorted(t[:2] for t in all_pairs if t[2] == "target"),
                             [("r1", "r2"), ("r3", "r4")])
            cross = evaluate.make_trials(rows, [("condition", "clean")], [("condition", "hard")])
            self.assertEqual(sorted(cross), [("r1", "r2", "target"), ("r1", "r4", "nontarget"),
                                             ("r3", "r2", "nontarget"), ("r3", "r4", "target")])
            few = evaluate.make_trials(rows, max_nontargets=1)
            self.assertEqual(sum(1 for t in few if t[2] == "nontarget"), 1)

    def test_export_table(self):
        names = pellam_binding.export_names()
        self.assertEqual(sorted(names), list(range(1, 17)) + [18])
        self.assertTrue(names[11].startswith("Entry_160c4751"))

    def test_speaker_database_layout(self):
        data = evaluate.speaker_database([("alice", b"\1" * 4356), ("bob", b"\2" * 4356)])
        self.assertEqual(len(data), 2 * 4489)
        self.assertEqual(struct.unpack_from("<i", data, 4489)[0], 1)
        self.assertEqual(data[4489 + 4:4489 + 8], b"bob\0")
        self.assertEqual(data[4489 + 133:4489 + 134], b"\2")
        with self.assertRaises(ValueError):
            evaluate.speaker_database([("x", b"\0" * 100)])

    def test_scores_through_pellam(self):
        lib = pellam_binding.find_library()
        models = os.environ.get("JOR_RANDOM_MODELS", os.path.join(REPO, "tests", "data", "random"))
        if lib is None or not os.path.exists(os.path.join(models, "ulxmodel.dat")):
            self.skipTest("libPellam.so or tests/data/random missing")
        with tempfile.TemporaryDirectory() as tmp:
            # the default deployment without its log options: no log file in the working folder
            quiet = os.path.join(tmp, "models")
            os.makedirs(quiet)
            for name in ("ulxmodel.dat", "mfcc-options.json", "xe5.pb"):
                os.symlink(os.path.join(os.path.abspath(models), name), os.path.join(quiet, name))
            models = quiet
            cwd = os.getcwd()
            os.chdir(tmp)  # the engine opens its default log file in the working folder
            self.addCleanup(os.chdir, cwd)
            manifest = self.manifest(tmp)
            rows = evaluate.read_manifest(manifest)
            trials = evaluate.make_trials(rows)
            for kind in ("xvector", "ivector"):
                scored = evaluate.score_trials(trials, rows, models, kind, lib, log=False)
                self.assertEqual(len(scored), len(trials))
                for _, _, _, s in scored:
                    self.assertTrue(0.0 <= s <= 100.0)
            out = os.path.join(tmp, "report")
            self.assertEqual(evaluate.main(["report", "--manifest", manifest, "--deployment", models,
                                            "--library", lib, "--out", out]), 0)
            with open(os.path.join(out, "summary.tsv")) as f:
                lines = f.read().splitlines()
            # one speaker per condition has a single recording: only clean-vs-hard has targets
            self.assertEqual([line.split("\t")[:4] for line in lines[1:]],
                             [["ivector", "clean-vs-hard", "2", "2"],
                              ["xvector", "clean-vs-hard", "2", "2"]])
            with open(os.path.join(out, "det-xvector.png"), "rb") as f:
                self.assertEqual(f.read(8), PNG_MAGIC)
            # the same recording scores the same against itself on both paths
            with pellam_binding.Pellam(models, lib) as engine:
                pcm, _ = pellam_binding.read_wav(rows[0]["path"])
                a, _ = engine.ivector_template(pcm)
                b, _ = engine.ivector_template(pcm, chunk=3000)
                self.assertEqual(a[256:], b[256:])


if __name__ == "__main__":
    unittest.main()
