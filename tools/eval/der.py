"""Diarization error rate against an RTTM reference, RTTM I/O, conversion of the
diarization XML speaker list, and a timeline picture.

DER = (missed + false alarm + speaker confusion) / reference speech, all in
seconds, over the scored time: a no-score zone of +-collar around every
reference segment boundary is left out. Hypothesis speakers are mapped one to
one onto reference speakers so that their overlap is largest (Hungarian method).
"""
import re
import xml.etree.ElementTree as ET

import numpy as np


def read_rttm(path_or_lines):
    """SPEAKER lines -> list of (file id, start, end, speaker)."""
    if isinstance(path_or_lines, str):
        with open(path_or_lines) as f:
            lines = f.readlines()
    else:
        lines = path_or_lines
    segs = []
    for line in lines:
        parts = line.split()
        if len(parts) < 8 or parts[0] != "SPEAKER":
            continue
        start, dur = float(parts[3]), float(parts[4])
        if dur > 0:
            segs.append((parts[1], start, start + dur, parts[7]))
    return segs


def rttm_lines(segments):
    return ["SPEAKER %s 1 %.3f %.3f <NA> <NA> %s <NA> <NA>\n" % (f, s, e - s, spk)
            for f, s, e, spk in segments]


def write_rttm(path, segments):
    with open(path, "w") as f:
        f.writelines(rttm_lines(segments))


def xml_to_segments(text, file_id):
    """The speaker list of the diarization entry point -> segments. Names are
    inserted unescaped by the driver, so a parse failure falls back to a scan."""
    try:
        root = ET.fromstring(text.encode("utf-8") if isinstance(text, str) else text)
        items = [(e.get("name"), e.get("start"), e.get("end")) for e in root.iter("speaker")]
    except ET.ParseError:
        items = re.findall(r'<speaker name="(.*?)" start="([^"]*)" end="([^"]*)" />', text)
    return [(file_id, float(s), float(e), n) for n, s, e in items if float(e) > float(s)]


def _hungarian_max(weight):
    """Assignment maximising the total weight (rows <= cols after padding);
    returns {row: col}. O(n^3) shortest augmenting paths."""
    w = np.asarray(weight, dtype=np.float64)
    n = max(w.shape)
    cost = np.zeros((n, n))
    cost[:w.shape[0], :w.shape[1]] = -w
    u, v = np.zeros(n + 1), np.zeros(n + 1)
    p, way = np.zeros(n + 1, dtype=int), np.zeros(n + 1, dtype=int)
    for i in range(1, n + 1):
        p[0] = i
        j0 = 0
        minv = np.full(n + 1, np.inf)
        used = np.zeros(n + 1, dtype=bool)
        while True:
            used[j0] = True
            i0, delta, j1 = p[j0], np.inf, 0
            for j in range(1, n + 1):
                if not used[j]:
                    cur = cost[i0 - 1, j - 1] - u[i0] - v[j]
                    if cur < minv[j]:
                        minv[j], way[j] = cur, j0
                    if minv[j] < delta:
                        delta, j1 = minv[j], j
            for j in range(n + 1):
                if used[j]:
                    u[p[j]] += delta
                    v[j] -= delta
                else:
                    minv[j] -= delta
            j0 = j1
            if p[j0] == 0:
                break
        while True:
            j1 = way[j0]
            p[j0] = p[j1]
            j0 = j1
            if j0 == 0:
                break
    return {p[j] - 1: j - 1 for j in range(1, n + 1)
            if p[j] and p[j] - 1 < w.shape[0] and j - 1 < w.shape[1]}


def der(reference, hypothesis, collar=0.25):
    """reference, hypothesis: lists of (start, end, speaker) of one recording.
    Returns a dict: der, missed, false_alarm, confusion, scored (reference speech)."""
    edges = set()
    no_score = []
    for s, e, _ in reference:
        edges.update((s, e))
        if collar > 0:
            no_score += [(s - collar, s + collar), (e - collar, e + collar)]
    for s, e, _ in hypothesis:
        edges.update((s, e))
    for s, e in no_score:
        edges.update((s, e))
    points = sorted(edges)
    ref_spk = sorted({k for _, _, k in reference})
    hyp_spk = sorted({k for _, _, k in hypothesis})
    overlap = np.zeros((len(ref_spk), len(hyp_spk)))
    pieces = []
    for a, b in zip(points, points[1:]):
        mid = 0.5 * (a + b)
        if any(s < mid < e for s, e in no_score):
            continue
        r = {ref_spk.index(k) for s, e, k in reference if s < mid < e}
        h = {hyp_spk.index(k) for s, e, k in hypothesis if s < mid < e}
        pieces.append((b - a, r, h))
        for i in r:
            for j in h:
                overlap[i, j] += b - a
    mapping = _hungarian_max(overlap) if overlap.size else {}
    hyp_to_ref = {j: i for i, j in mapping.items() if overlap[i, j] > 0}
    missed = fa = conf = scored = 0.0
    for dur, r, h in pieces:
        correct = len(r & {hyp_to_ref[j] for j in h if j in hyp_to_ref})
        scored += dur * len(r)
        missed += dur * max(0, len(r) - len(h))
        fa += dur * max(0, len(h) - len(r))
        conf += dur * (min(len(r), len(h)) - correct)
    total = missed + fa + conf
    return {"der": total / scored if scored > 0 else float("nan"), "missed": missed,
            "false_alarm": fa, "confusion": conf, "scored": scored,
            "mapping": {hyp_spk[j]: ref_spk[i] for j, i in hyp_to_ref.items()}}


def plot_timeline(reference, hypothesis, path, title="", mapping=None):
    """Reference speakers above, hypothesis speakers below, one row each; a
    hypothesis speaker mapped to a reference speaker (`mapping`) takes its colour."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    mapping = mapping or {}
    ref_names = sorted({k for _, _, k in reference})
    hyp_names = sorted({k for _, _, k in hypothesis})
    colours = plt.get_cmap("tab10")
    colour = {("ref", k): colours(i % 10) for i, k in enumerate(ref_names)}
    for k in hyp_names:
        colour[("hyp", k)] = (colour[("ref", mapping[k])] if k in mapping else "grey")
    rows = [("ref", k, [(s, e) for s, e, kk in reference if kk == k]) for k in ref_names]
    rows += [("hyp", k, [(s, e) for s, e, kk in hypothesis if kk == k]) for k in hyp_names]
    end = max([e for _, e, _ in list(reference) + list(hypothesis)] + [1.0])
    fig, ax = plt.subplots(figsize=(10, 0.45 * len(rows) + 1.2))
    for i, (side, name, segs) in enumerate(rows):
        ax.broken_barh([(s, e - s) for s, e in segs], (len(rows) - i - 0.8, 0.6),
                       color=colour[(side, name)])
    ax.set_yticks([len(rows) - i - 0.5 for i in range(len(rows))],
                  ["%s %s" % (side, name) for side, name, _ in rows])
    ax.set_xlim(0, end)
    ax.set_xlabel("seconds")
    ax.set_title(title)
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)
