"""Shared fixtures: random legal move strings and solver-label files with made-up scores."""

import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from tarnwick_train.board import Position  # noqa: E402


def random_moves(rng, max_len=30):
    pos = Position()
    moves = []
    for _ in range(int(rng.integers(0, max_len + 1))):
        open_cols = [c for c in range(7) if pos.landing_cell(c) is not None]
        c = int(rng.choice(open_cols))
        pos.play(c)
        moves.append(str(c + 1))
    return "".join(moves)


def random_label_line(rng, moves):
    pos = Position(moves)
    scores = [("x" if pos.landing_cell(c) is None else str(int(rng.integers(-5, 6)))) for c in range(7)]
    return f"{moves}\t{','.join(scores)}"


def write_labels(path, rng, count, max_len=30):
    with open(path, "w") as f:
        f.write("# made-up scores for tests\n")
        for _ in range(count):
            f.write(random_label_line(rng, random_moves(rng, max_len)) + "\n")
