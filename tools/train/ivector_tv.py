"""Total-variability model (i-vector extractor) with a prior offset on the
first latent dimension, trained by EM on Baum-Welch statistics.

Model: the supervector of an utterance is m_c(w) = T_c w with
w ~ N(mu0, I), mu0 = (prior_offset, 0, ..., 0); so the UBM means are
T_c[:, 0] * prior_offset. The covariances Σ_c stay those of the posterior GMM
(the exported statistics have no second order). Given zeroth counts N_c and
uncentred first-order sums f_c:
  precision P = I + Σ_c N_c T_cᵀ Σ_c⁻¹ T_c
  linear    b = mu0 + Σ_c T_cᵀ Σ_c⁻¹ f_c
  posterior mean w̄ = P⁻¹ b; the engine's i-vector is w̄ - mu0.
The EM objective logged per iteration is the marginal log-likelihood of the
statistics that depends on T: Σ_u ½ bᵀP⁻¹b - ½ log|P| - ½ mu0ᵀmu0 (per
utterance average), which EM never decreases.
"""

import struct
import sys

import numpy as np


def _log(msg, quiet):
    if not quiet:
        print(msg, file=sys.stderr, flush=True)


class IvectorModel:
    def __init__(self, t, sigma, prior_offset):
        self.t = np.asarray(t, dtype=np.float64)            # (C, F, R)
        self.sigma = np.asarray(sigma, dtype=np.float64)    # (C, F, F)
        self.prior_offset = float(prior_offset)
        self._prepare()

    @property
    def num_gaussians(self):
        return self.t.shape[0]

    @property
    def feature_dim(self):
        return self.t.shape[1]

    @property
    def ivector_dim(self):
        return self.t.shape[2]

    def _prepare(self):
        self.sigma_inv = np.linalg.inv(self.sigma)
        self.sigma_inv = 0.5 * (self.sigma_inv + np.transpose(self.sigma_inv, (0, 2, 1)))
        self.sigma_inv_t = self.sigma_inv @ self.t                       # (C, F, R)
        r = self.ivector_dim
        self._tri = np.tril_indices(r)
        quad = np.matmul(np.transpose(self.t, (0, 2, 1)), self.sigma_inv_t)
        self.quad_packed = quad[:, self._tri[0], self._tri[1]]          # (C, R(R+1)/2)

    def mu0(self):
        m = np.zeros(self.ivector_dim)
        m[0] = self.prior_offset
        return m

    def posteriors(self, zeroth, first):
        """For a batch (U, C) and (U, C, F): posterior means (U, R),
        covariances (U, R, R) and the per-utterance objective (U,)."""
        u, r = zeroth.shape[0], self.ivector_dim
        lin = first.reshape(u, -1) @ self.sigma_inv_t.reshape(-1, r) + self.mu0()
        packed = zeroth @ self.quad_packed
        p = np.zeros((u, r, r))
        p[:, self._tri[0], self._tri[1]] = packed
        p[:, self._tri[1], self._tri[0]] = packed
        p += np.eye(r)
        chol = np.linalg.cholesky(p)
        covs = np.linalg.inv(p)
        means = np.matmul(covs, lin[:, :, None])[:, :, 0]
        logdet = 2.0 * np.sum(np.log(np.diagonal(chol, axis1=1, axis2=2)), 1)
        obj = (0.5 * np.sum(lin * means, 1) - 0.5 * logdet - 0.5 * self.prior_offset ** 2)
        return means, covs, obj

    def extract(self, zeroth, first):
        """Engine convention: posterior mean minus the prior offset in dim 0."""
        zeroth = np.atleast_2d(np.asarray(zeroth, np.float64))
        first = np.asarray(first, np.float64).reshape(zeroth.shape[0], self.num_gaussians, -1)
        means, _, _ = self.posteriors(zeroth, first)
        means[:, 0] -= self.prior_offset
        return means

    def objective(self, zeroth, first, batch=None):
        batch = batch or _batch_size(self.ivector_dim)
        total = 0.0
        for s in range(0, zeroth.shape[0], batch):
            total += float(np.sum(self.posteriors(zeroth[s:s + batch], first[s:s + batch])[2]))
        return total / zeroth.shape[0]


def init_from_gmm(gmm, ivector_dim, prior_offset=100.0, seed=0, scale=1.0):
    """T_c[:, 0] = mean_c / offset (the UBM is the prior mean's supervector);
    the other columns random, scaled by the Gaussian's standard deviations."""
    rng = np.random.default_rng(seed)
    c, f = gmm.num_gaussians, gmm.dim
    sigma = np.stack([gmm.covariance(k) for k in range(c)])
    sd = np.sqrt(np.stack([np.diag(s) for s in sigma]))
    t = rng.standard_normal((c, f, ivector_dim)) * (scale * sd[:, :, None])
    t[:, :, 0] = gmm.means / prior_offset
    return IvectorModel(t, sigma, prior_offset)


def _batch_size(r):
    # Per batch the posterior covariances and second moments take 2·B·R²
    # doubles; keep that near 400 MB.
    return int(max(1, min(256, 2.5e7 // (r * r))))


def em_step(model, zeroth, first, batch=None, quiet=True):
    """One EM iteration over all utterances. Returns (new model, objective of
    the old model)."""
    c, f, r = model.num_gaussians, model.feature_dim, model.ivector_dim
    batch = batch or _batch_size(r)
    tri = np.tril_indices(r)
    acc_a = np.zeros((c, len(tri[0])))
    acc_c = np.zeros((c * f, r))
    total = 0.0
    for s in range(0, zeroth.shape[0], batch):
        z = zeroth[s:s + batch]
        fs = first[s:s + batch]
        means, covs, obj = model.posteriors(z, fs)
        total += float(np.sum(obj))
        second = covs + means[:, :, None] * means[:, None, :]
        acc_a += z.T @ second[:, tri[0], tri[1]]
        acc_c += fs.reshape(z.shape[0], -1).T @ means
        if not quiet and zeroth.shape[0] > batch:
            print("\r  E-step %d/%d utterances" % (min(s + batch, zeroth.shape[0]),
                                                  zeroth.shape[0]),
                  end="", file=sys.stderr, flush=True)
    if not quiet and zeroth.shape[0] > batch:
        print(file=sys.stderr)
    acc_c = acc_c.reshape(c, f, r)
    t = np.empty_like(model.t)
    for k in range(c):
        a = np.zeros((r, r))
        a[tri] = acc_a[k]
        a = a + np.tril(a, -1).T
        # Solve T_c A_c = C_c; a Gaussian nobody visited keeps its rows.
        if np.trace(a) <= 1e-10:
            t[k] = model.t[k]
            continue
        t[k] = np.linalg.solve(a, acc_c[k].T).T
    return IvectorModel(t, model.sigma, model.prior_offset), total / zeroth.shape[0]


def train(model, zeroth, first, iters=10, quiet=False, history=None):
    zeroth = np.asarray(zeroth, np.float64)
    first = np.asarray(first, np.float64).reshape(zeroth.shape[0], model.num_gaussians, -1)
    for it in range(iters):
        model, obj = em_step(model, zeroth, first, quiet=quiet)
        if history is not None:
            history.append(obj)
        _log("i-vector EM: iteration %3d of %d, objective %.6f per utterance"
             % (it + 1, iters, obj), quiet)
    final = model.objective(zeroth, first)
    if history is not None:
        history.append(final)
    _log("i-vector EM: final objective %.6f per utterance" % final, quiet)
    return model


def section_bytes(model, elem_size=4):
    """The extractor section: 32 header bytes, int32 E, C, F, R, the prior
    offset, T (per Gaussian F rows of R), then per Gaussian the lower
    triangle of Σ⁻¹ (row f holds f+1 values); little-endian."""
    if elem_size not in (4, 8):
        raise ValueError("element size must be 4 or 8")
    dt = "<f4" if elem_size == 4 else "<f8"
    c, f, r = model.num_gaussians, model.feature_dim, model.ivector_dim
    head = b"IVECTOR EXTRACTOR MODEL".ljust(32, b"\0")
    head += struct.pack("<4i", elem_size, c, f, r)
    tri = np.tril_indices(f)
    return b"".join([head, np.array([model.prior_offset], dt).tobytes(),
                     model.t.astype(dt).tobytes(),
                     model.sigma_inv[:, tri[0], tri[1]].astype(dt).tobytes()])


def write_section(path, model, elem_size=4):
    with open(path, "wb") as fh:
        fh.write(section_bytes(model, elem_size))


def read_section(path):
    with open(path, "rb") as fh:
        data = fh.read()
    e, c, f, r = struct.unpack_from("<4i", data, 32)
    dt = "<f4" if e == 4 else "<f8"
    pos = 48
    offset = float(np.frombuffer(data, dt, 1, pos)[0])
    pos += e
    t = np.frombuffer(data, dt, c * f * r, pos).astype(np.float64).reshape(c, f, r)
    pos += c * f * r * e
    packed = np.frombuffer(data, dt, c * f * (f + 1) // 2, pos).astype(np.float64)
    tri = np.tril_indices(f)
    inv = np.zeros((c, f, f))
    inv[:, tri[0], tri[1]] = packed.reshape(c, -1)
    inv = inv + np.transpose(np.tril(inv, -1), (0, 2, 1))
    return IvectorModel(t, np.linalg.inv(inv), offset)
