#!/usr/bin/python3
"""Trains an x-vector network by speaker classification on the engine's feature matrices.

Each step draws a batch of speakers (every speaker equally often), one recording of each
and one random chunk of that recording's voiced frames; all chunks of a batch share one
length, drawn from --min-chunk..--max-chunk frames. The loss is an additive-margin softmax
on the output of the last segment layer; the margin rises from 0 to --margin over the
first --margin-warmup of the steps. The learning rate warms up, then falls linearly to 0
at --steps. Every --checkpoint-every steps the state (weights, optimiser, generators, step)
goes to OUT/checkpoint.pt, replaced atomically; a run started again on the same OUT
resumes from it with the same batches it would have drawn. With --dev-manifest the
equal-error rate of cosine scores between whole dev recordings is logged at each
checkpoint. The final network goes to OUT/network.pt.

Usage:
  train_xvector.py --feats EXPORT_DIR --manifest train.tsv --out DIR \
      [--frame-dims 256,256,256,256,768] [--contexts '-2:2;-2,0,2;-3,0,3;0;0'] \
      [--embedding-dim 256] [--segment-dims 256] [--steps 6000] [--batch 64] [--seed 1]
"""
import argparse
import csv
import os
import sys
import time

import numpy as np
import torch

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "corpus"))
import xe5_writer  # noqa: E402
from progress import Progress  # noqa: E402
from xvector_net import XvectorNet  # noqa: E402


def read_list(manifest):
    with open(manifest, newline="") as f:
        return [(r["recording"], r["speaker"]) for r in csv.DictReader(f, delimiter="\t")]


class FeatureStore:
    """Every recording's voiced feature rows in one float16 array, with offsets."""

    def __init__(self, feats_dir, rows, min_frames, log):
        mats, self.speakers, self.lengths = [], [], []
        for rec, spk in rows:
            path = os.path.join(feats_dir, rec + ".feats.npy")
            if not os.path.exists(path):
                continue
            m = np.load(path)
            if m.ndim != 2 or m.shape[0] < min_frames:
                continue
            mats.append(m.astype(np.float16))
            self.speakers.append(spk)
            self.lengths.append(m.shape[0])
        if not mats:
            raise SystemExit("train_xvector: no recording long enough")
        self.data = np.concatenate(mats)
        self.starts = np.concatenate([[0], np.cumsum(self.lengths)[:-1]]).astype(np.int64)
        self.lengths = np.array(self.lengths, np.int64)
        self.names = sorted(set(self.speakers))
        index = {s: k for k, s in enumerate(self.names)}
        self.labels = np.array([index[s] for s in self.speakers], np.int64)
        self.by_speaker = [np.flatnonzero(self.labels == k) for k in range(len(self.names))]
        log(f"train_xvector: {len(self.lengths)} recordings, {len(self.names)} speakers, "
            f"{self.data.shape[0]} frames of {self.data.shape[1]}")

    def moments(self):
        x = self.data[:: max(1, self.data.shape[0] // 2_000_000)].astype(np.float64)
        return x.mean(0), x.std(0) + 1e-5

    def batch(self, rng, size, length):
        spk = rng.choice(len(self.names), size, replace=len(self.names) < size)
        out = np.empty((size, length, self.data.shape[1]), np.float32)
        for i, k in enumerate(spk):
            recs = self.by_speaker[k]
            recs = recs[self.lengths[recs] >= length]
            if len(recs) == 0:  # every recording shorter: take the longest, repeat its end
                recs = self.by_speaker[k][[np.argmax(self.lengths[self.by_speaker[k]])]]
            r = recs[rng.integers(len(recs))]
            n = min(length, self.lengths[r])
            first = self.starts[r] + rng.integers(self.lengths[r] - n + 1)
            out[i, :n] = self.data[first:first + n]
            out[i, n:] = out[i, n - 1]
        return torch.from_numpy(out), torch.from_numpy(spk.astype(np.int64))


def equal_error_rate(vectors, labels):
    v = vectors / np.linalg.norm(vectors, axis=1, keepdims=True)
    s = v @ v.T
    same = labels[:, None] == labels[None, :]
    iu = np.triu_indices(len(v), 1)
    tar, non = s[iu][same[iu]], s[iu][~same[iu]]
    scores = np.concatenate([tar, non])
    is_tar = np.concatenate([np.ones(len(tar)), np.zeros(len(non))])
    order = np.argsort(scores)
    miss = np.cumsum(is_tar[order]) / len(tar)
    fa = 1 - np.cumsum(1 - is_tar[order]) / len(non)
    k = np.argmin(np.abs(miss - fa))
    return 100 * 0.5 * (miss[k] + fa[k])


def embed_all(net, mats, max_frames=3000):
    net.eval()
    out = []
    with torch.no_grad():
        for m in mats:
            x = torch.from_numpy(np.asarray(m[:max_frames], np.float32))[None]
            if x.shape[1] <= net.span():
                pad = net.span() + 1 - x.shape[1]
                x = torch.cat([x, x[:, -1:].expand(1, pad, x.shape[2])], 1)
            out.append(net.embed(x)[0].numpy())
    net.train()
    return np.array(out)


def save_atomic(obj, path):
    tmp = path + ".tmp"
    torch.save(obj, tmp)
    os.replace(tmp, path)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--feats", required=True, help="jor-export folder with REC.feats.npy")
    ap.add_argument("--manifest", required=True, help="training list (recording, speaker)")
    ap.add_argument("--out", required=True, help="folder for checkpoint.pt and network.pt")
    ap.add_argument("--frame-dims", default="256,256,256,256,768")
    ap.add_argument("--contexts", default="-2:2;-2,0,2;-3,0,3;0;0")
    ap.add_argument("--embedding-dim", type=int, default=256)
    ap.add_argument("--segment-dims", default="256")
    ap.add_argument("--steps", type=int, default=6000)
    ap.add_argument("--batch", type=int, default=64)
    ap.add_argument("--min-chunk", type=int, default=200, help="frames (2 s)")
    ap.add_argument("--max-chunk", type=int, default=400, help="frames (4 s)")
    ap.add_argument("--lr", type=float, default=2e-3)
    ap.add_argument("--weight-decay", type=float, default=1e-4)
    ap.add_argument("--warmup", type=float, default=0.05, help="share of steps")
    ap.add_argument("--margin", type=float, default=0.2)
    ap.add_argument("--margin-warmup", type=float, default=0.3, help="share of steps")
    ap.add_argument("--scale", type=float, default=30.0)
    ap.add_argument("--checkpoint-every", type=int, default=250)
    ap.add_argument("--dev-manifest", help="list whose EER is logged at each checkpoint")
    ap.add_argument("--dev-feats", help="jor-export folder of the dev list")
    ap.add_argument("--threads", type=int, default=2)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--quiet", action="store_true")
    a = ap.parse_args(argv)

    def log(text):
        print(text, file=sys.stderr, flush=True)

    torch.set_num_threads(a.threads)
    os.makedirs(a.out, exist_ok=True)
    rows = read_list(a.manifest)
    span_guess = 20
    store = FeatureStore(a.feats, rows, span_guess, log)
    frame_dims = [int(v) for v in a.frame_dims.split(",")]
    contexts = xe5_writer.parse_contexts(a.contexts)
    segment_dims = [int(v) for v in a.segment_dims.split(",") if v]
    torch.manual_seed(a.seed)
    net = XvectorNet(store.data.shape[1], frame_dims, contexts, a.embedding_dim, segment_dims,
                     num_classes=len(store.names))
    mean, sd = store.moments()
    net.feat_mean.copy_(torch.from_numpy(mean))
    net.feat_scale.copy_(torch.from_numpy(1.0 / sd))
    opt = torch.optim.AdamW(net.parameters(), lr=a.lr, weight_decay=a.weight_decay)
    rng = np.random.default_rng(a.seed)
    step = 0
    ckpt_path = os.path.join(a.out, "checkpoint.pt")
    config = {k: getattr(a, k) for k in ("frame_dims", "contexts", "embedding_dim",
                                         "segment_dims", "steps", "batch", "seed")}
    if os.path.exists(ckpt_path):
        ck = torch.load(ckpt_path, weights_only=False)
        if ck["config"] != config or ck["speakers"] != store.names:
            raise SystemExit(f"train_xvector: {ckpt_path} was made with other settings or "
                             "speakers; remove it to start again")
        net.load_state_dict(ck["net"])
        opt.load_state_dict(ck["opt"])
        rng.bit_generator.state = ck["rng"]
        torch.set_rng_state(ck["torch_rng"])
        step = ck["step"]
        log(f"train_xvector: resumed at step {step} of {a.steps}")
    dev = None
    if a.dev_manifest:
        drows = read_list(a.dev_manifest)
        dstore = FeatureStore(a.dev_feats or a.feats, drows, span_guess, log)
        dev = ([dstore.data[s:s + n] for s, n in zip(dstore.starts, dstore.lengths)],
               dstore.labels)
    params = sum(p.numel() for p in net.parameters())
    log(f"train_xvector: {params} parameters; {a.steps} steps of {a.batch} chunks "
        f"of {a.min_chunk}-{a.max_chunk} frames")

    def lr_at(k):
        w = max(1, int(a.warmup * a.steps))
        return a.lr * (k + 1) / w if k < w else a.lr * max(0.0, (a.steps - k) / (a.steps - w))

    bar = Progress(a.steps, "xvector", quiet=a.quiet)
    bar.done = step
    net.train()
    loss_avg = acc_avg = None
    t0 = time.monotonic()
    while step < a.steps:
        for g in opt.param_groups:
            g["lr"] = lr_at(step)
        margin = a.margin * min(1.0, step / max(1, a.margin_warmup * a.steps))
        length = int(rng.integers(a.min_chunk, a.max_chunk + 1))
        x, y = store.batch(rng, a.batch, length)
        loss, acc = net.head(net(x), y, margin, a.scale)
        opt.zero_grad(set_to_none=True)
        loss.backward()
        opt.step()
        step += 1
        loss_avg = loss.item() if loss_avg is None else 0.98 * loss_avg + 0.02 * loss.item()
        acc_avg = acc.item() if acc_avg is None else 0.98 * acc_avg + 0.02 * acc.item()
        bar.update()
        if step % a.checkpoint_every == 0 or step == a.steps:
            line = (f"train_xvector: step {step} loss {loss_avg:.3f} accuracy {acc_avg:.3f} "
                    f"margin {margin:.2f} lr {lr_at(step - 1):.2e} "
                    f"{(time.monotonic() - t0):.0f}s")
            if dev is not None:
                line += f" dev EER {equal_error_rate(embed_all(net, dev[0]), dev[1]):.2f} %"
            log(line)
            save_atomic({"net": net.state_dict(), "opt": opt.state_dict(),
                         "rng": rng.bit_generator.state, "torch_rng": torch.get_rng_state(),
                         "step": step, "config": config, "speakers": store.names}, ckpt_path)
    save_atomic({"net": net.state_dict(), "config": config, "speakers": store.names,
                 "input_dim": store.data.shape[1]}, os.path.join(a.out, "network.pt"))
    log(f"train_xvector: wrote {os.path.join(a.out, 'network.pt')}")
    return 0


def load_network(path):
    """The trained network (eval mode) from OUT/network.pt."""
    ck = torch.load(path, weights_only=False)
    c = ck["config"]
    net = XvectorNet(ck["input_dim"], [int(v) for v in c["frame_dims"].split(",")],
                     xe5_writer.parse_contexts(c["contexts"]), c["embedding_dim"],
                     [int(v) for v in c["segment_dims"].split(",") if v],
                     num_classes=len(ck["speakers"]))
    net.load_state_dict(ck["net"])
    return net.eval()


if __name__ == "__main__":
    sys.exit(main())
