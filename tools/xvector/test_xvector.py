"""The trainer's network against libBrindle: the written "xe5.pb" must give the embedding
PyTorch computes, with batch normalisation, input standardisation and the embedding map
folded in."""
import os
import subprocess
import sys
import tempfile
import unittest

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
FORWARD = os.environ.get("XE5_FORWARD")
EXPORT = os.environ.get("JOR_EXPORT")
TRAINED = os.path.join(HERE, "..", "..", "tests", "data", "trained")

try:
    import torch
except ImportError:  # CI installs python3-torch; a bare machine may not have it
    torch = None


def randomised(net, rng):
    """Batch-norm statistics and input moments far from the identity, so folding matters."""
    with torch.no_grad():
        for bn in [layer.bn for layer in net.frames] + [net.embedding_bn]:
            n = bn.num_features
            bn.weight.copy_(torch.from_numpy(rng.uniform(0.5, 1.5, n)))
            bn.bias.copy_(torch.from_numpy(rng.normal(0, 0.3, n)))
            bn.running_mean.copy_(torch.from_numpy(rng.uniform(0, 1, n)))
            bn.running_var.copy_(torch.from_numpy(rng.uniform(0.2, 2, n)))
        net.feat_mean.copy_(torch.from_numpy(rng.normal(0, 2, net.input_dim)))
        net.feat_scale.copy_(torch.from_numpy(rng.uniform(0.2, 1.0, net.input_dim)))
    return net.eval()


def brindle_padded(x, contexts):
    """Inputs no longer than the total span get edge frames as libBrindle adds them."""
    span = sum(c[-1] - c[0] for c in contexts)
    if len(x) > span:
        return x
    lead = min(max(sum(-c[0] for c in contexts), 0), span)
    return np.concatenate([np.repeat(x[:1], lead, 0), x, np.repeat(x[-1:], span - lead, 0)])


@unittest.skipUnless(torch is not None, "PyTorch is not installed (Debian: python3-torch)")
@unittest.skipUnless(FORWARD, "XE5_FORWARD names the xe5-forward binary")
class ParityTest(unittest.TestCase):
    CONTEXTS = ((-2, -1, 0, 1, 2), (-2, 0, 2), (-3, 0, 3), (0,), (0,))

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.tmp.cleanup()

    def network(self, input_dim, seed):
        from xvector_net import XvectorNet, export_layers
        import xe5_writer
        rng = np.random.default_rng(seed)
        torch.manual_seed(seed)
        net = randomised(XvectorNet(input_dim, [48, 40, 40, 32, 64], self.CONTEXTS, 24, [16],
                                    num_classes=5), rng)
        emb_map = (rng.normal(0, 0.3, (30, 24)), rng.normal(0, 1, 30))
        path = os.path.join(self.tmp.name, f"net{seed}.pb")
        xe5_writer.write(path, input_dim, export_layers(net, emb_map))
        return net.double(), emb_map, path

    def brindle(self, path, x):
        inp = os.path.join(self.tmp.name, "in.f32")
        out = os.path.join(self.tmp.name, "out.f32")
        np.asarray(x, "<f4").tofile(inp)
        subprocess.run([FORWARD, path, inp, out], check=True)
        return np.fromfile(out, "<f4").astype(np.float64)

    def expected(self, net, emb_map, x):
        x = brindle_padded(np.asarray(x, np.float32).astype(np.float64), self.CONTEXTS)
        with torch.no_grad():
            e = net.embed(torch.from_numpy(x)[None])[0].numpy()
        return emb_map[0] @ e + emb_map[1]

    def assert_close(self, got, want, what):
        err = np.max(np.abs(got - want)) / np.max(np.abs(want))
        self.assertLess(err, 1e-4, f"{what}: relative difference {err:.2e}")

    def test_random_inputs_of_several_lengths(self):
        net, emb_map, path = self.network(13, seed=3)
        rng = np.random.default_rng(7)
        # 1 and 14 frames fill no context (edge frames added), 15 just does, 1500 needs two
        # passes of the frame layers.
        for frames in (1, 14, 15, 37, 400, 1500):
            x = rng.normal(0, 3, (frames, 13))
            self.assert_close(self.brindle(path, x), self.expected(net, emb_map, x),
                              f"{frames} frames")

    @unittest.skipUnless(EXPORT, "JOR_EXPORT names the jor-export binary")
    def test_real_recording(self):
        wav = os.path.join(TRAINED, "heldout", "es-Mike-008.wav")
        manifest = os.path.join(self.tmp.name, "list.tsv")
        with open(manifest, "w") as f:
            f.write(f"recording\tpath\nrec\t{os.path.abspath(wav)}\n")
        subprocess.run([EXPORT, "--quiet", "--mfcc-options",
                        os.path.join(TRAINED, "mfcc-options.json"), "--manifest", manifest,
                        "--out", self.tmp.name], check=True, cwd=self.tmp.name)
        feats = np.load(os.path.join(self.tmp.name, "rec.feats.npy"))
        self.assertGreater(len(feats), 200)
        net, emb_map, path = self.network(feats.shape[1], seed=4)
        self.assert_close(self.brindle(path, feats), self.expected(net, emb_map, feats),
                          "recording")


if __name__ == "__main__":
    unittest.main()
