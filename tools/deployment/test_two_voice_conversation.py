"""Checks of the recording lists and the two-voice conversation of the test deployment."""
import csv
import os
import sys
import tempfile
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import two_voice_conversation as tvc  # noqa: E402


def corpus_rows(seconds):
    """speaker -> list of recording lengths; manifest rows in speaker, index order."""
    return [{"speaker": s, "recording": "%s-%03d" % (s, i),
             "path": "wav/%s/%s-%03d.wav" % (s, s, i), "seconds": "%.3f" % sec}
            for s, lengths in seconds.items() for i, sec in enumerate(lengths)]


class SplitTest(unittest.TestCase):
    def test_roles_and_lists(self):
        rows = corpus_rows({"a": [4.0] * 16, "b": [3.0] * 16, "c": [5.0] * 16})
        rows[12]["seconds"] = "4.500"  # a-012: the enrolment needs a-013 all the same
        fit, heldout, conv = tvc.split(rows, ["b", "a"], half=8, enrol=6, train_below=12)
        self.assertEqual([r["recording"] for r in heldout],
                         ["a-008", "a-009", "b-008", "b-009", "c-008", "c-009"])
        # a: 10, 11 reach 8 s of conversation; 12, 13 reach 6 more s of enrolment
        # b: 10, 11, 12 reach 8 s (9 s); 13, 14 reach 6 more (15 s)
        # (in the order the voices are given)
        got = [(r["recording"], r["role"]) for r in conv]
        self.assertEqual(got, [("b-010", "conversation"), ("b-011", "conversation"),
                               ("b-012", "conversation"), ("b-013", "enrolment"),
                               ("b-014", "enrolment"),
                               ("a-010", "conversation"), ("a-011", "conversation"),
                               ("a-012", "enrolment"), ("a-013", "enrolment")])
        want_fit = (["a-%03d" % i for i in range(8)] + ["b-%03d" % i for i in range(8)] +
                    ["c-%03d" % i for i in list(range(8)) + [10, 11]])
        self.assertEqual([r["recording"] for r in fit], want_fit)

    def test_too_little_audio_is_refused(self):
        rows = corpus_rows({"a": [4.0] * 12, "b": [4.0] * 20})
        with self.assertRaises(ValueError):
            tvc.split(rows, ["a", "b"], half=8, enrol=6, train_below=12)


class BuildTest(unittest.TestCase):
    def test_conversation_reference_and_enrolment(self):
        rate = tvc.RATE
        with tempfile.TemporaryDirectory() as d:
            corpus, out = os.path.join(d, "corpus"), os.path.join(d, "out")
            os.makedirs(out)
            rows = []
            # each recording is a constant: 100 * voice + index, 1.5 s long
            for v, voice in enumerate(["a", "b"]):
                os.makedirs(os.path.join(corpus, "wav", voice))
                for i in (8, 9, 10, 11, 12, 13):
                    rec = "%s-%03d" % (voice, i)
                    path = "wav/%s/%s.wav" % (voice, rec)
                    tvc.write_pcm(os.path.join(corpus, path),
                                  np.full(int(1.5 * rate), 100 * v + i, np.int16))
                    role = "conversation" if i in (10, 11) else "enrolment"
                    rows.append({"speaker": voice, "recording": rec, "path": path,
                                 "seconds": "1.500", "role": role})
            cols = ["speaker", "recording", "path", "seconds", "role"]
            tvc.write_rows(os.path.join(corpus, "conversation.tsv"),
                           [r for r in rows if r["recording"][-3:] >= "010"], cols)
            tvc.write_rows(os.path.join(corpus, "heldout.tsv"),
                           [r for r in rows if r["recording"][-3:] < "010"], cols[:4])
            wav = os.path.join(d, "two.wav")
            tvc.build(corpus, out, wav, half=2, enrol=2.5)

            pcm = tvc.read_pcm(wav)
            want = np.concatenate([np.full(12000, 10), np.full(4000, 11),
                                   np.full(12000, 110), np.full(4000, 111)])
            np.testing.assert_array_equal(pcm, want)
            enrol_a = tvc.read_pcm(os.path.join(out, "a-enrol.wav"))
            np.testing.assert_array_equal(enrol_a, np.concatenate([np.full(12000, 12),
                                                                   np.full(8000, 13)]))
            with open(os.path.join(out, "two-voices.tsv"), newline="") as f:
                ref = [tuple(r.values()) for r in csv.DictReader(f, delimiter="\t")]
            self.assertEqual(ref, [("a", "0", "2"), ("b", "2", "4")])
            with open(os.path.join(out, "enrolment.tsv"), newline="") as f:
                enrol = [tuple(r.values()) for r in csv.DictReader(f, delimiter="\t")]
            self.assertEqual(enrol, [("a", "heldout/a-008.wav"), ("a", "heldout/a-009.wav"),
                                     ("a", "conversation/a-enrol.wav"),
                                     ("b", "heldout/b-008.wav"), ("b", "heldout/b-009.wav"),
                                     ("b", "conversation/b-enrol.wav")])


if __name__ == "__main__":
    unittest.main()
