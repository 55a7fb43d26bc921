"""EM training of diagonal and full-covariance GMMs on feature frames."""

import math
import sys

import numpy as np

from htk_gmm import Gmm

LOG2PI = math.log(2 * math.pi)


def _log(msg, quiet):
    if not quiet:
        print(msg, file=sys.stderr, flush=True)


def frame_loglik_diag(gmm, x):
    """(N, C) log of w_c N(x; m_c, diag v_c)."""
    inv = 1.0 / gmm.variances
    const = (np.log(gmm.weights) - 0.5 * (gmm.dim * LOG2PI + np.sum(np.log(gmm.variances), 1))
             - 0.5 * np.sum(gmm.means ** 2 * inv, 1))
    return const + x @ (gmm.means * inv).T - 0.5 * (x * x) @ inv.T


def frame_loglik_full(gmm, x):
    out = np.empty((x.shape[0], gmm.num_gaussians))
    for c in range(gmm.num_gaussians):
        chol = np.linalg.cholesky(gmm.covariances[c])
        z = np.linalg.inv(chol) @ (x - gmm.means[c]).T
        logdet = 2.0 * np.sum(np.log(np.diag(chol)))
        out[:, c] = math.log(gmm.weights[c]) - 0.5 * (gmm.dim * LOG2PI + logdet
                                                       + np.sum(z * z, 0))
    return out


def frame_loglik(gmm, x):
    return frame_loglik_full(gmm, x) if gmm.full else frame_loglik_diag(gmm, x)


def _posteriors(gmm, x, chunk=None):
    """Per chunk: (frames, posteriors, total log-likelihood)."""
    chunk = chunk or max(1024, (1 << 23) // gmm.num_gaussians)
    for s in range(0, x.shape[0], chunk):
        xs = x[s:s + chunk]
        ll = frame_loglik(gmm, xs)
        mx = ll.max(1, keepdims=True)
        p = np.exp(ll - mx)
        tot = p.sum(1, keepdims=True)
        yield xs, p / tot, float(np.sum(mx[:, 0] + np.log(tot[:, 0])))


def average_loglik(gmm, x):
    return sum(ll for _, _, ll in _posteriors(gmm, x)) / x.shape[0]


def em_step(gmm, x, var_floor, min_weight=1e-8):
    """One EM iteration. Returns (new model, average log-likelihood of x under
    the old model). Gaussians whose occupation vanishes keep their old
    parameters with a tiny weight."""
    c, f = gmm.num_gaussians, gmm.dim
    occ = np.zeros(c)
    s1 = np.zeros((c, f))
    s2 = np.zeros((c, f, f)) if gmm.full else np.zeros((c, f))
    total = 0.0
    for xs, p, ll in _posteriors(gmm, x):
        total += ll
        occ += p.sum(0)
        s1 += p.T @ xs
        if gmm.full:
            for k in range(c):
                s2[k] += (xs * p[:, k:k + 1]).T @ xs
        else:
            s2 += p.T @ (xs * xs)
    n = x.shape[0]
    weights = np.maximum(occ / n, min_weight)
    weights /= weights.sum()
    means = gmm.means.copy()
    live = occ > 1e-3
    means[live] = s1[live] / occ[live, None]
    if gmm.full:
        covs = gmm.covariances.copy()
        for k in np.nonzero(live)[0]:
            cov = s2[k] / occ[k] - np.outer(means[k], means[k])
            cov = 0.5 * (cov + cov.T)
            # Floor the eigenvalues against the floor's scale.
            vals, vecs = np.linalg.eigh(cov)
            vals = np.maximum(vals, np.min(var_floor))
            covs[k] = (vecs * vals) @ vecs.T
            np.fill_diagonal(covs[k], np.maximum(np.diag(covs[k]), var_floor))
        return Gmm(weights, means, covariances=covs), total / n
    var = gmm.variances.copy()
    var[live] = s2[live] / occ[live, None] - means[live] ** 2
    var = np.maximum(var, var_floor)
    return Gmm(weights, means, variances=var), total / n


def split(gmm, target, perturb=0.2):
    """Doubles (at most up to `target`) by splitting the heaviest Gaussians:
    means moved by ±perturb standard deviations, weights halved."""
    order = np.argsort(-gmm.weights)[:max(0, min(gmm.num_gaussians, target - gmm.num_gaussians))]
    w, m, v = list(gmm.weights), list(gmm.means), list(gmm.variances)
    for k in order:
        d = perturb * np.sqrt(gmm.variances[k])
        w[k] = gmm.weights[k] / 2
        w.append(gmm.weights[k] / 2)
        m.append(gmm.means[k] - d)
        m[k] = gmm.means[k] + d
        v.append(gmm.variances[k].copy())
    return Gmm(w, m, variances=v)


def train_diag(x, num_gaussians, iters_per_split=4, final_iters=10, var_floor_frac=0.01,
               quiet=False, history=None):
    """Diagonal GMM by EM with mixture splitting from one Gaussian. The
    variance floor is var_floor_frac times the global variance. Every
    iteration's average log-likelihood is logged (and appended to history)."""
    x = np.asarray(x, dtype=np.float64)
    gvar = x.var(0)
    floor = np.maximum(var_floor_frac * gvar, 1e-10)
    gmm = Gmm([1.0], [x.mean(0)], variances=[np.maximum(gvar, floor)])
    it = 0
    while True:
        last = gmm.num_gaussians >= num_gaussians
        for _ in range(final_iters if last else iters_per_split):
            gmm, ll = em_step(gmm, x, floor)
            it += 1
            if history is not None:
                history.append((gmm.num_gaussians, ll))
            _log("diag GMM: %4d Gaussians, iteration %3d, average log-likelihood %.6f"
                 % (gmm.num_gaussians, it, ll), quiet)
        if last:
            break
        gmm = split(gmm, num_gaussians)
    _log("diag GMM: final average log-likelihood %.6f" % average_loglik(gmm, x), quiet)
    return gmm


def train_full(x, init, iters=5, var_floor_frac=0.01, quiet=False, history=None):
    """Full-covariance GMM by EM, started from a (diagonal) model."""
    x = np.asarray(x, dtype=np.float64)
    floor = np.maximum(var_floor_frac * x.var(0), 1e-10)
    gmm = init
    if not gmm.full:
        gmm = Gmm(gmm.weights, gmm.means,
                  covariances=np.stack([np.diag(v) for v in gmm.variances]))
    for it in range(iters):
        gmm, ll = em_step(gmm, x, floor)
        if history is not None:
            history.append((gmm.num_gaussians, ll))
        _log("full GMM: %4d Gaussians, iteration %3d, average log-likelihood %.6f"
             % (gmm.num_gaussians, it + 1, ll), quiet)
    _log("full GMM: final average log-likelihood %.6f" % average_loglik(gmm, x), quiet)
    return gmm
