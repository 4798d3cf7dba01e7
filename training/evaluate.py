#!/usr/bin/python3
"""Scores an exported model folder on labelled data with the numpy reference forward pass.

  /usr/bin/python3 training/evaluate.py MODEL.mlmodelc DATA... [--heldout-only]

Prints value MSE, best-move accuracy and keeps-outcome accuracy of the top legal cell.
"""

import argparse
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from tarnwick_train.board import legal_mask_from_planes  # noqa: E402
from tarnwick_train.data import expand_files, load_files, split_holdout  # noqa: E402
from tarnwick_train.export import numpy_forward  # noqa: E402


def score(model_dir, data, batch=1024):
    legal = legal_mask_from_planes(data.planes)
    sq, best, keep = 0.0, 0, 0
    for s in range(0, len(data), batch):
        v, p = numpy_forward(model_dir, data.planes[s:s + batch])
        top = np.where(legal[s:s + batch], p, -np.inf).argmax(axis=1)
        rows = np.arange(len(top))
        sq += float(((v - data.value[s:s + batch]) ** 2).sum())
        best += int(data.best[s:s + batch][rows, top].sum())
        keep += int(data.keep[s:s + batch][rows, top].sum())
    n = max(len(data), 1)
    return {"positions": len(data), "value_mse": sq / n, "best_acc": best / n, "keep_acc": keep / n}


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("model")
    p.add_argument("data", nargs="+")
    p.add_argument("--heldout-only", action="store_true", help="only the trainer's held-out slice")
    p.add_argument("--holdout", type=float, default=0.05)
    a = p.parse_args(argv)
    data = load_files(expand_files(a.data))
    if a.heldout_only:
        data = split_holdout(data, a.holdout)[1]
    r = score(a.model, data)
    print(f"{r['positions']} positions: value MSE {r['value_mse']:.4f}, best-move acc {r['best_acc']:.3f}, "
          f"keeps-outcome acc {r['keep_acc']:.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
