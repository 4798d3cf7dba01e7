import gzip
import os
import tempfile
import unittest

import numpy as np

from helpers import random_label_line, random_moves, write_labels
from tarnwick_train.board import decode, mirror_moves
from tarnwick_train.data import (DataError, TargetOptions, expand_files, has_policy, load_files, load_selfplay,
                                 load_solver_tsv, split_holdout, solver_targets, write_selfplay)


class SolverTargetTest(unittest.TestCase):
    def test_best_target_is_uniform_over_ties(self):
        pol, v, best, keep = solver_targets([1, 3, None, 3, -2, 0, 1], TargetOptions(policy="best"))
        np.testing.assert_allclose(pol, [0, 0.5, 0, 0.5, 0, 0, 0])
        self.assertEqual(v, 1.0)
        self.assertEqual(list(best), [False, True, False, True, False, False, False])
        self.assertEqual(list(keep), [True, True, False, True, False, False, True])

    def test_soft_target_prefers_moves_that_keep_the_outcome(self):
        opts = TargetOptions(policy="soft", temperature=1.0, keep_bonus=3.0)
        pol, v, _, _ = solver_targets([0, 0, -1, -1, None, -3, 0], opts)
        self.assertEqual(v, 0.0)
        self.assertAlmostEqual(pol.sum(), 1.0)
        self.assertEqual(pol[4], 0.0)
        self.assertAlmostEqual(pol[0], pol[1])
        # A loss one point below a draw gets exp(-1 - 3) of a draw's weight.
        self.assertAlmostEqual(pol[2] / pol[0], np.exp(-4.0))
        self.assertGreater(pol[2], pol[5])

    def test_soft_target_sharpens_to_best_at_low_temperature(self):
        pol, _, _, _ = solver_targets([2, 5, 5, None, 1, -4, 0], TargetOptions(policy="soft", temperature=0.01))
        np.testing.assert_allclose(pol, [0, 0.5, 0.5, 0, 0, 0, 0], atol=1e-9)

    def test_value_is_the_best_outcome_optionally_blended(self):
        self.assertEqual(solver_targets([-3, -1, -5, None, None, None, None], TargetOptions())[1], -1.0)
        v = solver_targets([7, 1, 0, 0, 0, 0, 0], TargetOptions(value_blend=0.5, score_scale=14))[1]
        self.assertAlmostEqual(v, 0.5 * 1 + 0.5 * 0.5)

    def test_no_legal_column_is_an_error(self):
        with self.assertRaises(DataError):
            solver_targets([None] * 7, TargetOptions())


class SolverFileTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.dir.name, "labels.tsv")

    def tearDown(self):
        self.dir.cleanup()

    def write(self, text):
        with open(self.path, "w") as f:
            f.write(text)

    def test_targets_land_on_the_cells_where_the_pieces_fall(self):
        self.write("# comment\n\n44\t-1,-1,-1,2,-1,-1,-1\n\t0,0,0,1,0,0,0\n")
        d = load_solver_tsv(self.path, TargetOptions(policy="best"), strict=True)
        self.assertEqual(len(d), 2)
        self.assertEqual(list(np.flatnonzero(d.policy[0])), [24])  # column 4 above two pieces
        self.assertEqual(list(np.flatnonzero(d.policy[1])), [38])
        np.testing.assert_array_equal(d.planes[0], decode("44")[0])
        self.assertEqual(list(d.value), [1.0, 1.0])
        self.assertEqual(list(np.flatnonzero(d.keep[0])), [24])

    def test_full_column_must_be_marked_x(self):
        self.write("111111\tx,0,0,0,0,0,0\n")
        d = load_solver_tsv(self.path, strict=True)
        self.assertEqual(d.policy[0][[0, 7, 14, 21, 28, 35]].sum(), 0)
        for bad in ("111111\t0,0,0,0,0,0,0\n", "\tx,0,0,0,0,0,0\n", "4\t1,2,3\n", "4\t1,2,3,4,5,6,y\n",
                    "49\t0,0,0,0,0,0,0\n", "4 0,0,0,0,0,0,0\n"):
            self.write(bad)
            with self.assertRaises(DataError, msg=bad):
                load_solver_tsv(self.path, strict=True)
            stats = {}
            self.assertEqual(len(load_solver_tsv(self.path, strict=False, stats=stats)), 0)
            self.assertEqual(stats["bad"], 1)

    def test_half_written_last_line_is_skipped(self):
        self.write("4\t0,0,0,0,0,0,0\n44\t0,0,0,")
        stats = {}
        self.assertEqual(len(load_solver_tsv(self.path, stats=stats)), 1)
        self.assertEqual(stats["bad"], 0)

    def test_gzipped_labels_read_like_plain_ones_and_a_cut_archive_is_refused(self):
        text = "4\t0,0,0,0,0,0,0\n44\t0,0,1,0,0,-1,0\n"
        self.write(text)
        plain = load_solver_tsv(self.path, strict=True)
        packed = gzip.compress(text.encode())
        gz = self.path + ".gz"
        for data, ok in ((packed, True), (packed[:len(packed) - 6], False)):
            with open(gz, "wb") as f:
                f.write(data)
            if ok:
                d = load_solver_tsv(gz, strict=True)
                np.testing.assert_array_equal(d.policy, plain.policy)
                np.testing.assert_array_equal(d.value, plain.value)
            else:
                with self.assertRaises(DataError):
                    load_files([gz])

    def test_repeated_position_keeps_the_last_label(self):
        self.write("12\t0,0,0,1,0,0,0\n12\t0,0,0,0,0,2,0\n")
        d = load_solver_tsv(self.path, TargetOptions(policy="best"), strict=True)
        self.assertEqual(len(d), 1)
        self.assertEqual(list(np.flatnonzero(d.policy[0])), [40])

    def test_children_carry_the_exact_value_for_the_opponent(self):
        # Column 1 wins at once for the first player: no child for it. "444" is also a
        # labelled line, so its full label replaces its child sample.
        self.write("121212\t18,-1,0,2,0,-1,-3\n44\t-1,-1,-1,2,-1,-1,-1\n444\t0,0,0,0,0,0,0\n")
        stats = {}
        d = load_solver_tsv(self.path, TargetOptions(child_values=True), strict=True, stats=stats)
        self.assertEqual(stats["children"], 6 + 7 + 7)
        labelled = has_policy(d)
        self.assertEqual(labelled.sum(), 3)
        self.assertEqual(len(d), 3 + 6 + 7 + 7 - 1)
        self.assertFalse(d.best[~labelled].any() or d.keep[~labelled].any())
        by_board = {d.planes[i].tobytes(): (d.value[i], labelled[i]) for i in range(len(d))}
        for parent, scores in (("121212", [18, -1, 0, 2, 0, -1, -3]), ("44", [-1, -1, -1, 2, -1, -1, -1])):
            for col, score in enumerate(scores):
                child = parent + str(col + 1)
                value, is_labelled = by_board.get(decode(child)[0].tobytes(), (None, None))
                if score == 18:
                    self.assertIsNone(value, child)
                elif child == "444":
                    self.assertTrue(is_labelled)
                    self.assertEqual(value, 0.0)
                else:
                    self.assertFalse(is_labelled, child)
                    self.assertEqual(value, -np.sign(score), child)


class SelfPlayTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.dir.name, "gen1.twsp")
        rng = np.random.default_rng(2)
        boards = [decode(random_moves(rng, 30)) for _ in range(20)]
        self.planes = np.stack([p for p, _ in boards])
        legal = np.stack([l for _, l in boards])
        self.visits = np.where(legal, rng.random((20, 42)), 0).astype(np.float32)
        self.visits /= self.visits.sum(axis=1, keepdims=True)
        self.results = rng.choice([-1.0, 0.0, 1.0], size=20).astype(np.float32)

    def tearDown(self):
        self.dir.cleanup()

    def test_round_trip_and_layout(self):
        write_selfplay(self.path, self.planes, self.visits, self.results)
        with open(self.path, "rb") as f:
            raw = f.read()
        self.assertEqual(raw[:4], b"TWSP")
        self.assertEqual(int.from_bytes(raw[4:8], "little"), 1)
        self.assertEqual(int.from_bytes(raw[8:16], "little"), 20)
        self.assertEqual(len(raw), 16 + 20 * 127 * 4)
        # Record 3's result is its last float.
        off = 16 + 3 * 508 + 126 * 4
        self.assertEqual(np.frombuffer(raw[off:off + 4], "<f4")[0], self.results[3])
        d = load_selfplay(self.path)
        np.testing.assert_array_equal(d.planes, self.planes)
        np.testing.assert_allclose(d.policy, self.visits, atol=1e-6)
        np.testing.assert_array_equal(d.value, self.results)
        np.testing.assert_array_equal(d.best.argmax(axis=1), self.visits.argmax(axis=1))

    def test_visits_on_illegal_cells_are_dropped(self):
        visits = self.visits.copy()
        illegal = np.argmin(self.visits > 0, axis=1)  # first cell without visits: not legal
        visits[np.arange(20), illegal] = 1.0
        write_selfplay(self.path, self.planes, visits, self.results)
        d = load_selfplay(self.path)
        self.assertTrue((d.policy[np.arange(20), illegal] == 0).all())
        np.testing.assert_allclose(d.policy, self.visits, atol=1e-6)
        np.testing.assert_allclose(d.policy.sum(axis=1), 1.0, atol=1e-6)

    def test_damaged_files_are_refused(self):
        write_selfplay(self.path, self.planes, self.visits, self.results)
        with open(self.path, "rb") as f:
            good = f.read()
        bad_planes = bytearray(good)
        bad_planes[16:20] = np.float32(0.5).tobytes()
        for raw in (b"TWSQ" + good[4:], good[:4] + (2).to_bytes(4, "little") + good[8:], good[:-4],
                    good + b"\0" * 508, good[:8] + (2 ** 62).to_bytes(8, "little") + good[16:],
                    bytes(bad_planes), good[:10]):
            with open(self.path, "wb") as f:
                f.write(raw)
            with self.assertRaises(DataError):
                load_selfplay(self.path)


class FileSetTest(unittest.TestCase):
    def test_replay_window_keeps_the_newest_files_and_kinds_mix(self):
        rng = np.random.default_rng(4)
        with tempfile.TemporaryDirectory() as d:
            paths = []
            for g in range(4):
                p = os.path.join(d, f"gen{g}.twsp")
                planes = np.stack([decode(random_moves(rng, 20))[0] for _ in range(g + 1)])
                write_selfplay(p, planes, np.full((g + 1, 42), 1 / 42), np.zeros(g + 1))
                os.utime(p, (1000 + 10 * (3 - g), 1000 + 10 * (3 - g)))  # gen0 newest
                paths.append(p)
            labels = os.path.join(d, "labels.tsv")
            write_labels(labels, rng, 5)
            os.utime(labels, (1, 1))
            pattern = os.path.join(d, "*.twsp")
            self.assertEqual(expand_files([pattern], 2), [paths[1], paths[0]])
            self.assertEqual(len(expand_files([pattern, labels])), 5)
            self.assertEqual(expand_files([pattern, labels])[0], labels)
            self.assertEqual(len(load_files(expand_files([pattern], 2))), 3)
            self.assertEqual(len(load_files([labels, paths[3]])), 5 + 4)


class HoldoutTest(unittest.TestCase):
    def test_split_is_stable_and_keeps_mirror_pairs_together(self):
        rng = np.random.default_rng(8)
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "l.tsv")
            moves = list({random_moves(rng, 12) for _ in range(600)})
            with open(path, "w") as f:
                for m in moves:
                    line = random_label_line(rng, m)
                    f.write(line + "\n")
                    scores = line.split("\t")[1].split(",")
                    f.write(mirror_moves(m) + "\t" + ",".join(reversed(scores)) + "\n")
            data = load_solver_tsv(path, strict=True)
        train, held = split_holdout(data, 0.2)
        self.assertEqual(len(train) + len(held), len(data))
        self.assertTrue(0.1 * len(data) < len(held) < 0.3 * len(data))
        held_keys = {p.tobytes() for p in held.planes}
        for p in train.planes:
            self.assertNotIn(p[..., ::-1].tobytes(), held_keys)
        train2, held2 = split_holdout(data.subset(np.arange(len(data))[::-1]), 0.2)
        self.assertEqual({p.tobytes() for p in held2.planes}, held_keys)


if __name__ == "__main__":
    unittest.main()
