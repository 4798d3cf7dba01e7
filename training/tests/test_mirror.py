import os
import tempfile
import unittest

import numpy as np
import torch

from helpers import random_label_line, random_moves
from tarnwick_train.board import MIRROR_CELLS, decode, mirror_cells, mirror_moves, mirror_planes
from tarnwick_train.data import TargetOptions, load_solver_tsv
from tarnwick_train.trainer import mirror_batch


class MirrorTest(unittest.TestCase):
    def test_cell_map(self):
        self.assertEqual(int(MIRROR_CELLS[0]), 6)
        self.assertEqual(int(MIRROR_CELLS[35]), 41)
        self.assertEqual(int(MIRROR_CELLS[38]), 38)
        self.assertEqual(int(MIRROR_CELLS[9]), 11)
        np.testing.assert_array_equal(MIRROR_CELLS[MIRROR_CELLS], np.arange(42))

    def test_mirrored_planes_equal_the_mirrored_game(self):
        rng = np.random.default_rng(5)
        for _ in range(100):
            moves = random_moves(rng, 42)
            planes, legal = decode(moves)
            mplanes, mlegal = decode(mirror_moves(moves))
            np.testing.assert_array_equal(mirror_planes(planes), mplanes)
            np.testing.assert_array_equal(mirror_cells(legal), mlegal)

    def test_policy_target_follows_the_mirror(self):
        rng = np.random.default_rng(6)
        lines, mirrored = [], []
        for _ in range(50):
            moves = random_moves(rng, 30)
            line = random_label_line(rng, moves)
            scores = line.split("\t")[1].split(",")
            lines.append(line)
            mirrored.append(mirror_moves(moves) + "\t" + ",".join(reversed(scores)))
        with tempfile.TemporaryDirectory() as d:
            a, b = os.path.join(d, "a.tsv"), os.path.join(d, "b.tsv")
            for path, rows in ((a, lines), (b, mirrored)):
                with open(path, "w") as f:
                    f.write("\n".join(rows) + "\n")
            opts = TargetOptions(policy="soft")
            da, db = load_solver_tsv(a, opts, strict=True), load_solver_tsv(b, opts, strict=True)
        # Duplicate positions may have been merged; match the records by position.
        index = {db.planes[i].tobytes(): i for i in range(len(db))}
        self.assertEqual(len(da), len(db))
        for i in range(len(da)):
            j = index[mirror_planes(da.planes[i]).tobytes()]
            np.testing.assert_allclose(mirror_cells(da.policy[i]), db.policy[j], atol=1e-6)
            np.testing.assert_array_equal(mirror_cells(da.best[i]), db.best[j])
            self.assertEqual(da.value[i], db.value[j])

    def test_mirror_batch_flips_only_the_chosen_rows(self):
        rng = np.random.default_rng(7)
        boards = [decode(random_moves(rng, 30)) for _ in range(8)]
        planes = torch.as_tensor(np.stack([p for p, _ in boards]))
        legal = torch.as_tensor(np.stack([l for _, l in boards]))
        policy = torch.as_tensor(rng.random((8, 42)).astype(np.float32))
        flip = torch.tensor([True, False] * 4)
        p2, pol2, l2 = mirror_batch(planes, policy, legal, flip)
        for i in range(8):
            if flip[i]:
                np.testing.assert_array_equal(p2[i].numpy(), mirror_planes(planes[i].numpy()))
                np.testing.assert_array_equal(pol2[i].numpy(), mirror_cells(policy[i].numpy()))
                np.testing.assert_array_equal(l2[i].numpy(), mirror_cells(legal[i].numpy()))
            else:
                self.assertTrue(torch.equal(p2[i], planes[i]))
                self.assertTrue(torch.equal(pol2[i], policy[i]))
        # The inputs are left as they were.
        np.testing.assert_array_equal(planes[0].numpy(), boards[0][0])


if __name__ == "__main__":
    unittest.main()
