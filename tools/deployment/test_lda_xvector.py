"""Checks of the LDA x-vector trainer on tiny synthetic data."""
import os
import struct
import sys
import tempfile
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lda_xvector as lx  # noqa: E402


def plain_frame_layer(x, w, b):
    """Plain loops: output t uses frames t-2..t+2; short inputs padded with edge frames."""
    x = [list(r) for r in x]
    if len(x) <= 4:
        x = [x[0]] * 2 + x + [x[-1]] * 2
    out = []
    for t in range(2, len(x) - 2):
        col = [v for o in range(-2, 3) for v in x[t + o]]
        out.append([max(0.0, sum(w[i][j] * col[j] for j in range(len(col))) + b[i])
                    for i in range(len(b))])
    return np.array(out)


class LdaXvectorTest(unittest.TestCase):
    def test_frame_layer_and_pooling_match_plain_loops(self):
        rng = np.random.default_rng(3)
        w, b = rng.normal(size=(4, 15)), rng.normal(size=4)
        for frames in (1, 3, 4, 5, 9):
            x = rng.normal(size=(frames, 3))
            h = lx.frame_outputs(x, w, b)
            ref = plain_frame_layer(x, w, b)
            np.testing.assert_allclose(h, ref, atol=1e-12)
            self.assertEqual(h.shape[0], frames if frames <= 4 else frames - 4)
            p = lx.pool(h)
            mean = [sum(r[i] for r in ref) / len(ref) for i in range(4)]
            sd = [max(sum((r[i] - mean[i]) ** 2 for r in ref) / len(ref), 1e-10) ** 0.5
                  for i in range(4)]
            np.testing.assert_allclose(p, mean + sd, atol=1e-9)

    def test_lda_embedding_separates_speakers(self):
        # speakers differ by a mean offset on the first feature only; the rest is noise
        rng = np.random.default_rng(5)
        feats, spk = [], []
        for s in range(6):
            for _ in range(6):
                x = rng.normal(size=(300, 8))
                x[:, 0] += 1.5 * s
                feats.append(x)
                spk.append("s%d" % s)
        net = lx.train(feats, spk, embedding_dim=6, hidden=32, chunk=100, log=lambda _: None)
        emb = np.array([lx.forward(f, net) for f in feats])
        labels = np.array(spk)
        within = np.mean([emb[labels == s].var(0).sum() for s in set(spk)])
        centres = np.array([emb[labels == s].mean(0) for s in sorted(set(spk))])
        self.assertGreater(centres.var(0).sum(), 20 * within)

    def test_targets_map_is_least_squares(self):
        rng = np.random.default_rng(7)
        z = rng.normal(size=(50, 3))
        c = rng.normal(size=(3, 2))
        y = 4.0 + z @ c
        coef, ybar = lx.map_to_targets(z, y, ridge=0.0)
        np.testing.assert_allclose(ybar + (z - z.mean(0)) @ coef, y, atol=1e-9)

    def test_within_map_gives_the_target_within_covariance(self):
        rng = np.random.default_rng(11)
        labels = np.repeat(np.arange(8), 30)
        z = rng.normal(size=(8, 4))[labels] + rng.normal(size=(240, 4)) @ rng.normal(size=(4, 4))
        a = rng.normal(size=(6, 6))
        within = a @ a.T
        m = lx.within_map(z, labels, within)
        self.assertEqual(m.shape, (4, 6))
        # within-speaker covariance of the mapped vectors, by plain loops
        y = z @ m
        cov = np.zeros((6, 6))
        for s in range(8):
            rows = y[labels == s]
            centre = rows.sum(0) / len(rows)
            for r in rows:
                cov += np.outer(r - centre, r - centre)
        cov /= len(y)
        # it must equal `within` restricted to its four leading eigendirections
        vals, vecs = np.linalg.eigh(within)
        lead = vecs[:, -4:]
        np.testing.assert_allclose(cov, lead @ np.diag(vals[-4:]) @ lead.T, atol=1e-6)

    def test_written_network_header(self):
        rng = np.random.default_rng(1)
        net = (rng.normal(size=(4, 15)), rng.normal(size=4), rng.normal(size=(2, 8)),
               rng.normal(size=2))
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "xe5.pb")
            lx.write_network(path, net, 3)
            with open(path, "rb") as f:
                data = f.read()
        self.assertEqual(data[:4], b"XE5N")
        version, length, in_dim, emb_dim, layers, _ = struct.unpack_from("<IQIIII", data, 4)
        self.assertEqual((version, length, in_dim, emb_dim, layers), (1, len(data), 3, 2, 3))


if __name__ == "__main__":
    unittest.main()
