#!/usr/bin/python3
"""Writer of the x-vector network file "xe5.pb" read by libBrindle.

The byte layout is documented in brindle/README.md. Use as a module
(encode, write, random_network, write_random_network,
batchnorm_scale_shift) or as a command:

  /usr/bin/python3 tools/xvector/xe5_writer.py --output xe5.pb \
      --input-dim 40 --frame-dims 512,512,512,512,1500 \
      --contexts='-2:2;-2,0,2;-3,0,3;0;0' --embedding-dim 512 --seed 1
"""

import argparse
import struct
import sys
import zlib
from dataclasses import dataclass
from typing import List, Optional, Sequence

import numpy as np

MAGIC = b"XE5N"
FORMAT_VERSION = 1
KIND_FRAME, KIND_POOLING, KIND_SEGMENT = 1, 2, 3
ACTIVATIONS = {"none": 0, "relu": 1}
FLAG_SCALE_SHIFT = 1

CLASSIC_CONTEXTS = ((-2, -1, 0, 1, 2), (-2, 0, 2), (-3, 0, 3), (0,), (0,))
CLASSIC_FRAME_DIMS = (512, 512, 512, 512, 1500)


@dataclass
class FrameLayer:
    """1-D convolution over time: weight (out, len(offsets) * in), columns grouped by offset."""
    weight: np.ndarray
    bias: np.ndarray
    offsets: Sequence[int]
    activation: str = "relu"
    scale: Optional[np.ndarray] = None  # per-channel, after the activation
    shift: Optional[np.ndarray] = None


@dataclass
class PoolingLayer:
    """Mean and standard deviation over all frames; variance floored before the root."""
    input_dim: int
    variance_floor: float = 1e-10


@dataclass
class SegmentLayer:
    """Affine layer on the pooled vector: weight (out, in)."""
    weight: np.ndarray
    bias: np.ndarray
    activation: str = "relu"
    scale: Optional[np.ndarray] = None
    shift: Optional[np.ndarray] = None


def batchnorm_scale_shift(gamma, beta, mean, var, eps=1e-3):
    """Folds an inference-time batch normalisation into per-channel scale and shift."""
    scale = np.asarray(gamma, np.float64) / np.sqrt(np.asarray(var, np.float64) + eps)
    shift = np.asarray(beta, np.float64) - np.asarray(mean, np.float64) * scale
    return scale.astype(np.float32), shift.astype(np.float32)


def _f32(a):
    return np.ascontiguousarray(np.asarray(a, dtype="<f4")).tobytes()


def _affine_record(kind, weight, bias, offsets, activation, scale, shift, in_dim):
    weight = np.asarray(weight, dtype=np.float32)
    bias = np.asarray(bias, dtype=np.float32).reshape(-1)
    out_dim = weight.shape[0]
    if weight.ndim != 2 or bias.shape[0] != out_dim:
        raise ValueError("weight must be (out, cols) and bias (out,)")
    cols = len(offsets) * in_dim if kind == KIND_FRAME else in_dim
    if weight.shape[1] != cols:
        raise ValueError("weight columns do not match the input dimension")
    scaled = scale is not None
    if scaled != (shift is not None):
        raise ValueError("scale and shift go together")
    params = _f32(weight) + _f32(bias)
    if scaled:
        params += _f32(np.reshape(scale, out_dim)) + _f32(np.reshape(shift, out_dim))
    offs = struct.pack("<%di" % len(offsets), *offsets)
    length = 32 + len(offs) + len(params)
    head = struct.pack("<6IQ", kind, in_dim, out_dim, len(offsets), ACTIVATIONS[activation],
                       FLAG_SCALE_SHIFT if scaled else 0, length)
    return head + offs + params, out_dim


def encode(input_dim: int, layers: List) -> bytes:
    """Returns the file image for a network on `input_dim`-dimensional features.

    `layers`: FrameLayer..., PoolingLayer, SegmentLayer... The embedding is the
    first segment layer's affine output, so its width is the embedding dimension.
    """
    records = []
    dim = input_dim
    embedding_dim = None
    for layer in layers:
        if isinstance(layer, FrameLayer):
            rec, dim = _affine_record(KIND_FRAME, layer.weight, layer.bias, list(layer.offsets),
                                      layer.activation, layer.scale, layer.shift, dim)
        elif isinstance(layer, PoolingLayer):
            if layer.input_dim != dim:
                raise ValueError("pooling input %d != %d" % (layer.input_dim, dim))
            rec = struct.pack("<6IQ", KIND_POOLING, dim, 2 * dim, 0, 0, 0, 36)
            rec += struct.pack("<f", layer.variance_floor)
            dim *= 2
        elif isinstance(layer, SegmentLayer):
            rec, dim = _affine_record(KIND_SEGMENT, layer.weight, layer.bias, [], layer.activation,
                                      layer.scale, layer.shift, dim)
            if embedding_dim is None:
                embedding_dim = dim
        else:
            raise TypeError("unknown layer %r" % (layer,))
        records.append(rec)
    if embedding_dim is None:
        raise ValueError("a network needs at least one segment layer")
    body = b"".join(records)
    length = 32 + len(body) + 4
    head = MAGIC + struct.pack("<IQIIII", FORMAT_VERSION, length, input_dim, embedding_dim,
                               len(records), 0)
    image = head + body
    return image + struct.pack("<I", zlib.crc32(image) & 0xFFFFFFFF)


def write(path: str, input_dim: int, layers: List) -> None:
    with open(path, "wb") as f:
        f.write(encode(input_dim, layers))


def random_network(input_dim: int = 40, frame_dims: Sequence[int] = CLASSIC_FRAME_DIMS,
                   contexts: Sequence[Sequence[int]] = CLASSIC_CONTEXTS, embedding_dim: int = 512,
                   segment_dims: Sequence[int] = (), seed: int = 0, batchnorm: bool = True,
                   variance_floor: float = 1e-10) -> List:
    """A network of the given shape with random weights that keep activations near unit scale.

    `frame_dims[i]` and `contexts[i]` describe frame layer i; the first segment
    layer has `embedding_dim` outputs (the embedding), `segment_dims` add later
    segment layers.
    """
    if len(frame_dims) != len(contexts) or not frame_dims:
        raise ValueError("one context per frame layer, at least one layer")
    rng = np.random.default_rng(seed)

    def norm(out):
        if not batchnorm:
            return None, None
        return batchnorm_scale_shift(rng.uniform(0.5, 1.5, out), rng.normal(0, 0.1, out),
                                     rng.uniform(0.0, 0.5, out), rng.uniform(0.5, 1.5, out))

    def affine(out, cols):
        w = rng.normal(0.0, np.sqrt(2.0 / cols), (out, cols)).astype(np.float32)
        return w, rng.normal(0.0, 0.1, out).astype(np.float32)

    layers = []
    dim = input_dim
    for out, offsets in zip(frame_dims, contexts):
        w, b = affine(out, len(offsets) * dim)
        s, t = norm(out)
        layers.append(FrameLayer(w, b, list(offsets), "relu", s, t))
        dim = out
    layers.append(PoolingLayer(dim, variance_floor))
    dim *= 2
    for out in [embedding_dim] + list(segment_dims):
        w, b = affine(out, dim)
        s, t = norm(out)
        layers.append(SegmentLayer(w, b, "relu", s, t))
        dim = out
    return layers


def write_random_network(path: str, input_dim: int = 40, embedding_dim: int = 512,
                         **kwargs) -> None:
    """Writes random_network(input_dim, embedding_dim=embedding_dim, **kwargs) to `path`."""
    write(path, input_dim, random_network(input_dim, embedding_dim=embedding_dim, **kwargs))


def parse_contexts(text: str):
    """'-2:2;-2,0,2;0' -> ((-2,-1,0,1,2), (-2,0,2), (0,))"""
    contexts = []
    for part in text.split(";"):
        part = part.strip()
        if ":" in part:
            lo, hi = (int(v) for v in part.split(":"))
            contexts.append(tuple(range(lo, hi + 1)))
        else:
            contexts.append(tuple(int(v) for v in part.split(",")))
    return tuple(contexts)


def main(argv=None):
    p = argparse.ArgumentParser(description="Write a random x-vector network file (xe5.pb).")
    p.add_argument("--output", required=True)
    p.add_argument("--input-dim", type=int, default=40)
    p.add_argument("--frame-dims", default=",".join(map(str, CLASSIC_FRAME_DIMS)))
    p.add_argument("--contexts", default="-2:2;-2,0,2;-3,0,3;0;0",
                   help="per frame layer: 'lo:hi' or comma list, layers separated by ';'")
    p.add_argument("--embedding-dim", type=int, default=512)
    p.add_argument("--segment-dims", default="", help="later segment layers, comma list")
    p.add_argument("--seed", type=int, default=0)
    p.add_argument("--no-batchnorm", action="store_true")
    p.add_argument("--variance-floor", type=float, default=1e-10)
    a = p.parse_args(argv)
    layers = random_network(
        a.input_dim, [int(v) for v in a.frame_dims.split(",")], parse_contexts(a.contexts),
        a.embedding_dim, [int(v) for v in a.segment_dims.split(",") if v], a.seed,
        not a.no_batchnorm, a.variance_floor)
    write(a.output, a.input_dim, layers)
    return 0


if __name__ == "__main__":
    sys.exit(main())
