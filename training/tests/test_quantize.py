import json
import os
import subprocess
import sys
import tempfile
import unittest

import numpy as np
import torch

from helpers import random_moves, write_labels
from tarnwick_train.board import decode
from tarnwick_train.export import export_model, load_model_dir, numpy_forward
from tarnwick_train.model import Architecture, TarnwickNet
from tarnwick_train.quantize import (QMAX_WEIGHT, int8_forward, load_int8, quantize_input,
                                     quantize_model, quantize_weight, read_positions)

torch.set_num_threads(1)
QUANTIZE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "quantize.py")


class QuantizeWeightTest(unittest.TestCase):
    def test_symmetric_per_output_channel(self):
        rng = np.random.default_rng(1)
        w = rng.normal(size=(5, 3, 3, 3)) * np.array([1e-3, 1, 10, 0, 0.5])[:, None, None, None]
        q, scale = quantize_weight(w)
        self.assertEqual(q.dtype, np.int8)
        self.assertEqual(scale.dtype, np.float32)
        for o in (0, 1, 2, 4):
            # Each channel's largest magnitude lands on +-127, nothing on -128, and every
            # weight comes back within half a step.
            self.assertEqual(np.abs(q[o]).max(), QMAX_WEIGHT)
            self.assertTrue(np.all(np.abs(q[o] * float(scale[o]) - w[o]) <= float(scale[o]) * 0.5 + 1e-12))
        self.assertGreaterEqual(int(q.min()), -QMAX_WEIGHT)
        # An all-zero channel gets a usable scale and zero weights.
        self.assertEqual(float(scale[3]), 1.0)
        self.assertFalse(q[3].any())

    def test_input_codes_round_half_up_and_clamp(self):
        codes = quantize_input(np.array([-1.0, 0.0, 0.5, 1.5, 2.49, 254.6, 1e9]), 1.0)
        np.testing.assert_array_equal(codes, [0, 0, 1, 2, 2, 255, 255])


class QuantizeModelTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.src = os.path.join(self.tmp.name, "f.mlmodelc")
        self.dst = os.path.join(self.tmp.name, "q.mlmodelc")
        self.labels = os.path.join(self.tmp.name, "labels.tsv")
        torch.manual_seed(3)
        self.arch = Architecture(blocks=2, filters=8, policy_filters=2, value_filters=1, value_hidden=16)
        export_model(TarnwickNet(self.arch).eval(), self.src)
        write_labels(self.labels, np.random.default_rng(4), 300)

    def tearDown(self):
        self.tmp.cleanup()

    def test_the_export_keeps_the_float_model_and_adds_a_close_int8_one(self):
        manifest = quantize_model(self.src, self.dst, self.labels, count=200, seed=1)
        self.assertEqual(manifest["formatVersion"], 2)
        self.assertIn("200 positions", manifest["int8"]["calibration"])
        # The float tensors are the source's, bit for bit.
        _, before = load_model_dir(self.src)
        _, after = load_model_dir(self.dst)
        self.assertEqual(before.keys(), after.keys())
        for name in before:
            np.testing.assert_array_equal(before[name], after[name], err_msg=name)
        q, _ = load_int8(self.dst)
        names = ["stem"] + [f"block{i}.conv{j}" for i in range(2) for j in (1, 2)]
        self.assertEqual(set(q), {f"{n}.{k}" for n in names for k in ("weight", "weightScale", "inputScale")})
        self.assertEqual(q["stem.weight"].shape, (8, 2, 3, 3))
        self.assertEqual(q["block1.conv2.weight"].dtype, np.int8)
        self.assertAlmostEqual(float(q["stem.inputScale"][0]), 1 / 255, places=9)
        for n in names:
            self.assertGreater(float(q[n + ".inputScale"][0]), 0)
        # Float scale entries lie on 4-byte boundaries, as the loader requires.
        with open(os.path.join(self.dst, "model.json")) as f:
            entries = json.load(f)["int8"]["tensors"]
        for e in entries:
            if e["dataType"] == "float32":
                self.assertEqual(e["offset"] % 4, 0, e["name"])
        planes = np.stack([decode(random_moves(np.random.default_rng(i), 30))[0] for i in range(100)])
        fv, fs = numpy_forward(self.dst, planes)
        qv, qs = int8_forward(self.dst, planes)
        self.assertLess(np.abs(fv - qv).max(), 0.02)
        self.assertLess(np.abs(fs - qs).max(), 0.05)
        self.assertGreater(np.abs(fs - qs).max(), 0)  # quantized, not a copy of float

    def test_calibration_reads_training_lines_reproducibly(self):
        a = read_positions(self.labels, 50, seed=7)
        b = read_positions(self.labels, 50, seed=7)
        c = read_positions(self.labels, 50, seed=8)
        self.assertEqual(a.shape, (50, 2, 6, 7))
        np.testing.assert_array_equal(a, b)
        self.assertFalse(np.array_equal(a, c))
        bad = os.path.join(self.tmp.name, "bad.tsv")
        with open(bad, "w") as f:
            f.write("# nothing\n99\tx\n1111111\t0\n")
        with self.assertRaises(ValueError):
            read_positions(bad, 10, seed=1)

    def test_the_command_refuses_the_critical_set(self):
        critical = os.path.join(self.tmp.name, "bench", "critical.tsv")
        os.makedirs(os.path.dirname(critical))
        with open(critical, "w") as f:
            f.write("4\t0,0,0,0,0,0,0\n")
        result = subprocess.run([sys.executable, QUANTIZE, self.src, self.dst, "--calibration", critical],
                                capture_output=True, text=True)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("critical set", result.stderr)
        self.assertFalse(os.path.exists(self.dst))


if __name__ == "__main__":
    unittest.main()
