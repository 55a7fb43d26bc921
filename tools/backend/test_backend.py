import os
import struct
import sys
import tempfile
import unittest

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "eval"))
import assemble_deployment  # noqa: E402
import pellam_binding  # noqa: E402
import plda  # noqa: E402
import sections  # noqa: E402
import train_backend  # noqa: E402

REPO = os.path.dirname(os.path.dirname(HERE))


def random_spd(rng, d, scale=1.0):
    m = rng.normal(size=(d, d))
    return scale * (m @ m.T / d + 0.3 * np.eye(d))


def gaussian_logpdf(x, mean, cov):
    diff = x - mean
    sign, logdet = np.linalg.slogdet(cov)
    assert sign > 0
    return -0.5 * (len(x) * np.log(2 * np.pi) + logdet + diff @ np.linalg.solve(cov, diff))


def direct_llr(model, x, y):
    """log N([x; y] | same speaker) - log N(x) - log N(y), full 2D x 2D Gaussians."""
    total = model.between + model.within
    same = np.block([[total, model.between], [model.between, total]])
    mu2 = np.concatenate([model.mean, model.mean])
    return (gaussian_logpdf(np.concatenate([x, y]), mu2, same)
            - gaussian_logpdf(x, model.mean, total) - gaussian_logpdf(y, model.mean, total))


def sample(rng, model, speakers, per_speaker):
    d = len(model.mean)
    lb = np.linalg.cholesky(model.between)
    lw = np.linalg.cholesky(model.within)
    xs, labels = [], []
    for s in range(speakers):
        n = per_speaker if np.isscalar(per_speaker) else per_speaker[s]
        y = model.mean + lb @ rng.normal(size=d)
        xs.append(y + rng.normal(size=(n, d)) @ lw.T)
        labels += ["spk%03d" % s] * n
    return np.concatenate(xs), labels


class SectionBytesTest(unittest.TestCase):
    def test_layouts(self):
        mv = sections.mean_variance_section([1.0, -2.0], [0.5, 4.0])
        self.assertEqual(struct.unpack_from("<IQ", mv, 0), (4, 20))
        self.assertEqual(mv[12:32], b"\0" * 20)
        self.assertEqual(struct.unpack_from("<i4f", mv, 32), (2, 1.0, -2.0, 0.5, 4.0))
        self.assertEqual(len(mv), 32 + 4 + 16)

        wh = sections.whitening_section([[1.0, 2.0], [3.0, 4.0]], [0.25, 9.0])
        self.assertEqual(struct.unpack_from("<IQ", wh, 0), (5, 4 + 48))
        self.assertEqual(struct.unpack_from("<i6d", wh, 32), (2, 1.0, 2.0, 3.0, 4.0, 0.25, 9.0))

        model = {"cross": [[1.0]], "cross_eigen": [2.0], "self": [[1.0]], "self_eigen": [-1.0],
                 "linear": [0.5], "constant": 0.25}
        for size, fmt in ((4, "<ii6f"), (8, "<ii6d")):
            sp = sections.splda_section(model, size)
            self.assertEqual(struct.unpack_from("<I", sp, 0)[0], 3)
            self.assertEqual(len(sp), 32 + 8 + 6 * size)
            self.assertEqual(struct.unpack_from(fmt, sp, 32), (size, 1, 1.0, 2.0, 1.0, -1.0, 0.5, 0.25))
        back = sections.read_splda(sections.splda_section(model, 8))
        self.assertEqual(back["constant"], 0.25)

    def test_bad_shapes_refused(self):
        with self.assertRaises(ValueError):
            sections.mean_variance_section([1.0, 2.0], [1.0])
        with self.assertRaises(ValueError):
            sections.whitening_section(np.eye(2), [1.0, 0.0])
        with self.assertRaises(ValueError):
            sections.build_container([(0, b"")] * 5)

    def test_container_directory(self):
        parts = [(5, b"W" * 3), (4, b"M" * 5), (3, b"S"), (2, b"I" * 2), (1, b"post"),
                 (0, sections.htk_text_section("sel"))]
        data = sections.build_container(parts)
        self.assertEqual((data[0], data[3]), (1, 6))
        offset = 76
        for i, (t, b) in enumerate(parts):
            self.assertEqual(struct.unpack_from("<iII", data, 4 + 12 * i), (offset, len(b), t))
            self.assertEqual(data[offset:offset + len(b)], b)
            offset += len(b)
        self.assertEqual(len(data), offset)
        self.assertTrue(data.endswith(b"sel__KAVOR__SEPARATOR__"))
        self.assertEqual(sections.htk_text_section(b"x__KAVOR__SEPARATOR__"), b"x__KAVOR__SEPARATOR__")
        back = sections.read_container(data)
        self.assertEqual(back[4], b"M" * 5)
        self.assertEqual(back[0], b"sel__KAVOR__SEPARATOR__")


class PldaTest(unittest.TestCase):
    def test_splda_equals_two_covariance_llr(self):
        rng = np.random.default_rng(3)
        for d in (1, 4, 7):
            model = plda.TwoCovariancePlda(rng.normal(size=d), random_spd(rng, d, 2.0),
                                           random_spd(rng, d, 0.5))
            params = plda.derive_splda(model)
            self.assertTrue(np.all(params["cross_eigen"] >= 0))
            self.assertTrue(np.all(params["self_eigen"] <= 0))
            for _ in range(5):
                x, y = rng.normal(size=d) * 2, rng.normal(size=d) * 2
                want = direct_llr(model, x, y)
                # score written out with plain loops over the stored parameters
                a, b = params["cross"], params["self"]
                got = params["constant"]
                for i in range(d):
                    ax = sum(x[j] * a[j][i] for j in range(d))
                    ay = sum(y[j] * a[j][i] for j in range(d))
                    bx = sum(x[j] * b[j][i] for j in range(d))
                    by = sum(y[j] * b[j][i] for j in range(d))
                    got += (params["linear"][i] * (x[i] + y[i]) + 2 * params["cross_eigen"][i] * ax * ay
                            + params["self_eigen"][i] * (bx * bx + by * by))
                self.assertAlmostEqual(got, want, delta=1e-9 * max(1.0, abs(want)))
                self.assertAlmostEqual(plda.splda_score(params, x, y), want,
                                       delta=1e-9 * max(1.0, abs(want)))

    def test_pair_scores_and_calibration_fold(self):
        """Batch pair scores and the folded affine map, against the direct LLR."""
        rng = np.random.default_rng(11)
        d = 5
        model = plda.TwoCovariancePlda(rng.normal(size=d), random_spd(rng, d, 2.0),
                                       random_spd(rng, d, 0.5))
        params = plda.derive_splda(model)
        x = rng.normal(size=(6, d)) * 2
        pairs = np.array([[0, 1], [2, 2], [5, 3], [4, 0]])
        want = np.array([direct_llr(model, x[i], x[j]) for i, j in pairs])
        np.testing.assert_allclose(plda.splda_pair_scores(params, x, pairs), want, rtol=1e-9,
                                   atol=1e-9)
        folded = plda.calibrate_splda(params, 0.25, -3.0)
        for (i, j), llr in zip(pairs, want):
            self.assertAlmostEqual(plda.splda_score(folded, x[i], x[j]), 0.25 * llr - 3.0,
                                   delta=1e-9 * max(1.0, abs(llr)))
        for alpha in (0.0, -1.0, float("nan")):
            with self.assertRaises(ValueError):
                plda.calibrate_splda(params, alpha, 0.0)

    def test_calibration_recovers_gaussian_llr(self):
        """Scores N(m1, s^2) for targets and N(m0, s^2) for non-targets have the
        log-likelihood ratio ((m1 - m0) x - (m1^2 - m0^2) / 2) / s^2."""
        rng = np.random.default_rng(2)
        for m1, m0, sd in ((20.0, -30.0, 15.0), (5.0, 1.0, 2.0)):
            t = rng.normal(m1, sd, 40000)
            n = rng.normal(m0, sd, 200000)  # unequal counts: each class still weighs half
            alpha, beta = plda.fit_calibration(t, n)
            self.assertAlmostEqual(alpha, (m1 - m0) / sd ** 2, delta=0.03 * (m1 - m0) / sd ** 2)
            want_beta = -(m1 ** 2 - m0 ** 2) / (2 * sd ** 2)
            self.assertAlmostEqual(beta, want_beta, delta=0.05 * max(1.0, abs(want_beta)))
        # separable classes stay finite
        alpha, beta = plda.fit_calibration([10.0, 11.0], [-10.0, -11.0])
        self.assertTrue(np.isfinite(alpha) and alpha > 0 and np.isfinite(beta))

    def test_transform_products_give_the_score(self):
        rng = np.random.default_rng(5)
        d = 6
        model = plda.TwoCovariancePlda(0.1 * rng.normal(size=d), random_spd(rng, d), random_spd(rng, d))
        params = plda.derive_splda(model)
        x, y = rng.normal(size=d), rng.normal(size=d)
        p = plda.splda_transform(params, x).astype(np.float64)
        q = plda.splda_transform(params, y).astype(np.float64)
        score = params["constant"] + p[2 * d] + q[2 * d] + np.sum(p[:d] * q[:d] - p[d:2 * d] ** 2
                                                                   - q[d:2 * d] ** 2)
        self.assertAlmostEqual(score, direct_llr(model, x, y), delta=1e-3)

    def test_log_likelihood_matches_stacked_gaussian(self):
        rng = np.random.default_rng(7)
        d = 3
        model = plda.TwoCovariancePlda(rng.normal(size=d), random_spd(rng, d), random_spd(rng, d))
        x, labels = sample(rng, model, 3, [1, 2, 4])
        want = 0.0
        for s in sorted(set(labels)):
            xs = x[[i for i, lab in enumerate(labels) if lab == s]]
            n = len(xs)
            cov = np.kron(np.eye(n), model.within) + np.kron(np.ones((n, n)), model.between)
            want += gaussian_logpdf(xs.ravel(), np.tile(model.mean, n), cov)
        self.assertAlmostEqual(plda.log_likelihood(model, x, labels), want, places=8)

    def test_em_increases_likelihood_and_recovers_model(self):
        rng = np.random.default_rng(11)
        truth = plda.TwoCovariancePlda(np.array([1.0, -1.0, 0.5]),
                                       np.diag([4.0, 2.0, 1.0]) + 0.5, np.diag([0.5, 1.0, 0.3]))
        x, labels = sample(rng, truth, 300, rng.integers(2, 8, size=300))
        history = []
        model = plda.train_plda(x, labels, iterations=8, ridge=0.0,
                                log=lambda it, ll: history.append(ll))
        self.assertEqual(len(history), 9)
        for before, after in zip(history, history[1:]):
            self.assertGreaterEqual(after, before - 1e-7 * abs(before))
        self.assertGreater(history[-1], history[0])
        np.testing.assert_allclose(model.within, truth.within, atol=0.08)
        np.testing.assert_allclose(model.between, truth.between, atol=0.8)
        np.testing.assert_allclose(model.mean, truth.mean, atol=0.3)


class NormalisationTest(unittest.TestCase):
    def test_whitening_gives_identity_covariance(self):
        rng = np.random.default_rng(2)
        mix = rng.normal(size=(4, 4))
        x = rng.normal(size=(2000, 4)) @ mix + 3.0
        mean, scale = plda.train_mean_variance(x)
        f = plda.apply_mean_variance(x, mean, scale).astype(np.float64)
        np.testing.assert_allclose(f.mean(axis=0), 0, atol=1e-5)
        np.testing.assert_allclose(f.std(axis=0), 1, atol=1e-4)
        basis, lam = plda.train_whitening(f)
        # the engine's whitening: W[i][j] = E[i][j] / sqrt(lambda_j), out = W^T in
        w = np.array([[basis[i][j] / np.sqrt(lam[j]) for j in range(4)] for i in range(4)])
        white = f @ w
        np.testing.assert_allclose(np.cov(white.T, bias=True), np.eye(4), atol=1e-6)
        z = plda.engine_normalize(x, mean, scale, basis, lam)
        np.testing.assert_allclose(np.linalg.norm(z.astype(np.float64), axis=1), 1, atol=1e-6)

    def test_length_normalize_matches_worked_example(self):
        out = plda.length_normalize(np.array([[3.0, 4.0]]))
        np.testing.assert_array_equal(out, [[3.0 * float(np.float32(0.2)), 4.0 * float(np.float32(0.2))]])

    def test_train_two_kinds(self):
        rng = np.random.default_rng(4)
        d = 5
        truth = plda.TwoCovariancePlda(np.zeros(d), np.eye(d) * 3, np.eye(d))
        iv, iv_labels = sample(rng, truth, 20, 4)
        xv, xv_labels = sample(rng, truth, 20, 4)
        logs = []
        out = train_backend.train([(iv, iv_labels), (xv * 10 + 5, xv_labels)], iterations=3,
                                  log=logs.append)
        self.assertEqual(set(out["sections"]), {3, 4, 5})
        self.assertTrue(any("PLDA EM 3/3" in line for line in logs))
        mean, scale = sections.read_mean_variance(out["sections"][4])
        # each kind weighs the same: the mean sits half way between the two kinds' means
        np.testing.assert_allclose(mean, (iv.mean(0) + (xv * 10 + 5).mean(0)) / 2, rtol=1e-5)


def library_and_models():
    lib = pellam_binding.find_library()
    models = os.environ.get("JOR_RANDOM_MODELS", os.path.join(REPO, "tests", "data", "random"))
    if lib is None or not os.path.exists(os.path.join(models, "ulxmodel.dat")):
        return None, None
    return lib, models


class LoadSetTest(unittest.TestCase):
    def test_folder_and_pair_sets(self):
        with tempfile.TemporaryDirectory() as tmp:
            with open(os.path.join(tmp, "m.tsv"), "w") as f:
                f.write("speaker\trecording\tpath\nA\tr1\tx\nB\tr2\tx\nB\tr3\tx\n")
            vec = os.path.join(tmp, "vec")
            os.makedirs(vec)
            np.save(os.path.join(vec, "r1.ivector.npy"), np.float32([1, 2]))
            np.save(os.path.join(vec, "r3.ivector.npy"), np.float32([3, 4]))
            x, labels = train_backend.load_set(vec, train_backend.read_speakers(os.path.join(tmp, "m.tsv")))
            np.testing.assert_array_equal(x, [[1, 2], [3, 4]])
            self.assertEqual(labels, ["A", "B"])
            np.save(os.path.join(tmp, "v.npy"), np.zeros((2, 3)))
            with open(os.path.join(tmp, "l.txt"), "w") as f:
                f.write("a\nb\n")
            x, labels = train_backend.load_set(os.path.join(tmp, "v.npy") + ":" + os.path.join(tmp, "l.txt"))
            self.assertEqual((x.shape, labels), ((2, 3), ["a", "b"]))
            with self.assertRaises(ValueError):
                train_backend.load_set(vec)


class DeploymentTest(unittest.TestCase):
    """Engine initialisation and scores through libPellam on an assembled deployment."""

    def test_engine_scores_equal_the_llr(self):
        lib, models = library_and_models()
        if lib is None:
            self.skipTest("libPellam.so or tests/data/random missing")
        rng = np.random.default_rng(21)
        d = 512
        truth = plda.TwoCovariancePlda(np.zeros(d), np.eye(d) * 2.0, np.eye(d))
        xs, labels = sample(rng, truth, 60, 3)
        trained = train_backend.train([(xs, labels)], iterations=2, log=lambda s: None)
        with tempfile.TemporaryDirectory() as tmp:
            for role, t in (("mean_variance", 4), ("whitening", 5), ("splda", 3)):
                with open(os.path.join(tmp, role + ".sec"), "wb") as f:
                    f.write(trained["sections"][t])
            out = os.path.join(tmp, "deploy")
            rc = assemble_deployment.main([
                out, "--from-container", os.path.join(models, "ulxmodel.dat"),
                "--xe5", os.path.join(models, "xe5.pb"),
                "--mfcc-options", os.path.join(models, "mfcc-options.json"),
                "--splda", os.path.join(tmp, "splda.sec"),
                "--mean-variance", os.path.join(tmp, "mean_variance.sec"),
                "--whitening", os.path.join(tmp, "whitening.sec"),
                "--log-level", "0", "--log-file", os.path.join(tmp, "ULXSdk.log")])
            self.assertEqual(rc, 0)
            self.assertEqual(sorted(os.listdir(out)),
                             ["log-options.json", "mfcc-options.json", "ulxmodel.dat", "xe5.pb"])
            with pellam_binding.Pellam(out, lib) as engine:
                self.assertEqual(engine.template_bytes, 256 + 4 * (2 * d + 1))
                params = sections.read_splda(trained["sections"][3])
                z = plda.engine_normalize(xs[:6], trained["mean"], trained["scale"],
                                          trained["basis"], trained["variances"])
                templates = [pellam_binding.build_template(plda.splda_transform(params, v)) for v in z]
                for i, j in ((0, 1), (0, 3), (2, 5), (4, 4)):
                    llr = direct_llr(trained["plda"], z[i].astype(np.float64), z[j].astype(np.float64))
                    want = min(100.0, max(0.0, 0.4 * llr + 60.0))
                    self.assertAlmostEqual(engine.compare(templates[i], templates[j]), want, delta=0.02)
                # the engine's own templates pass through the trained back-end
                t = np.arange(8000 * 4) / 8000.0
                pcm = (3000 * np.sin(2 * np.pi * 220 * t * (1 + 0.1 * np.sin(3 * t)))
                       * (0.6 + 0.4 * np.sin(2 * np.pi * 2 * t)) + rng.normal(0, 300, t.size))
                xv, _ = engine.xvector_template(pcm.astype(np.int16))
                iv, _ = engine.ivector_template(pcm.astype(np.int16))
                self.assertEqual(len(xv), engine.template_bytes)
                self.assertTrue(0.0 <= engine.compare(xv, iv) <= 100.0)


if __name__ == "__main__":
    unittest.main()
