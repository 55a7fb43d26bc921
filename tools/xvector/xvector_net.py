"""The x-vector network in PyTorch, of the family libBrindle computes.

Frame layers are 1-D convolutions over time whose taps are the context offsets (a run of
offsets o, o+d, o+2d, ... is a convolution of dilation d), each followed by ReLU and batch
normalisation, as libBrindle's frame layer computes y = s * relu(W x + b) + t. Statistics
pooling gives the mean and standard deviation of every channel (variance floored as
libBrindle floors it). The first segment layer's affine output is the embedding; training
adds ReLU, batch normalisation and a second segment layer before the classifier.

The input is standardised with the training frames' mean and deviation; the writer folds
that into the first frame layer, and folds every batch normalisation into a scale and shift.
"""
import numpy as np
import torch
from torch import nn
import torch.nn.functional as F

VARIANCE_FLOOR = 1e-10


def offsets_as_dilation(offsets):
    """(kernel, dilation) of evenly spaced offsets; raises for uneven ones."""
    if len(offsets) == 1:
        return 1, 1
    step = offsets[1] - offsets[0]
    if step <= 0 or any(b - a != step for a, b in zip(offsets, offsets[1:])):
        raise ValueError(f"offsets {offsets} are not evenly spaced")
    return len(offsets), step


class FrameLayer(nn.Module):
    def __init__(self, in_dim, out_dim, offsets):
        super().__init__()
        self.offsets = list(offsets)
        kernel, dilation = offsets_as_dilation(self.offsets)
        self.conv = nn.Conv1d(in_dim, out_dim, kernel, dilation=dilation)
        self.bn = nn.BatchNorm1d(out_dim)

    def forward(self, x):  # (batch, in, time) -> (batch, out, time - span)
        return self.bn(F.relu(self.conv(x)))


def stats_pool(h):
    mean = h.mean(dim=2)
    var = torch.clamp((h * h).mean(dim=2) - mean * mean, min=VARIANCE_FLOOR)
    return torch.cat([mean, torch.sqrt(var)], dim=1)


class XvectorNet(nn.Module):
    def __init__(self, input_dim, frame_dims, contexts, embedding_dim, segment_dims=(),
                 num_classes=0):
        super().__init__()
        if len(frame_dims) != len(contexts):
            raise ValueError("one context list per frame layer")
        self.input_dim = input_dim
        self.register_buffer("feat_mean", torch.zeros(input_dim))
        self.register_buffer("feat_scale", torch.ones(input_dim))
        layers, d = [], input_dim
        for width, offsets in zip(frame_dims, contexts):
            layers.append(FrameLayer(d, width, offsets))
            d = width
        self.frames = nn.ModuleList(layers)
        self.embedding = nn.Linear(2 * d, embedding_dim)
        self.embedding_bn = nn.BatchNorm1d(embedding_dim)
        post, d = [], embedding_dim
        for width in segment_dims:
            post += [nn.Linear(d, width), nn.ReLU(), nn.BatchNorm1d(width)]
            d = width
        self.post = nn.Sequential(*post)
        self.head_dim = d
        self.head = AMSoftmaxHead(d, num_classes) if num_classes else None

    def span(self):
        return sum(layer.offsets[-1] - layer.offsets[0] for layer in self.frames)

    def embed(self, x):
        """x: (batch, time, input_dim) -> raw embeddings (batch, embedding_dim)."""
        h = ((x - self.feat_mean) * self.feat_scale).transpose(1, 2)
        for layer in self.frames:
            h = layer(h)
        return self.embedding(stats_pool(h))

    def forward(self, x):
        e = self.embed(x)
        return self.post(self.embedding_bn(F.relu(e)))


class AMSoftmaxHead(nn.Module):
    """Additive-margin softmax: logits s * (cos(theta_y) - m) for the true class."""

    def __init__(self, dim, num_classes):
        super().__init__()
        self.weight = nn.Parameter(torch.randn(num_classes, dim) * 0.01)

    def forward(self, h, labels, margin, scale):
        cos = F.linear(F.normalize(h), F.normalize(self.weight))
        logits = scale * (cos - margin * F.one_hot(labels, cos.shape[1]).to(cos.dtype))
        return F.cross_entropy(logits, labels), (cos.argmax(1) == labels).float().mean()


def frame_layer_matrix(layer):
    """Conv weights (out, in, k) as libBrindle's (out, k*in), columns grouped by offset."""
    w = layer.conv.weight.detach().double().numpy()
    return np.transpose(w, (0, 2, 1)).reshape(w.shape[0], -1), \
        layer.conv.bias.detach().double().numpy()


def export_layers(net, embed_map=None):
    """The network as libBrindle layers (float64 arrays, for tools/xvector/xe5_writer.py).

    The input standardisation goes into the first frame layer's weights and bias, each
    batch normalisation into its layer's scale and shift, and embed_map = (A, c), when
    given, into the embedding layer: W' = A W, b' = A b + c."""
    import xe5_writer
    net = net.eval()
    layers = []
    for k, layer in enumerate(net.frames):
        w, b = frame_layer_matrix(layer)
        if k == 0:
            mean = net.feat_mean.double().numpy()
            scale = net.feat_scale.double().numpy()
            taps = len(layer.offsets)
            b = b - w @ np.tile(mean * scale, taps)
            w = w * np.tile(scale, taps)
        bn = layer.bn
        s, t = xe5_writer.batchnorm_scale_shift(bn.weight.detach().numpy(), bn.bias.detach().numpy(),
                                                bn.running_mean.numpy(), bn.running_var.numpy(),
                                                bn.eps)
        layers.append(xe5_writer.FrameLayer(w, b, layer.offsets, "relu", scale=s, shift=t))
    d = net.frames[-1].conv.out_channels
    layers.append(xe5_writer.PoolingLayer(d, VARIANCE_FLOOR))
    w = net.embedding.weight.detach().double().numpy()
    b = net.embedding.bias.detach().double().numpy()
    if embed_map is not None:
        a, c = embed_map
        w, b = a @ w, a @ b + c
    layers.append(xe5_writer.SegmentLayer(w, b, "none"))
    return layers
