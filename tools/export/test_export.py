import os
import struct
import subprocess
import sys
import tempfile
import unittest

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "train"))

import synth_audio  # noqa: E402

DEPLOYMENT = os.path.join(HERE, "..", "..", "tests", "data", "random")
MFCC_OPTIONS = os.path.join(DEPLOYMENT, "mfcc-options.json")
EXE = os.environ.get("JOR_EXPORT")


def wav_bytes(samples=b"\x00\x10" * 800, rate=8000, channels=1, bits=16, fmt=1, extra=b""):
    block = channels * bits // 8
    fmt_chunk = struct.pack("<HHIIHH", fmt, channels, rate, rate * block, block, bits)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt_chunk)) + fmt_chunk + extra
    body += b"data" + struct.pack("<I", len(samples)) + samples
    return b"RIFF" + struct.pack("<I", len(body)) + body


@unittest.skipUnless(EXE, "JOR_EXPORT names the jor-export binary")
class ExportTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.out = os.path.join(self.dir, "out")
        os.mkdir(self.out)
        # The engine opens its log file in the working directory.
        self.cwd = os.getcwd()
        os.chdir(self.dir)

    def tearDown(self):
        os.chdir(self.cwd)
        self.tmp.cleanup()

    def run_export(self, *args):
        return subprocess.run([EXE, "--quiet", "--out", self.out] + list(args),
                              capture_output=True, text=True)

    def index(self):
        with open(os.path.join(self.out, "index.tsv")) as fh:
            rows = [line.rstrip("\n").split("\t") for line in fh]
        self.assertEqual(rows[0], ["id", "path", "samples", "frames", "status"])
        return {r[0]: r for r in rows[1:]}

    def test_help_and_usage_errors(self):
        r = subprocess.run([EXE, "--help"], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0)
        self.assertIn("ID.feats.npy", r.stdout)
        self.assertEqual(subprocess.run([EXE, "x.wav"], capture_output=True).returncode, 2)
        self.assertEqual(self.run_export("--bogus").returncode, 2)
        self.assertEqual(self.run_export().returncode, 2)
        # A GMM file the engine's reader rejects is a model error.
        bad = os.path.join(self.dir, "bad.htk")
        with open(bad, "w") as fh:
            fh.write("~o <VecSize> 40 ~h \"ubm\" <BeginHMM> <Foo>")
        r = self.run_export("--mfcc-options", MFCC_OPTIONS, "--selection-gmm", bad, bad)
        self.assertEqual(r.returncode, 2)
        self.assertIn("rejected by the engine", r.stderr)
        # x-vectors need a network that Brindle accepts.
        r = self.run_export("--mfcc-options", MFCC_OPTIONS, "--xvectors", bad)
        self.assertEqual(r.returncode, 2)
        self.assertIn("--xvector-model", r.stderr)
        r = self.run_export("--mfcc-options", MFCC_OPTIONS, "--xvectors", "--xvector-model", bad,
                            bad)
        self.assertEqual(r.returncode, 2)
        self.assertIn("x-vector network", r.stderr)

    def test_npy_files_and_bad_wavs(self):
        good = os.path.join(self.dir, "good.wav")
        synth_audio.write_wav(good, synth_audio.voice_signal(1, 1.0, 0))
        cases = {
            "stereo": wav_bytes(channels=2),
            "bits8": wav_bytes(bits=8),
            "float": wav_bytes(fmt=3),
            "rate16k": wav_bytes(rate=16000),
            "notriff": b"RIFX" + b"\0" * 40,
            "short": b"RIFF\0\0",
            "nodata": wav_bytes()[:36],
        }
        paths = [good]
        for name, data in cases.items():
            p = os.path.join(self.dir, name + ".wav")
            with open(p, "wb") as fh:
                fh.write(data)
            paths.append(p)
        # A data chunk claiming more than the file holds is cut, and a list
        # chunk before it is skipped.
        cut = wav_bytes(samples=b"\x00\x01" * 100, extra=b"LIST" + struct.pack("<I", 3) +
                        b"abc\0")[:-20]
        p = os.path.join(self.dir, "cut.wav")
        with open(p, "wb") as fh:
            fh.write(cut)
        paths.append(p)
        r = self.run_export("--mfcc-options", MFCC_OPTIONS, *paths)
        self.assertEqual(r.returncode, 1)
        idx = self.index()
        self.assertEqual(idx["good"][4], "ok")
        self.assertEqual(idx["cut"][4], "ok")
        self.assertEqual(idx["cut"][2], "90")
        for name in cases:
            self.assertNotEqual(idx[name][4], "ok", name)
        self.assertIn("not mono", idx["stereo"][4])
        self.assertIn("16000", idx["rate16k"][4])
        with open(os.path.join(self.out, "good.feats.npy"), "rb") as fh:
            raw = fh.read()
        self.assertEqual(raw[:8], b"\x93NUMPY\x01\x00")
        hlen = struct.unpack_from("<H", raw, 8)[0]
        self.assertEqual((10 + hlen) % 64, 0)
        feats = np.load(os.path.join(self.out, "good.feats.npy"))
        self.assertEqual(feats.dtype, np.float32)
        self.assertEqual(feats.shape, (int(idx["good"][3]), 40))
        self.assertEqual(len(raw), 10 + hlen + feats.size * 4)
        self.assertGreater(feats.shape[0], 10)
        # The silent cut file has no voiced rows: an empty (0, 40) matrix.
        self.assertEqual(np.load(os.path.join(self.out, "cut.feats.npy")).shape, (0, 40))

    def test_manifest_table(self):
        for k in range(2):
            synth_audio.write_wav(os.path.join(self.dir, "a%d.wav" % k),
                                  synth_audio.voice_signal(k, 0.8, k))
        man = os.path.join(self.dir, "manifest.tsv")
        with open(man, "w") as fh:
            fh.write("speaker\trecording\tpath\tseconds\n")
            fh.write("s0\trecA\ta0.wav\t0.8\ns1\trecB\t%s\t0.8\n"
                     % os.path.join(self.dir, "a1.wav"))
        r = self.run_export("--mfcc-options", MFCC_OPTIONS, "--manifest", man)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(self.index()), ["recA", "recB"])
        self.assertTrue(os.path.exists(os.path.join(self.out, "recA.feats.npy")))

    @unittest.skipUnless(os.environ.get("JOR_EXPORT_ENGINE_CHECK"), "needs the engine checker")
    def test_same_as_engine_exports(self):
        wavs = []
        for v in range(2):
            p = os.path.join(self.dir, "e%d.wav" % v)
            synth_audio.write_wav(p, synth_audio.voice_signal(v + 1, 1.5, v))
            wavs.append(p)
        ref = os.path.join(self.dir, "ref")
        os.mkdir(ref)
        subprocess.run([os.environ["JOR_EXPORT_ENGINE_CHECK"], DEPLOYMENT, ref] + wavs,
                       check=True, capture_output=True)
        r = self.run_export("--deployment", DEPLOYMENT, "--ivectors", "--xvectors", *wavs)
        self.assertEqual(r.returncode, 0, r.stderr)
        for v in range(2):
            mine = np.load(os.path.join(self.out, "e%d.feats.npy" % v))
            theirs = np.load(os.path.join(ref, "e%d.feats.npy" % v))
            np.testing.assert_array_equal(mine, theirs)
            iv = np.load(os.path.join(self.out, "e%d.ivector.npy" % v))
            np.testing.assert_array_equal(iv, np.load(os.path.join(ref, "e%d.ivector.npy" % v)))
            xv = np.load(os.path.join(self.out, "e%d.xvector.npy" % v))
            self.assertEqual(xv.shape, (512,))
            np.testing.assert_array_equal(xv, np.load(os.path.join(ref, "e%d.xvector.npy" % v)))
            z = np.load(os.path.join(self.out, "e%d.zeroth.npy" % v))
            self.assertAlmostEqual(float(z.sum()), mine.shape[0], places=2)


if __name__ == "__main__":
    unittest.main()
