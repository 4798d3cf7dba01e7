import json
import math
import os
import tempfile
import unittest

import numpy as np
import torch

from helpers import random_moves
from tarnwick_train.board import decode
from tarnwick_train.export import ModelFormatError, export_model, load_model_dir, numpy_forward
from tarnwick_train.model import Architecture, TarnwickNet
from tarnwick_train.warm import calibrate_bn, grow, import_model

torch.set_num_threads(1)


def fnv1a64_reference(data):
    h = 0xCBF29CE484222325
    for b in data:
        h = ((h ^ b) * 0x100000001B3) % (1 << 64)
    return h


def trained_looking(arch, seed):
    """A network whose batch norms hold non-trivial statistics, so folding is really tested."""
    torch.manual_seed(seed)
    model = TarnwickNet(arch)
    with torch.no_grad():
        for m in model.modules():
            if isinstance(m, torch.nn.BatchNorm2d):
                m.weight.uniform_(0.5, 1.5)
                m.bias.uniform_(-0.3, 0.3)
                m.running_mean.uniform_(-0.5, 0.5)
                m.running_var.uniform_(0.3, 2.0)
    return model.eval()


def random_positions(count, seed):
    rng = np.random.default_rng(seed)
    return np.stack([decode(random_moves(rng, 40))[0] for _ in range(count)])


def expected_layout(B, F, P, V, H):
    rows = [("stem.weight", [F, 2, 3, 3]), ("stem.bias", [F])]
    for i in range(B):
        for c in ("conv1", "conv2"):
            rows += [(f"block{i}.{c}.weight", [F, F, 3, 3]), (f"block{i}.{c}.bias", [F])]
    rows += [("policy.conv.weight", [P, F, 1, 1]), ("policy.conv.bias", [P]),
             ("policy.fc.weight", [42, P * 42]), ("policy.fc.bias", [42]),
             ("value.conv.weight", [V, F, 1, 1]), ("value.conv.bias", [V]),
             ("value.fc1.weight", [H, V * 42]), ("value.fc1.bias", [H]),
             ("value.fc2.weight", [1, H]), ("value.fc2.bias", [1])]
    return dict(rows)


class ExportTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = os.path.join(self.tmp.name, "m.mlmodelc")

    def tearDown(self):
        self.tmp.cleanup()

    def test_folded_export_matches_pytorch_eval(self):
        for arch in (Architecture(), Architecture(blocks=2, filters=8, policy_filters=3, value_filters=2,
                                                 value_hidden=16)):
            model = trained_looking(arch, seed=arch.blocks)
            export_model(model, self.dir)
            planes = random_positions(200, seed=arch.filters)
            with torch.no_grad():
                value, scores = model(torch.as_tensor(planes))
            nv, ns = numpy_forward(self.dir, planes)
            self.assertEqual(ns.shape, (200, 42))
            np.testing.assert_allclose(nv, value.numpy(), atol=1e-4, rtol=0)
            np.testing.assert_allclose(ns, scores.numpy(), atol=1e-4, rtol=0)
            # The outputs must vary, or the comparison would prove little.
            self.assertGreater(np.std(nv), 1e-3)
            v1, s1 = numpy_forward(self.dir, planes[7])
            self.assertAlmostEqual(float(v1), float(nv[7]), places=9)
            np.testing.assert_allclose(s1, ns[7], atol=1e-12)

    def test_an_export_imports_back_and_calibrates_without_changing_its_outputs(self):
        arch = Architecture(blocks=2, filters=8, policy_filters=3, value_filters=2, value_hidden=16)
        export_model(trained_looking(arch, seed=5), self.dir)
        planes = random_positions(300, seed=6)
        nv, ns = numpy_forward(self.dir, planes)
        model = import_model(self.dir)
        self.assertEqual(model.arch, arch)
        for stage in ("imported", "calibrated"):
            with torch.no_grad():
                value, scores = model.eval()(torch.as_tensor(planes))
            np.testing.assert_allclose(value.numpy(), nv, atol=1e-4, rtol=0, err_msg=stage)
            np.testing.assert_allclose(scores.numpy(), ns, atol=1e-4, rtol=0, err_msg=stage)
            if stage == "imported":
                calibrate_bn(model, planes)
        # Calibrated, training mode normalises by this batch's statistics, which are now the
        # running ones: the same outputs again, where an uncalibrated import would rescale.
        with torch.no_grad():
            value, scores = model.train()(torch.as_tensor(planes))
        np.testing.assert_allclose(value.numpy(), nv, atol=1e-3, rtol=0)
        np.testing.assert_allclose(scores.numpy(), ns, atol=1e-3, rtol=0)
        # The stem's batch norm now holds the real statistics of its input, not the identity.
        self.assertGreater(float((model.stem.bn.running_var - 1).abs().max()), 1e-2)

    def test_a_grown_network_computes_what_it_grew_from_and_can_learn(self):
        arch = Architecture(blocks=2, filters=8, policy_filters=2, value_filters=1, value_hidden=16)
        export_model(trained_looking(arch, seed=7), self.dir)
        planes = random_positions(300, seed=8)
        nv, ns = numpy_forward(self.dir, planes)
        big_arch = Architecture(blocks=4, filters=12, policy_filters=2, value_filters=1, value_hidden=16)
        big = grow(import_model(self.dir), big_arch)
        self.assertEqual(big.arch, big_arch)
        calibrate_bn(big, planes)
        for mode in ("eval", "train"):
            with torch.no_grad():
                value, scores = big.train(mode == "train")(torch.as_tensor(planes))
            np.testing.assert_allclose(value.numpy(), nv, atol=1e-3, rtol=0, err_msg=mode)
            np.testing.assert_allclose(scores.numpy(), ns, atol=1e-3, rtol=0, err_msg=mode)
        # The new filters must carry signal, and the zero weights reading them must get a
        # gradient, or the extra width could never be used.
        value, scores = big.train()(torch.as_tensor(planes))
        # Sums over a batch norm's batch have no gradient: weigh the outputs at random.
        g = torch.Generator().manual_seed(9)
        ((value * torch.randn(value.shape, generator=g)).sum()
         + (scores * torch.randn(scores.shape, generator=g)).sum()).backward()
        self.assertGreater(float(big.blocks[0].conv1.conv.weight.grad[:8, 8:].abs().max()), 0)
        self.assertGreater(float(big.blocks[3].conv2.bn.weight.grad.abs().max()), 0)
        for smaller in (Architecture(1, 8, 2, 1, 16), Architecture(2, 6, 2, 1, 16), Architecture(2, 8, 3, 1, 16)):
            with self.assertRaises(ValueError):
                grow(import_model(self.dir), smaller)

    def test_files_follow_the_format(self):
        B, F, P, V, H = 3, 8, 3, 2, 16
        model = trained_looking(Architecture(B, F, P, V, H), seed=1)
        export_model(model, self.dir, description="unit test")
        self.assertEqual(sorted(os.listdir(self.dir)), ["model.json", "weights.bin"])
        self.assertEqual(os.stat(self.dir).st_mode & 0o777, 0o755)
        self.assertEqual(os.listdir(self.tmp.name), ["m.mlmodelc"])  # no temporary folder left
        with open(os.path.join(self.dir, "model.json")) as f:
            m = json.load(f)
        with open(os.path.join(self.dir, "weights.bin"), "rb") as f:
            raw = f.read()
        self.assertEqual(m["format"], "tarnwick-mlmodel")
        self.assertEqual(m["formatVersion"], 1)
        self.assertEqual(m["architecture"], {"type": "residual-tower", "blocks": B, "filters": F,
                                             "policyFilters": P, "valueFilters": V, "valueHidden": H})
        self.assertEqual(m["inputs"], [{"name": "input1", "shape": [2, 6, 7], "dataType": "double"}])
        self.assertEqual([o["name"] for o in m["outputs"]], ["output1", "output2"])
        self.assertEqual([o["shape"] for o in m["outputs"]], [[1], [42]])
        w = m["weights"]
        self.assertEqual((w["file"], w["dataType"], w["byteOrder"]), ("weights.bin", "float32", "little"))
        self.assertEqual(w["bytes"], len(raw))
        self.assertEqual(w["checksum"], {"algorithm": "fnv1a64", "value": f"{fnv1a64_reference(raw):016x}"})
        self.assertRegex(w["checksum"]["value"], "^[0-9a-f]{16}$")
        layout = expected_layout(B, F, P, V, H)
        self.assertEqual({t["name"]: t["shape"] for t in m["tensors"]}, layout)
        spans = sorted((t["offset"], t["offset"] + t["bytes"]) for t in m["tensors"])
        for t in m["tensors"]:
            self.assertEqual(t["bytes"], 4 * math.prod(t["shape"]))
        self.assertEqual(spans[0][0], 0)
        for (_, end), (start, _) in zip(spans, spans[1:]):
            self.assertLessEqual(end, start)
        self.assertEqual(spans[-1][1], len(raw))
        self.assertEqual(sum(t["bytes"] for t in m["tensors"]), len(raw))
        # Byte ranges hold the folded values: check one convolution and one dense layer.
        by_name = {t["name"]: t for t in m["tensors"]}
        bn = model.blocks[1].conv2.bn
        scale = (bn.weight / torch.sqrt(bn.running_var + bn.eps)).detach().numpy()
        t = by_name["block1.conv2.weight"]
        got = np.frombuffer(raw, "<f4", count=t["bytes"] // 4, offset=t["offset"]).reshape(t["shape"])
        want = model.blocks[1].conv2.conv.weight.detach().numpy() * scale[:, None, None, None]
        np.testing.assert_allclose(got, want, rtol=1e-6, atol=1e-7)
        t = by_name["block1.conv2.bias"]
        got = np.frombuffer(raw, "<f4", count=t["bytes"] // 4, offset=t["offset"])
        want = ((-bn.running_mean) * torch.as_tensor(scale) + bn.bias).detach().numpy()
        np.testing.assert_allclose(got, want, rtol=1e-6, atol=1e-7)
        t = by_name["value.fc1.weight"]
        got = np.frombuffer(raw, "<f4", count=t["bytes"] // 4, offset=t["offset"]).reshape(t["shape"])
        np.testing.assert_array_equal(got, model.value_fc1.weight.detach().numpy())

    def test_damaged_models_are_refused(self):
        export_model(trained_looking(Architecture(1, 4, 1, 1, 8), seed=2), self.dir)
        mpath, wpath = os.path.join(self.dir, "model.json"), os.path.join(self.dir, "weights.bin")
        with open(mpath) as f:
            manifest = json.load(f)
        with open(wpath, "rb") as f:
            weights = f.read()
        load_model_dir(self.dir)

        def variant(edit=None, raw=weights):
            m = json.loads(json.dumps(manifest))
            if edit:
                edit(m)
            with open(mpath, "w") as f:
                json.dump(m, f)
            with open(wpath, "wb") as f:
                f.write(raw)
            with self.assertRaises(ModelFormatError):
                load_model_dir(self.dir)

        flipped = bytearray(weights)
        flipped[100] ^= 1
        variant(raw=bytes(flipped))
        variant(raw=weights + b"\0\0\0\0")
        variant(lambda m: m.update(formatVersion=2))  # version 2 without its int8 section
        variant(lambda m: m.update(formatVersion=3))
        variant(lambda m: m["tensors"].pop(3))
        variant(lambda m: m["tensors"][0].update(offset=m["tensors"][1]["offset"]))
        variant(lambda m: m["tensors"][-1].update(offset=len(weights) - 2))
        variant(lambda m: m["tensors"][2].update(shape=[4, 4, 3, 2]))
        variant(lambda m: m["architecture"].update(valueHidden=9))
        nan = bytearray(weights)
        nan[0:4] = np.float32("nan").tobytes()
        from tarnwick_train.export import fnv1a64
        variant(lambda m: m["weights"]["checksum"].update(value=f"{fnv1a64(bytes(nan)):016x}"), raw=bytes(nan))

    def test_non_finite_weights_are_not_exported(self):
        model = trained_looking(Architecture(1, 4, 1, 1, 8), seed=3)
        with torch.no_grad():
            model.value_fc2.bias.fill_(float("inf"))
        with self.assertRaises(ValueError):
            export_model(model, self.dir)
        self.assertFalse(os.path.exists(self.dir))


if __name__ == "__main__":
    unittest.main()
