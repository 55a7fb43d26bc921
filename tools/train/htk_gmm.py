"""Single-state GMMs in the HTK text definition form that the engine reads.

A model is a dict-free small class: weights (C,), means (C, F) and either
variances (C, F) (diagonal) or covariances (C, F, F) (full). Full models are
stored as <InvCovar> (upper triangle of the inverse covariance, row by row);
every Gaussian carries its <GConst>.
"""

import math

import numpy as np

SEPARATOR = "__KAVOR__SEPARATOR__"


class Gmm:
    def __init__(self, weights, means, variances=None, covariances=None):
        self.weights = np.asarray(weights, dtype=np.float64)
        self.means = np.asarray(means, dtype=np.float64)
        if (variances is None) == (covariances is None):
            raise ValueError("give either variances or covariances")
        self.variances = None if variances is None else np.asarray(variances, np.float64)
        self.covariances = None if covariances is None else np.asarray(covariances, np.float64)

    @property
    def full(self):
        return self.covariances is not None

    @property
    def num_gaussians(self):
        return self.means.shape[0]

    @property
    def dim(self):
        return self.means.shape[1]

    def covariance(self, c):
        if self.full:
            return self.covariances[c]
        return np.diag(self.variances[c])


def _fmt(values):
    return " ".join("%.17g" % v for v in values)


def gconst_diag(variances):
    return len(variances) * math.log(2 * math.pi) + float(np.sum(np.log(variances)))


def gconst_full(inv_cov):
    sign, logdet = np.linalg.slogdet(inv_cov)
    if sign <= 0:
        raise ValueError("inverse covariance is not positive definite")
    return inv_cov.shape[0] * math.log(2 * math.pi) - logdet


def to_htk_text(gmm, name="ubm", parm_kind="MFCC_E_D", separator=False):
    """The definition text; with separator=True it ends with the container's
    section separator, as a model section does."""
    f = gmm.dim
    out = ["~o\n<StreamInfo> 1 %d\n<VecSize> %d<NullD>" % (f, f)]
    if parm_kind:
        out.append("<%s>" % parm_kind)
    if not gmm.full:
        out.append("<DiagC>")
    out.append('\n~h "%s"\n<BeginHMM>\n<NumStates> 3\n<State> 2\n<NumMixes> %d\n'
               % (name, gmm.num_gaussians))
    iu = np.triu_indices(f)
    for c in range(gmm.num_gaussians):
        out.append("<Mixture> %d %.17g\n" % (c + 1, gmm.weights[c]))
        out.append("<Mean> %d\n %s\n" % (f, _fmt(gmm.means[c])))
        if gmm.full:
            inv = np.linalg.inv(gmm.covariances[c])
            inv = 0.5 * (inv + inv.T)
            out.append("<InvCovar> %d\n %s\n" % (f, _fmt(inv[iu])))
            g = gconst_full(inv)
        else:
            out.append("<Variance> %d\n %s\n" % (f, _fmt(gmm.variances[c])))
            g = gconst_diag(gmm.variances[c])
        out.append("<GConst> %.17g\n" % g)
    out.append("<TransP> 3\n 0 1 0\n 0 0.5 0.5\n 0 0 0\n<EndHMM>\n")
    if separator:
        out.append(SEPARATOR)
    return "".join(out)


def write_htk(path, gmm, **kwargs):
    with open(path, "w", encoding="ascii") as fh:
        fh.write(to_htk_text(gmm, **kwargs))


def _tokens(text):
    i, n = 0, len(text)
    while i < n:
        ch = text[i]
        if ch.isspace():
            i += 1
        elif ch == "<":
            j = text.index(">", i)
            yield "<" + text[i + 1:j].upper() + ">"
            i = j + 1
        elif ch == '"':
            j = text.index('"', i + 1)
            yield text[i + 1:j]
            i = j + 1
        elif text.startswith(SEPARATOR, i):
            return
        else:
            j = i
            while j < n and not text[j].isspace() and text[j] != "<":
                j += 1
            yield text[i:j]
            i = j


def read_htk_text(path):
    """Reads what to_htk_text writes (one HMM, one state, inline Gaussians)."""
    with open(path, "r", encoding="ascii", errors="replace") as fh:
        toks = list(_tokens(fh.read()))
    pos = 0
    weights, means, variances, invcovs = [], [], [], []

    def numbers(k):
        nonlocal pos
        vals = [float(t) for t in toks[pos:pos + k]]
        pos += k
        return vals

    while pos < len(toks):
        t = toks[pos]
        pos += 1
        if t == "<MIXTURE>":
            pos += 1
            weights.append(float(toks[pos]))
            pos += 1
        elif t == "<MEAN>":
            k = int(toks[pos])
            pos += 1
            means.append(numbers(k))
        elif t == "<VARIANCE>":
            k = int(toks[pos])
            pos += 1
            variances.append(numbers(k))
        elif t == "<INVCOVAR>":
            k = int(toks[pos])
            pos += 1
            upper = numbers(k * (k + 1) // 2)
            m = np.zeros((k, k))
            m[np.triu_indices(k)] = upper
            m = m + np.triu(m, 1).T
            invcovs.append(m)
    if not means:
        raise ValueError("%s: no Gaussians" % path)
    if not weights:
        weights = [1.0]
    if variances:
        return Gmm(weights, means, variances=variances)
    return Gmm(weights, means, covariances=[np.linalg.inv(m) for m in invcovs])
