import os
import tempfile
import unittest

import numpy as np
import torch

import helpers  # noqa: F401  (puts the training folder on the path)
from average import average
from tarnwick_train.export import export_model, load_model_dir, numpy_forward
from tarnwick_train.model import Architecture, TarnwickNet

torch.set_num_threads(1)


def exported(arch, seed, folder):
    torch.manual_seed(seed)
    model = TarnwickNet(arch).eval()
    export_model(model, folder)
    return load_model_dir(folder)[1]


class AverageTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.arch = Architecture(blocks=1, filters=8, policy_filters=2, value_filters=1, value_hidden=8)
        self.a = os.path.join(self.tmp.name, "a.mlmodelc")
        self.b = os.path.join(self.tmp.name, "b.mlmodelc")
        self.ta = exported(self.arch, 1, self.a)
        self.tb = exported(self.arch, 2, self.b)

    def tearDown(self):
        self.tmp.cleanup()

    def test_weights_are_normalised_and_the_result_loads(self):
        out = os.path.join(self.tmp.name, "soup.mlmodelc")
        average(out, [(self.a, 3.0), (self.b, 1.0)])
        _, soup = load_model_dir(out)  # checks the manifest and checksum too
        self.assertEqual(set(soup), set(self.ta))
        for name in soup:
            np.testing.assert_allclose(soup[name], 0.75 * self.ta[name] + 0.25 * self.tb[name],
                                       rtol=1e-6, atol=1e-7)
        v, p = numpy_forward(out, np.zeros((1, 2, 6, 7), dtype=np.float32))
        self.assertTrue(np.isfinite(v).all() and np.isfinite(p).all())

    def test_a_single_model_comes_back_unchanged(self):
        out = os.path.join(self.tmp.name, "same.mlmodelc")
        average(out, [(self.a, 0.5)])
        with open(os.path.join(self.a, "weights.bin"), "rb") as f, \
                open(os.path.join(out, "weights.bin"), "rb") as g:
            self.assertEqual(f.read(), g.read())

    def test_mismatched_towers_and_bad_weights_are_refused(self):
        c = os.path.join(self.tmp.name, "c.mlmodelc")
        exported(Architecture(blocks=2, filters=8, policy_filters=2, value_filters=1, value_hidden=8), 3, c)
        out = os.path.join(self.tmp.name, "bad.mlmodelc")
        with self.assertRaises(ValueError):
            average(out, [(self.a, 1.0), (c, 1.0)])
        for weights in ([], [(self.a, 0.0)], [(self.a, 1.0), (self.b, -0.5)]):
            with self.assertRaises(ValueError):
                average(out, weights)
        self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    unittest.main()
