"""The critical benchmark set stays out of everything the network is trained on."""

import glob
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from tarnwick_train.benchmark import columns, forbidden_keys, key, read_lines  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CRITICAL = os.path.join(ROOT, "bench", "critical.tsv")
PHASES = [(4, 9), (10, 16), (17, 24), (25, 34)]


def training_files():
    """Every label file the pipeline reads: the committed ones and any local ones."""
    t = os.path.join(ROOT, "training")
    files = glob.glob(os.path.join(t, "labels", "**", "*.tsv*"), recursive=True)
    files += glob.glob(os.path.join(t, "data", "**", "*.tsv*"), recursive=True)
    files += [os.path.join(t, "opening-tree.tsv"), os.path.join(t, "opening-subtrees.tsv")]
    return sorted(f for f in files if os.path.isfile(f))


def critical_lines():
    return [line.split("\t") for line in read_lines(CRITICAL) if line]


def sign(x):
    return (x > 0) - (x < 0)


class CriticalSetTest(unittest.TestCase):
    def test_every_position_is_critical_and_distinct(self):
        seen = set()
        per_phase = [0] * len(PHASES)
        for moves, scores in critical_lines():
            values = [int(s) for s in scores.split(",") if s != "x"]
            self.assertTrue(any(sign(v) != sign(max(values)) for v in values), moves)
            cols = columns(moves)
            self.assertNotIn(key(cols), seen, f"{moves} or its mirror twice")
            seen.update({key(cols), key(cols[::-1])})
            phase = [i for i, (lo, hi) in enumerate(PHASES) if lo <= len(moves) <= hi]
            self.assertEqual(len(phase), 1, moves)
            per_phase[phase[0]] += 1
        self.assertTrue(all(n > 0 for n in per_phase), per_phase)

    def test_no_position_nor_its_mirror_nor_a_parent_is_trained_on(self):
        forbidden = {}
        for moves, _ in critical_lines():
            for k in forbidden_keys(moves):
                forbidden[k] = moves
        files = training_files()
        self.assertTrue(any(f.endswith(".gz") for f in files))
        for path in files:
            for line in read_lines(path):
                moves = line.split("\t", 1)[0]
                hit = forbidden.get(key(columns(moves)))
                self.assertIsNone(hit, f"{os.path.relpath(path, ROOT)}: {moves} against {hit}")

    def test_the_check_finds_a_planted_position(self):
        # The mirror of a position one move before a critical one: the check must see it.
        moves = critical_lines()[0][0]
        parent = "".join(chr(ord("1") + ord("7") - ord(ch)) for ch in moves[:-1])
        self.assertIn(key(columns(parent)), forbidden_keys(moves))
        # A different move order reaching the same position is the same position.
        self.assertEqual(key(columns("4453")), key(columns("5344")))
        # With children asked for (mined training data), one move after, or after the mirror,
        # is left out too; two moves after is not.
        with_children = forbidden_keys("4453", children=True)
        for child in ("44531", "44357"):
            self.assertIn(key(columns(child)), with_children)
            self.assertNotIn(key(columns(child)), forbidden_keys("4453"))
        self.assertNotIn(key(columns("445311")), with_children)


if __name__ == "__main__":
    unittest.main()
