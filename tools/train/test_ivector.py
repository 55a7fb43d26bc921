import os
import struct
import subprocess
import sys
import tempfile
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import gmm_em  # noqa: E402
import htk_gmm  # noqa: E402
import ivector_tv  # noqa: E402
import synth_audio  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
MFCC_OPTIONS = os.path.join(HERE, "..", "..", "tests", "data", "random", "mfcc-options.json")


def synthetic_stats(rng, model, num_utts, frames=80):
    """Statistics of frames drawn from the model itself: per utterance a
    latent w ~ N(mu0, I), frames from the GMM with means T_c w."""
    c, f = model.num_gaussians, model.feature_dim
    zs = np.zeros((num_utts, c))
    fs = np.zeros((num_utts, c, f))
    for u in range(num_utts):
        w = rng.standard_normal(model.ivector_dim)
        w[0] += model.prior_offset
        comp = rng.integers(0, c, frames)
        for k in range(c):
            n = int(np.sum(comp == k))
            if n == 0:
                continue
            x = rng.multivariate_normal(model.t[k] @ w, model.sigma[k], size=n)
            zs[u, k] = n
            fs[u, k] = x.sum(0)
    return zs, fs


def direct_ivector(t, sigma, offset, zeroth, first):
    """The posterior mean by plain loops, minus the offset in dimension 0."""
    c, f, r = t.shape
    prec = np.eye(r)
    lin = np.zeros(r)
    lin[0] = offset
    for k in range(c):
        sinv = np.linalg.inv(sigma[k])
        for i in range(r):
            for j in range(r):
                prec[i, j] += zeroth[k] * t[k][:, i] @ sinv @ t[k][:, j]
            lin[i] += t[k][:, i] @ sinv @ first[k]
    w = np.linalg.solve(prec, lin)
    w[0] -= offset
    return w


def small_model(rng, c=4, f=3, r=3, offset=100.0):
    a = rng.normal(size=(c, f, f)) * 0.3
    sigma = a @ np.transpose(a, (0, 2, 1)) + np.eye(f)
    t = rng.normal(size=(c, f, r))
    t[:, :, 0] = rng.normal(size=(c, f)) * 3.0 / offset
    return ivector_tv.IvectorModel(t, sigma, offset)


class IvectorTest(unittest.TestCase):
    def test_extraction_matches_direct_formula(self):
        rng = np.random.default_rng(1)
        model = small_model(rng)
        zs, fs = synthetic_stats(rng, model, 3)
        got = model.extract(zs, fs)
        for u in range(3):
            want = direct_ivector(model.t, model.sigma, model.prior_offset, zs[u], fs[u])
            np.testing.assert_allclose(got[u], want, rtol=1e-9, atol=1e-9)

    def test_zero_occupation_gives_zero_ivector(self):
        model = small_model(np.random.default_rng(2))
        got = model.extract(np.zeros((1, 4)), np.zeros((1, 4, 3)))
        np.testing.assert_allclose(got, 0.0, atol=1e-12)

    def test_em_increases_objective_and_approaches_true_model(self):
        rng = np.random.default_rng(5)
        truth = small_model(rng, c=4, f=3, r=2)
        zs, fs = synthetic_stats(rng, truth, 150)
        gmm = htk_gmm.Gmm(np.full(4, 0.25), truth.t[:, :, 0] * truth.prior_offset,
                          covariances=truth.sigma)
        model = ivector_tv.init_from_gmm(gmm, 2, truth.prior_offset, seed=3)
        hist = []
        trained = ivector_tv.train(model, zs, fs, iters=12, quiet=True, history=hist)
        for a, b in zip(hist, hist[1:]):
            self.assertGreaterEqual(b, a - 1e-7 * abs(a))
        self.assertGreater(hist[-1], hist[0])
        # The trained model explains the data about as well as the true one.
        self.assertGreater(trained.objective(zs, fs), truth.objective(zs, fs) - 1.0)

    def test_objective_is_marginal_loglik_up_to_t_free_terms(self):
        # Hard-aligned frames x_t of Gaussian c_t: stacked, they are Gaussian
        # with mean M mu0 and covariance M Mᵀ + blockdiag(Σ_c), M the
        # stacked T_c. Minus the terms that do not involve T, that is the
        # objective.
        rng = np.random.default_rng(9)
        model = small_model(rng, c=3, f=2, r=2, offset=10.0)
        comps = [0, 1, 1, 2, 0, 2, 2]
        x = rng.normal(size=(len(comps), 2)) * 2.0
        m = np.concatenate([model.t[c] for c in comps])
        s = np.zeros((2 * len(comps), 2 * len(comps)))
        free = 0.0
        for i, c in enumerate(comps):
            s[2 * i:2 * i + 2, 2 * i:2 * i + 2] = model.sigma[c]
            free += (-np.log(2 * np.pi) - 0.5 * np.log(np.linalg.det(model.sigma[c]))
                     - 0.5 * x[i] @ np.linalg.solve(model.sigma[c], x[i]))
        cov = m @ m.T + s
        d = x.reshape(-1) - m @ model.mu0()
        logp = (-0.5 * len(d) * np.log(2 * np.pi) - 0.5 * np.log(np.linalg.det(cov))
                - 0.5 * d @ np.linalg.solve(cov, d))
        z = np.zeros((1, 3))
        f = np.zeros((1, 3, 2))
        for i, c in enumerate(comps):
            z[0, c] += 1
            f[0, c] += x[i]
        self.assertAlmostEqual(model.objective(z, f), logp - free, places=8)

    def test_section_layout(self):
        rng = np.random.default_rng(4)
        model = small_model(rng, c=2, f=3, r=2, offset=50.0)
        for e in (4, 8):
            with self.subTest(elem_size=e):
                data = ivector_tv.section_bytes(model, e)
                self.assertEqual(len(data), 48 + e * (1 + 2 * 3 * 2 + 2 * 6))
                self.assertEqual(struct.unpack_from("<4i", data, 32), (e, 2, 3, 2))
                fmt = "<f" if e == 4 else "<d"
                self.assertEqual(struct.unpack_from(fmt, data, 48)[0], 50.0)
                # T of Gaussian 1, row 2, column 1.
                pos = 48 + e + e * (1 * 3 * 2 + 2 * 2 + 1)
                self.assertAlmostEqual(struct.unpack_from(fmt, data, pos)[0], model.t[1, 2, 1],
                                       places=5)
                # Lower triangle of Σ⁻¹ of Gaussian 1: row 2, column 0.
                pos = 48 + e + e * (2 * 3 * 2 + 6 + 3)
                inv = np.linalg.inv(model.sigma[1])
                self.assertAlmostEqual(struct.unpack_from(fmt, data, pos)[0], inv[2, 0],
                                       places=5)
                with tempfile.TemporaryDirectory() as d:
                    p = os.path.join(d, "ext.bin")
                    ivector_tv.write_section(p, model, e)
                    back = ivector_tv.read_section(p)
                    np.testing.assert_allclose(back.t, model.t, rtol=1e-6)
                    np.testing.assert_allclose(back.sigma, model.sigma, rtol=1e-5)


@unittest.skipUnless(os.environ.get("JOR_EXPORT"), "JOR_EXPORT names the jor-export binary")
class EngineIvectorTest(unittest.TestCase):
    def test_python_extraction_equals_engine(self):
        exe = os.environ["JOR_EXPORT"]
        with tempfile.TemporaryDirectory() as d:
            synth_audio.work_in(self, d)
            wavs = []
            for v in range(4):
                for k in range(2):
                    p = os.path.join(d, "v%d_%d.wav" % (v, k))
                    synth_audio.write_wav(p, synth_audio.voice_signal(v, 1.5, 10 * v + k))
                    wavs.append(p)
            out = os.path.join(d, "out")
            os.mkdir(out)
            base = [exe, "--quiet", "--mfcc-options", MFCC_OPTIONS, "--out", out]
            subprocess.run(base + wavs, check=True)
            x = np.concatenate([np.load(os.path.join(out, os.path.basename(w)[:-4] +
                                                     ".feats.npy")) for w in wavs])
            gmm = gmm_em.train_diag(x, 8, iters_per_split=2, final_iters=3, quiet=True)
            gpath = os.path.join(d, "ubm.htk")
            htk_gmm.write_htk(gpath, gmm, separator=True)
            gmms = ["--gselect", "4", "--selection-gmm", gpath, "--posterior-gmm", gpath]
            subprocess.run(base + gmms + wavs, check=True)
            stats = os.path.join(d, "ext.bin")
            for e in (4, 8):
                with self.subTest(elem_size=e):
                    cmd = [sys.executable, os.path.join(HERE, "train_ivector.py"), out,
                           "--gmm", gpath, "--out", stats, "--ivector-dim", "6", "--iters", "3",
                           "--quiet"] + (["--double"] if e == 8 else [])
                    subprocess.run(cmd, check=True)
                    subprocess.run(base + gmms + ["--extractor", stats, "--ivectors"] + wavs,
                                   check=True)
                    model = ivector_tv.read_section(stats)
                    for w in wavs:
                        rid = os.path.join(out, os.path.basename(w)[:-4])
                        z = np.load(rid + ".zeroth.npy")
                        f = np.load(rid + ".first.npy")
                        engine = np.load(rid + ".ivector.npy")
                        mine = model.extract(z[None, :], f[None, :, :])[0]
                        self.assertEqual(engine.shape, (6,))
                        # Float model and arithmetic in the engine for E=4.
                        tol = 5e-4 if e == 4 else 1e-6
                        np.testing.assert_allclose(engine, mine,
                                                   atol=tol * (1 + np.abs(mine).max()))


if __name__ == "__main__":
    unittest.main()
