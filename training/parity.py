#!/usr/bin/python3
"""Checks that the C++ interpreter and PyTorch agree on an exported model.

  /usr/bin/python3 training/parity.py --checkpoint RUN/best.pt --model EXPORT.mlmodelc \
      --tarnwick build/release/tools/tarnwick [--positions 200] [--tolerance 1e-4]

Plays random games to get positions, runs them through the checkpoint in PyTorch and through
`tarnwick evaluate --model EXPORT`, and fails when any value or raw score differs by more
than the tolerance.
"""
import argparse
import os
import random
import subprocess
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from tarnwick_train import COLUMNS, ROWS  # noqa: E402
from tarnwick_train.board import Position  # noqa: E402


def wins(owner, player):
    for r in range(ROWS):
        for c in range(COLUMNS):
            for dr, dc in ((0, 1), (1, 0), (1, 1), (1, -1)):
                cells = [(r + k * dr, c + k * dc) for k in range(4)]
                if all(0 <= y < ROWS and 0 <= x < COLUMNS and owner[y, x] == player for y, x in cells):
                    return True
    return False


def random_positions(count, seed):
    """Move strings of open games, of every length from the empty board on."""
    rng = random.Random(seed)
    out = []
    while len(out) < count:
        pos, moves = Position(), ""
        for _ in range(rng.randrange(0, 36)):
            open_columns = [c for c in range(COLUMNS) if pos.heights[c] < ROWS]
            column = rng.choice(open_columns)
            mover = 1 + pos.ply % 2
            pos.play(column)
            if wins(pos.owner, mover):
                break
            moves += str(column + 1)
        out.append(moves)
    return out[:count]


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--checkpoint", required=True)
    p.add_argument("--model", required=True)
    p.add_argument("--tarnwick", required=True)
    p.add_argument("--positions", type=int, default=200)
    p.add_argument("--tolerance", type=float, default=1e-4)
    p.add_argument("--seed", type=int, default=1)
    a = p.parse_args(argv)

    import torch

    from tarnwick_train.model import Architecture, TarnwickNet

    ck = torch.load(a.checkpoint, map_location="cpu")
    net = TarnwickNet(Architecture(**ck["arch"]))
    net.load_state_dict(ck["model"])
    net.eval()

    moves = random_positions(a.positions, a.seed)
    planes = np.stack([Position(m).planes() for m in moves])
    with torch.no_grad():
        value, policy = net(torch.from_numpy(planes))
    expected = np.concatenate([value.numpy()[:, None], policy.numpy()], axis=1).astype(np.float64)

    run = subprocess.run([a.tarnwick, "evaluate", "--model", a.model], input="\n".join(moves) + "\n",
                         capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"parity: tarnwick evaluate failed: {run.stderr.strip()}")
    got = np.array([[float(v) for v in line.split()] for line in run.stdout.splitlines()])
    if got.shape != expected.shape:
        sys.exit(f"parity: expected {expected.shape} outputs, tarnwick printed {got.shape}")
    worst = np.abs(got - expected).max()
    print(f"parity: {len(moves)} positions, largest difference {worst:.2e} (tolerance {a.tolerance:g})")
    return 0 if worst <= a.tolerance else 1


if __name__ == "__main__":
    sys.exit(main())
