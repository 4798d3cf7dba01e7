#!/usr/bin/python3
"""Plots the training and held-out losses of a run's log.txt to a PNG."""

import re
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

STEP = re.compile(r" step (\d+)/\d+ \|.* value ([0-9.]+) policy ([0-9.]+) \|")
EVAL = re.compile(r"eval step (\d+) .*value ([0-9.]+) policy ([0-9.]+) best-move acc ([0-9.]+) "
                  r"keeps-outcome acc ([0-9.]+)")


def parse(path):
    train, held = [], []
    with open(path, encoding="utf-8") as f:
        for line in f:
            if m := EVAL.search(line):
                held.append(tuple(float(g) for g in m.groups()))
            elif m := STEP.search(line):
                train.append(tuple(float(g) for g in m.groups()))
    return train, held


def main(argv):
    if len(argv) != 2:
        sys.exit("usage: plot_log.py LOG PNG")
    train, held = parse(argv[0])
    fig, (ax1, ax2) = plt.subplots(1, 2, figsize=(11, 4))
    if train:
        s, v, p = zip(*train)
        ax1.plot(s, v, label="train value", alpha=0.6)
        ax1.plot(s, p, label="train policy", alpha=0.6)
    if held:
        s, v, p, best, keep = zip(*held)
        ax1.plot(s, v, "o-", label="held-out value")
        ax1.plot(s, p, "o-", label="held-out policy")
        ax2.plot(s, best, "o-", label="best-move acc")
        ax2.plot(s, keep, "o-", label="keeps-outcome acc")
    ax1.set_xlabel("step")
    ax1.set_ylabel("loss")
    ax1.legend()
    ax2.set_xlabel("step")
    ax2.set_ylabel("held-out accuracy")
    ax2.legend()
    fig.tight_layout()
    fig.savefig(argv[1], dpi=90)


if __name__ == "__main__":
    main(sys.argv[1:])
