"""Verification metrics: operating points, EER, minimum detection cost, DET plot.

A trial is accepted when its score >= threshold. The operating points are taken
at every distinct score (and beyond the highest), so the miss rate rises and the
false-alarm rate falls along the list.
"""
from statistics import NormalDist

import numpy as np


def operating_points(targets, nontargets):
    """(thresholds, miss rates, false-alarm rates); the first point accepts everything."""
    tar = np.sort(np.asarray(targets, dtype=np.float64))
    non = np.sort(np.asarray(nontargets, dtype=np.float64))
    if tar.size == 0 or non.size == 0:
        raise ValueError("need target and non-target scores")
    thresholds = np.concatenate([np.unique(np.concatenate([tar, non])), [np.inf]])
    p_miss = np.searchsorted(tar, thresholds, side="left") / tar.size
    p_fa = 1.0 - np.searchsorted(non, thresholds, side="left") / non.size
    return thresholds, p_miss, p_fa


def eer(targets, nontargets):
    """Equal error rate: where the miss and false-alarm rates cross, linearly
    interpolated between the two neighbouring operating points."""
    _, pm, pf = operating_points(targets, nontargets)
    i = int(np.argmax(pm >= pf))
    if pm[i] == pf[i] or i == 0:
        return float(pm[i] if pm[i] == pf[i] else (pm[i] + pf[i]) / 2)
    d0 = pf[i - 1] - pm[i - 1]
    d1 = pm[i] - pf[i]
    s = d0 / (d0 + d1)
    return float(pm[i - 1] + s * (pm[i] - pm[i - 1]))


def min_dcf(targets, nontargets, p_target=0.01, c_miss=1.0, c_fa=1.0):
    """Minimum over thresholds of the detection cost, normalised by the cost of
    the better trivial system; returns (minDCF, threshold)."""
    thr, pm, pf = operating_points(targets, nontargets)
    cost = c_miss * p_target * pm + c_fa * (1.0 - p_target) * pf
    cost /= min(c_miss * p_target, c_fa * (1.0 - p_target))
    i = int(np.argmin(cost))
    return float(cost[i]), float(thr[i])


def _probit(p):
    nd = NormalDist()
    return np.array([nd.inv_cdf(min(max(v, 1e-6), 1 - 1e-6)) for v in p])


def plot_det(curves, path, title="DET"):
    """curves: list of (label, targets, nontargets). Writes a PNG on normal-deviate axes."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    ticks = [0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.4, 0.6, 0.8, 0.9]
    fig, ax = plt.subplots(figsize=(6, 6))
    for label, tar, non in curves:
        _, pm, pf = operating_points(tar, non)
        e = eer(tar, non)
        ax.plot(_probit(pf), _probit(pm), label="%s (EER %.2f%%)" % (label, 100 * e))
    pos = _probit(ticks)
    names = ["%g" % (100 * t) for t in ticks]
    ax.set_xticks(pos, names)
    ax.set_yticks(pos, names)
    lim = (_probit([0.0005])[0], _probit([0.95])[0])
    ax.set_xlim(*lim)
    ax.set_ylim(*lim)
    ax.plot(lim, lim, color="grey", linewidth=0.5)
    ax.set_xlabel("false-alarm rate (%)")
    ax.set_ylabel("miss rate (%)")
    ax.set_title(title)
    ax.grid(True, linewidth=0.3)
    ax.legend(loc="upper right", fontsize=8)
    fig.savefig(path, dpi=100)
    plt.close(fig)
