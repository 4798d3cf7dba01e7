#!/usr/bin/python3
"""Adds an int8 section to a float model (docs/model-format.md, "The int8 section").

  /usr/bin/python3 training/quantize.py IN.mlmodelc OUT.mlmodelc \
      --calibration training/labels/solver-labels-1001.tsv.gz [--positions 2000] [--seed 1]

Calibrate on training positions only: the critical set (bench/critical.tsv) judges the result.
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from tarnwick_train.quantize import quantize_model  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("input")
    parser.add_argument("output")
    parser.add_argument("--calibration", required=True, help="label or opening file, first column moves")
    parser.add_argument("--positions", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--percentile", type=float, default=99.99)
    args = parser.parse_args()
    if os.path.abspath(args.calibration).endswith(os.path.join("bench", "critical.tsv")):
        parser.error("the critical set judges the int8 model; calibrate on training positions")
    manifest = quantize_model(args.input, args.output, args.calibration, args.positions, args.seed,
                              args.percentile)
    print(f"{args.output}: {manifest['int8']['calibration']}")


if __name__ == "__main__":
    main()
