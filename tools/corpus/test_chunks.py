"""Cutting corpus recordings into fixed pieces."""
import csv
import os
import sys
import tempfile
import unittest
import wave

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_chunks  # noqa: E402


def write_wav(path, samples, rate=8000):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(np.asarray(samples, "<i2").tobytes())


def read_wav(path):
    with wave.open(path, "rb") as w:
        return w.getframerate(), np.frombuffer(w.readframes(w.getnframes()), "<i2")


class ChunksTest(unittest.TestCase):
    def test_pieces_are_the_source_slices(self):
        with tempfile.TemporaryDirectory() as tmp:
            os.mkdir(os.path.join(tmp, "wav"))
            # 9.5 s and 3 s: two whole 4-s pieces and a dropped tail, then nothing.
            long_ = (np.arange(76000) % 30000 - 15000).astype(np.int16)
            write_wav(os.path.join(tmp, "wav", "a.wav"), long_)
            write_wav(os.path.join(tmp, "wav", "b.wav"), np.ones(24000, np.int16))
            with open(os.path.join(tmp, "list.tsv"), "w") as f:
                f.write("speaker\trecording\tpath\tseconds\tcondition\n")
                f.write("s1\tr1\twav/a.wav\t9.500\tclean\n")
                f.write("s2\tr2\t%s\t3.000\thard\n" % os.path.join(tmp, "wav", "b.wav"))
            out = os.path.join(tmp, "out")
            for max_pieces, want in ((3, 2), (1, 1)):
                make_chunks.main(["--manifest", os.path.join(tmp, "list.tsv"), "--out", out,
                                  "--max-pieces", str(max_pieces)])
                with open(os.path.join(out, "chunks.tsv"), newline="") as f:
                    rows = list(csv.DictReader(f, delimiter="\t"))
                self.assertEqual([r["recording"] for r in rows],
                                 ["r1-c%02d" % k for k in range(want)])
                for k, r in enumerate(rows):
                    self.assertEqual((r["speaker"], r["seconds"], r["condition"]),
                                     ("s1", "4.000", "clean"))
                    rate, got = read_wav(os.path.join(out, r["path"]))
                    self.assertEqual(rate, 8000)
                    np.testing.assert_array_equal(got, long_[k * 32000:(k + 1) * 32000])


if __name__ == "__main__":
    unittest.main()
