import os
import subprocess
import sys
import tempfile
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import gmm_em  # noqa: E402
import htk_gmm  # noqa: E402
import synth_audio  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
MFCC_OPTIONS = os.path.join(HERE, "..", "..", "tests", "data", "random", "mfcc-options.json")


def sample_mixture(rng, weights, means, covs, n):
    comp = rng.choice(len(weights), size=n, p=weights)
    x = np.empty((n, means.shape[1]))
    for k in range(len(weights)):
        idx = comp == k
        x[idx] = rng.multivariate_normal(means[k], covs[k], size=idx.sum())
    return x


def direct_loglik(weights, means, covs, x):
    """Average log-likelihood by plain loops over frames and Gaussians."""
    total = 0.0
    for row in x:
        s = 0.0
        for w, m, c in zip(weights, means, covs):
            d = row - m
            s += w * np.exp(-0.5 * d @ np.linalg.solve(c, d)) / np.sqrt(
                np.linalg.det(2 * np.pi * c))
        total += np.log(s)
    return total / len(x)


class GmmEmTest(unittest.TestCase):
    def setUp(self):
        self.rng = np.random.default_rng(7)
        self.weights = np.array([0.5, 0.3, 0.2])
        self.means = np.array([[0.0, 0.0], [6.0, 1.0], [-2.0, 7.0]])
        self.diag = np.array([[1.0, 0.5], [0.3, 2.0], [1.5, 1.0]])
        self.x = sample_mixture(self.rng, self.weights, self.means,
                                np.stack([np.diag(v) for v in self.diag]), 6000)

    def test_loglik_matches_direct_computation(self):
        gmm = htk_gmm.Gmm(self.weights, self.means, variances=self.diag)
        xs = self.x[:200]
        want = direct_loglik(self.weights, self.means,
                             [np.diag(v) for v in self.diag], xs)
        self.assertAlmostEqual(gmm_em.average_loglik(gmm, xs), want, places=9)
        full = htk_gmm.Gmm(self.weights, self.means,
                           covariances=np.stack([np.diag(v) for v in self.diag]))
        self.assertAlmostEqual(gmm_em.average_loglik(full, xs), want, places=9)

    def test_em_never_decreases_likelihood(self):
        for full in (False, True):
            with self.subTest(full=full):
                start = htk_gmm.Gmm([0.4, 0.3, 0.3], [[1.0, 1.0], [2.0, 0.0], [0.0, 2.0]],
                                    variances=np.ones((3, 2)))
                if full:
                    start = htk_gmm.Gmm(start.weights, start.means,
                                        covariances=np.stack([np.eye(2)] * 3))
                gmm, prev = start, -np.inf
                floor = 1e-3 * np.ones(2)
                for _ in range(15):
                    gmm, ll = gmm_em.em_step(gmm, self.x, floor)
                    self.assertGreaterEqual(ll, prev - 1e-9)
                    prev = ll
                self.assertGreater(gmm_em.average_loglik(gmm, self.x), prev - 1e-9)

    def test_diagonal_training_with_splitting_recovers_mixture(self):
        hist = []
        gmm = gmm_em.train_diag(self.x, 3, iters_per_split=8, final_iters=30, quiet=True,
                                history=hist)
        self.assertEqual(gmm.num_gaussians, 3)
        order = [int(np.argmin(np.sum((gmm.means - m) ** 2, 1))) for m in self.means]
        self.assertEqual(sorted(order), [0, 1, 2])
        np.testing.assert_allclose(gmm.weights[order], self.weights, atol=0.03)
        np.testing.assert_allclose(gmm.means[order], self.means, atol=0.1)
        np.testing.assert_allclose(gmm.variances[order], self.diag, rtol=0.12)
        finals = [ll for c, ll in hist if c == 3]
        self.assertTrue(all(b >= a - 1e-9 for a, b in zip(finals, finals[1:])))

    def test_full_training_recovers_correlated_mixture(self):
        covs = np.array([[[1.0, 0.8], [0.8, 1.0]], [[2.0, -0.6], [-0.6, 0.5]]])
        means = np.array([[0.0, 0.0], [5.0, 5.0]])
        x = sample_mixture(self.rng, np.array([0.6, 0.4]), means, covs, 6000)
        diag = gmm_em.train_diag(x, 2, final_iters=10, quiet=True)
        gmm = gmm_em.train_full(x, diag, iters=20, quiet=True)
        order = [int(np.argmin(np.sum((gmm.means - m) ** 2, 1))) for m in means]
        np.testing.assert_allclose(gmm.weights[order], [0.6, 0.4], atol=0.03)
        np.testing.assert_allclose(gmm.covariances[order], covs, atol=0.12)

    def test_variance_floor_holds(self):
        x = np.concatenate([self.x, np.tile([[20.0, 20.0]], (50, 1))])
        gmm = gmm_em.train_diag(x, 4, quiet=True, var_floor_frac=0.05)
        self.assertTrue(np.all(gmm.variances >= 0.05 * x.var(0) - 1e-12))


class HtkTextTest(unittest.TestCase):
    def test_round_trip_and_gconst(self):
        rng = np.random.default_rng(3)
        diag = htk_gmm.Gmm([0.25, 0.75], rng.normal(size=(2, 3)),
                           variances=rng.uniform(0.5, 2, (2, 3)))
        a = rng.normal(size=(2, 3, 3))
        full = htk_gmm.Gmm([0.25, 0.75], diag.means,
                           covariances=a @ np.transpose(a, (0, 2, 1)) + np.eye(3))
        for gmm in (diag, full):
            with self.subTest(full=gmm.full), tempfile.TemporaryDirectory() as d:
                path = os.path.join(d, "g.htk")
                htk_gmm.write_htk(path, gmm, separator=True)
                with open(path) as fh:
                    text = fh.read()
                self.assertTrue(text.startswith("~o\n<StreamInfo> 1 3\n<VecSize> 3<NullD>"))
                self.assertTrue(text.endswith("<EndHMM>\n__KAVOR__SEPARATOR__"))
                self.assertEqual("<DiagC>" in text, not gmm.full)
                back = htk_gmm.read_htk_text(path)
                np.testing.assert_allclose(back.weights, gmm.weights, rtol=1e-15)
                np.testing.assert_allclose(back.means, gmm.means, rtol=1e-15)
                for c in range(2):
                    np.testing.assert_allclose(back.covariance(c), gmm.covariance(c),
                                               rtol=1e-10)
                    # GConst = n ln 2π + ln det Σ.
                    g = float(text.split("<GConst>")[c + 1].split()[0])
                    want = 3 * np.log(2 * np.pi) + np.log(np.linalg.det(gmm.covariance(c)))
                    self.assertAlmostEqual(g, want, places=9)


def engine_stats(sel, post, x, gselect, floor):
    """The engine's per-frame rule, written out plainly: the selection GMM's
    best `gselect` Gaussians, their posteriors under the posterior GMM,
    those below the floor dropped, the rest renormalised."""
    c, f = post.num_gaussians, post.dim
    zeroth = np.zeros(c)
    first = np.zeros((c, f))
    for row in x.astype(np.float64):
        ll = gmm_em.frame_loglik(sel, row[None, :])[0]
        top = np.argsort(-ll, kind="stable")[:gselect]
        lp = gmm_em.frame_loglik(post, row[None, :])[0][top]
        p = np.exp(lp - lp.max())
        p /= p.sum()
        order = np.argsort(-p, kind="stable")
        keep = []
        for k in order:
            if p[k] < floor:
                break
            keep.append(k)
        kept = p[keep] / p[keep].sum()
        for k, g in zip(keep, kept):
            zeroth[top[k]] += g
            first[top[k]] += g * row
    return zeroth, first


@unittest.skipUnless(os.environ.get("JOR_EXPORT"), "JOR_EXPORT names the jor-export binary")
class EngineLoadsGmmTest(unittest.TestCase):
    def test_engine_statistics_of_trained_gmms(self):
        exe = os.environ["JOR_EXPORT"]
        with tempfile.TemporaryDirectory() as d:
            synth_audio.work_in(self, d)
            wavs = []
            for v in range(3):
                p = os.path.join(d, "v%d.wav" % v)
                synth_audio.write_wav(p, synth_audio.voice_signal(v, 2.0, v))
                wavs.append(p)
            out = os.path.join(d, "out")
            os.mkdir(out)
            subprocess.run([exe, "--quiet", "--mfcc-options", MFCC_OPTIONS, "--out", out] + wavs,
                           check=True)
            x = np.concatenate([np.load(os.path.join(out, "v%d.feats.npy" % v))
                                for v in range(3)])
            self.assertEqual(x.shape[1], 40)
            sel = gmm_em.train_diag(x, 8, iters_per_split=2, final_iters=3, quiet=True)
            post = gmm_em.train_full(x, sel, iters=2, quiet=True)
            for name, gmm in (("sel.htk", sel), ("post.htk", post)):
                htk_gmm.write_htk(os.path.join(d, name), gmm, separator=True)
            subprocess.run([exe, "--quiet", "--mfcc-options", MFCC_OPTIONS, "--out", out,
                            "--gselect", "4", "--min-posterior", "0.025", "--selection-gmm",
                            os.path.join(d, "sel.htk"), "--posterior-gmm",
                            os.path.join(d, "post.htk")] + wavs, check=True)
            for v in range(3):
                feats = np.load(os.path.join(out, "v%d.feats.npy" % v))
                z = np.load(os.path.join(out, "v%d.zeroth.npy" % v))
                f = np.load(os.path.join(out, "v%d.first.npy" % v))
                self.assertEqual(z.shape, (8,))
                self.assertEqual(f.shape, (8, 40))
                wz, wf = engine_stats(sel, post, feats, 4, 0.025)
                self.assertAlmostEqual(float(z.sum()), feats.shape[0], places=2)
                # The engine works in float: sums agree to float rounding.
                np.testing.assert_allclose(z, wz, atol=1e-3)
                np.testing.assert_allclose(f, wf, atol=1e-6 * np.abs(wf).max() + 1e-3)


if __name__ == "__main__":
    unittest.main()
