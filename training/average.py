#!/usr/bin/python3
"""Writes the weighted average of model folders of one architecture (a "model soup").

  /usr/bin/python3 training/average.py OUT.mlmodelc MODEL.mlmodelc=WEIGHT...

The weights are normalised to sum to 1. Averaging makes sense for networks fine-tuned from a
common ancestor, whose weights stay close enough for their mean to be a good network too.
"""

import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from tarnwick_train.export import load_model_dir, write_model_dir  # noqa: E402


def average(out_dir, weighted):
    """weighted: [(model folder, weight)] -> the manifest written to out_dir."""
    total = sum(w for _, w in weighted)
    if not weighted or any(w < 0 for _, w in weighted) or total <= 0:
        raise ValueError("weights must be non-negative with a positive sum")
    arch, mean = None, {}
    for model_dir, w in weighted:
        manifest, tensors = load_model_dir(model_dir)
        if arch is None:
            arch = manifest["architecture"]
        elif manifest["architecture"] != arch:
            raise ValueError(f"{model_dir}: architecture {manifest['architecture']} differs from {arch}")
        for name, t in tensors.items():
            mean[name] = mean.get(name, 0.0) + t.astype(np.float64) * (w / total)
    description = "weighted average of " + ", ".join(
        f"{os.path.basename(os.path.normpath(d))} ({w / total:g})" for d, w in weighted)
    return write_model_dir(arch, mean, out_dir, description)


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__.strip())
    try:
        weighted = []
        for arg in argv[1:]:
            model_dir, sep, w = arg.rpartition("=")
            if not sep:
                model_dir, w = arg, "1"
            weighted.append((model_dir, float(w)))
        average(argv[0], weighted)
    except (ValueError, OSError) as e:
        sys.exit(f"average.py: {e}")


if __name__ == "__main__":
    main(sys.argv[1:])
