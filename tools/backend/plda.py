"""Scoring back-end training: mean/variance, whitening, two-covariance PLDA and
the SPLDA parameters that the engine scores with.

The engine maps a raw speaker vector x to
  f = float32((x - m) * s)            mean/variance
  w = (E^T f) / sqrt(lambda)          whitening, in double
  l = float32(w / |w|)                length normalisation
and scores two such vectors with
  k + c.x + c.y + 2 sum_i a_i (A^T x)_i (A^T y)_i + sum_i b_i ((B^T x)_i^2 + (B^T y)_i^2).
derive_splda() chooses A, a, B, b, c, k so that this equals the two-covariance
log-likelihood ratio log N([x;y] | same) - log N([x;y] | different).
"""
import numpy as np

LOG_2PI = np.log(2.0 * np.pi)


def train_mean_variance(vectors, weights=None, floor=1e-10):
    """Mean and scale = 1/standard deviation per coordinate (weighted)."""
    x = np.asarray(vectors, dtype=np.float64)
    w = np.ones(len(x)) if weights is None else np.asarray(weights, dtype=np.float64)
    w = w / w.sum()
    mean = w @ x
    var = w @ (x - mean) ** 2
    return mean, 1.0 / np.sqrt(np.maximum(var, floor))


def apply_mean_variance(vectors, mean, scale):
    """The engine's float32 step: (x - m) * s, in float32."""
    x = np.asarray(vectors, dtype=np.float32)
    return (x - np.float32(mean)) * np.asarray(scale, dtype=np.float32)


def train_whitening(vectors, weights=None, floor=1e-4):
    """Basis E (columns = eigenvectors of the covariance) and variances lambda,
    so that (E^T x) / sqrt(lambda) has identity covariance. Variances are floored
    at `floor` times their mean: directions the training data never spans would
    otherwise be magnified without bound."""
    x = np.asarray(vectors, dtype=np.float64)
    w = np.ones(len(x)) if weights is None else np.asarray(weights, dtype=np.float64)
    w = w / w.sum()
    mean = w @ x
    xc = x - mean
    cov = (xc * w[:, None]).T @ xc
    lam, basis = np.linalg.eigh(cov)
    lam = np.maximum(lam, floor * max(lam.mean(), 1e-300))
    return basis, lam


def apply_whitening(vectors, basis, variances):
    return (np.asarray(vectors, dtype=np.float64) @ basis) / np.sqrt(variances)


def length_normalize(vectors):
    """Engine form: float32 sum of squares, float32 factor, product in double."""
    x = np.asarray(vectors, dtype=np.float64)
    sq = (x * x).astype(np.float32)
    total = np.zeros(len(x), dtype=np.float32)
    for j in range(x.shape[1]):  # sequential float32 accumulation, as the engine does
        total += sq[:, j]
    factor = np.float32(1.0) / np.sqrt(total)
    return x * factor.astype(np.float64)[:, None]


def engine_normalize(vectors, mean=None, scale=None, basis=None, variances=None):
    """The engine's chain up to the SPLDA input (float32 result); stages may be absent."""
    f = np.asarray(vectors, dtype=np.float32)
    if mean is not None:
        f = apply_mean_variance(f, mean, scale)
    d = f.astype(np.float64)
    if basis is not None:
        d = apply_whitening(d, basis, variances)
    return length_normalize(d).astype(np.float32)


class TwoCovariancePlda:
    """x = y_s + e, y_s ~ N(mu, between), e ~ N(0, within)."""

    def __init__(self, mean, between, within):
        self.mean = np.asarray(mean, dtype=np.float64)
        self.between = np.asarray(between, dtype=np.float64)
        self.within = np.asarray(within, dtype=np.float64)


def _group(vectors, labels):
    x = np.asarray(vectors, dtype=np.float64)
    _, inverse, counts = np.unique(np.asarray(labels), return_inverse=True, return_counts=True)
    sums = np.zeros((len(counts), x.shape[1]))
    np.add.at(sums, inverse, x)
    return x, inverse, counts, sums


def _logdet(m):
    sign, value = np.linalg.slogdet(m)
    if sign <= 0:
        raise np.linalg.LinAlgError("matrix not positive definite")
    return value


def log_likelihood(model, vectors, labels):
    """Total marginal log-likelihood of the data, speakers integrated out."""
    x, inverse, counts, sums = _group(vectors, labels)
    d = x.shape[1]
    means = sums / counts[:, None]
    within_inv = np.linalg.inv(model.within)
    resid = x - means[inverse]
    scatter = np.einsum("ij,jk,ik->", resid, within_inv, resid)
    ld_within = _logdet(model.within)
    total = -0.5 * scatter
    for n in np.unique(counts):
        sel = counts == n
        cov = model.between + model.within / n
        diff = means[sel] - model.mean
        quad = np.einsum("ij,ij->i", diff @ np.linalg.inv(cov), diff)
        k = sel.sum()
        # prod_i N(x_i | y, W) integrated against N(y | mu, B)
        total += k * (-0.5 * (n - 1) * d * LOG_2PI - 0.5 * n * ld_within
                      + 0.5 * (ld_within - d * np.log(n)))
        total += -0.5 * (quad.sum() + k * (d * LOG_2PI + _logdet(cov)))
    return float(total)


def init_plda(vectors, labels, ridge=1e-6):
    x, inverse, counts, sums = _group(vectors, labels)
    means = sums / counts[:, None]
    resid = x - means[inverse]
    within = resid.T @ resid / len(x)
    mu = means.mean(axis=0)
    mc = means - mu
    between = mc.T @ mc / len(means)
    eye = np.eye(x.shape[1])
    scale = np.trace(within) / x.shape[1]
    return TwoCovariancePlda(mu, between + ridge * scale * eye, within + ridge * scale * eye)


def train_plda(vectors, labels, iterations=10, ridge=1e-6, log=None, model=None):
    """EM of the two-covariance model; `log(iteration, loglik)` sees every iteration's
    objective (the likelihood before that iteration's update) and the final one."""
    x, inverse, counts, sums = _group(vectors, labels)
    n_total, d = x.shape
    if model is None:
        model = init_plda(x, labels, ridge)
    xx = x.T @ x
    eye = np.eye(d)
    for it in range(iterations):
        if log is not None:
            log(it, log_likelihood(model, x, labels))
        # Posterior of y_s in the form that needs no inverse of the between
        # covariance (it is singular with fewer speakers than dimensions):
        # K = Sb (Sb + Sw / n)^-1, E[y] = mu + K (xbar - mu), Cov[y] = Sb - K Sb.
        y_hat = np.zeros_like(sums)
        cov_sum_spk = np.zeros((d, d))   # sum_s Cov[y_s]
        cov_sum_n = np.zeros((d, d))     # sum_s n_s Cov[y_s]
        for n in np.unique(counts):
            sel = counts == n
            gain = np.linalg.solve(model.between + model.within / n, model.between).T
            cov = model.between - gain @ model.between
            cov = 0.5 * (cov + cov.T)
            y_hat[sel] = model.mean + (sums[sel] / n - model.mean) @ gain.T
            cov_sum_spk += sel.sum() * cov
            cov_sum_n += n * sel.sum() * cov
        n_spk = len(counts)
        mu = y_hat.mean(axis=0)
        yc = y_hat - mu
        between = (cov_sum_spk + yc.T @ yc) / n_spk
        cross = sums.T @ y_hat
        yy_n = (y_hat * counts[:, None]).T @ y_hat + cov_sum_n
        within = (xx - cross - cross.T + yy_n) / n_total
        scale = np.trace(within) / d
        model = TwoCovariancePlda(mu, 0.5 * (between + between.T),
                                  0.5 * (within + within.T) + ridge * scale * eye)
    if log is not None:
        log(iterations, log_likelihood(model, x, labels))
    return model


def derive_splda(model):
    """A = B = V with V^T within V = I and V^T between V = diag(phi); in those
    coordinates the ratio separates per dimension:
      cross coefficient p = phi / (1 + 2 phi), square coefficient q/2 with
      q = -phi^2 / ((1 + phi)(1 + 2 phi)), constant log(1 + phi) - log(1 + 2 phi) / 2;
    the mean mu enters as c = -(P + Q) mu and k += mu^T (P + Q) mu."""
    chol = np.linalg.cholesky(model.within)
    chol_inv = np.linalg.inv(chol)
    inner = chol_inv @ model.between @ chol_inv.T
    phi, u = np.linalg.eigh(0.5 * (inner + inner.T))
    phi = np.maximum(phi, 0.0)
    v = chol_inv.T @ u
    p = phi / (1.0 + 2.0 * phi)
    q = -phi * phi / ((1.0 + phi) * (1.0 + 2.0 * phi))
    proj = v.T @ model.mean
    linear = -v @ ((p + q) * proj)
    constant = float(np.sum(np.log1p(phi) - 0.5 * np.log1p(2.0 * phi)) + np.sum((p + q) * proj ** 2))
    return {"cross": v, "cross_eigen": p / 2.0, "self": v.copy(), "self_eigen": q / 2.0,
            "linear": linear, "constant": constant}


def splda_score(params, x, y):
    """The engine's score formula in double (clamps of a >= 0, b <= 0 included)."""
    a = np.maximum(params["cross_eigen"], 0.0)
    b = np.minimum(params["self_eigen"], 0.0)
    ax = params["cross"].T @ x
    ay = params["cross"].T @ y
    bx = params["self"].T @ x
    by = params["self"].T @ y
    return float(params["constant"] + params["linear"] @ x + params["linear"] @ y
                 + 2.0 * np.sum(a * ax * ay) + np.sum(b * (bx ** 2 + by ** 2)))


def splda_transform(params, x):
    """The transformed template (2 D + 1 values) in float32, as the engine stores it."""
    a = np.maximum(params["cross_eigen"], 0.0)
    b = np.minimum(params["self_eigen"], 0.0)
    x = np.asarray(x, dtype=np.float32).astype(np.float64)
    cross = params["cross"].astype(np.float32).astype(np.float64)
    self_ = params["self"].astype(np.float32).astype(np.float64)
    a32 = np.sqrt(2.0 * a.astype(np.float32).astype(np.float64))
    b32 = np.sqrt(-b.astype(np.float32).astype(np.float64))
    lin = params["linear"].astype(np.float32).astype(np.float64)
    return np.concatenate([(cross.T @ x) * a32, (self_.T @ x) * b32, [lin @ x]]).astype(np.float32)


def fit_calibration(target_scores, nontarget_scores, prior=0.5, iterations=100):
    """Affine map s -> alpha s + beta that turns raw scores into log-likelihood
    ratios: minimises the prior-weighted logistic loss (each class carries its
    prior's share of the weight whatever its trial count), by Newton steps with
    backtracking. Returns (alpha, beta)."""
    t = np.asarray(target_scores, dtype=np.float64)
    n = np.asarray(nontarget_scores, dtype=np.float64)
    if len(t) == 0 or len(n) == 0:
        raise ValueError("calibration needs target and non-target scores")
    s = np.concatenate([t, n])
    y = np.concatenate([np.ones(len(t)), np.zeros(len(n))])
    w = np.concatenate([np.full(len(t), prior / len(t)), np.full(len(n), (1 - prior) / len(n))])
    offset = np.log(prior / (1 - prior))
    # Centred and scaled scores keep the Newton system well conditioned.
    centre, spread = s.mean(), max(s.std(), 1e-12)
    u = (s - centre) / spread

    def loss(p):
        z = p[0] * u + p[1] + offset
        return float(w @ (np.logaddexp(0.0, z) - y * z))

    p = np.zeros(2)
    current = loss(p)
    for _ in range(iterations):
        z = p[0] * u + p[1] + offset
        post = 0.5 * (1.0 + np.tanh(0.5 * z))
        g = np.array([w @ ((post - y) * u), w @ (post - y)])
        h = w * post * (1 - post)
        hess = np.array([[h @ (u * u), h @ u], [h @ u, h.sum()]]) + 1e-12 * np.eye(2)
        step = np.linalg.solve(hess, g)
        size = 1.0
        while size > 1e-6:
            trial = p - size * step
            value = loss(trial)
            if value <= current:
                break
            size *= 0.5
        if size <= 1e-6:
            break
        p, previous, current = trial, current, value
        if previous - current < 1e-12:
            break
    alpha = p[0] / spread
    return float(alpha), float(p[1] - alpha * centre)


def calibrate_splda(params, alpha, beta):
    """SPLDA parameters whose score is alpha * score + beta: the score is linear in
    a, b, c and k, so the map folds into them (alpha > 0 keeps the signs the
    engine's clamps expect)."""
    if not alpha > 0 or not np.isfinite(alpha) or not np.isfinite(beta):
        raise ValueError("calibration slope must be positive and finite")
    out = dict(params)
    out["cross_eigen"] = params["cross_eigen"] * alpha
    out["self_eigen"] = params["self_eigen"] * alpha
    out["linear"] = params["linear"] * alpha
    out["constant"] = float(params["constant"] * alpha + beta)
    return out


def splda_pair_scores(params, x, pairs):
    """Engine scores of many (i, j) pairs of rows of x, from the transformed
    templates (same sum as splda_score, in double)."""
    a = np.sqrt(2.0 * np.maximum(params["cross_eigen"], 0.0))
    b = np.sqrt(-np.minimum(params["self_eigen"], 0.0))
    u = (x @ params["cross"]) * a
    v = (x @ params["self"]) * b
    lin = x @ params["linear"]
    sq = np.sum(v * v, axis=1)
    i, j = pairs[:, 0], pairs[:, 1]
    return (params["constant"] + lin[i] + lin[j] + np.einsum("nd,nd->n", u[i], u[j])
            - sq[i] - sq[j])
