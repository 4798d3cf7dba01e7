#!/usr/bin/python3
"""Plots referee accuracy and arena Elo per generation from a generations TSV.

  /usr/bin/python3 training/plot_generations.py docs/generations.tsv docs/img/generations.png

Columns (header line first): generation, alone_keeps, alone_best, sims50_keeps, sims50_best
(percent, from `tarnwick referee --sims 0` and `--sims 50`), elo, elo_low, elo_high (from
`tarnwick arena` against the previous kept generation; empty for the first).
"""
import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    with open(argv[0]) as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    names = [r["generation"] for r in rows]
    fig, (left, right) = plt.subplots(1, 2, figsize=(10, 3.6))
    for key, label in (("alone_keeps", "network alone, keeps outcome"),
                       ("alone_best", "network alone, best move"),
                       ("sims50_keeps", "50 sims, keeps outcome"),
                       ("sims50_best", "50 sims, best move")):
        left.plot(names, [float(r[key]) for r in rows], marker="o", label=label)
    left.set_ylabel("referee, % of positions")
    left.legend(fontsize=8)
    rated = [r for r in rows if r["elo"]]
    if rated:
        elo = [float(r["elo"]) for r in rated]
        low = [e - float(r["elo_low"]) for e, r in zip(elo, rated)]
        high = [float(r["elo_high"]) - e for e, r in zip(elo, rated)]
        right.errorbar([r["generation"] for r in rated], elo, yerr=[low, high], fmt="o", capsize=4)
    right.axhline(0, color="grey", linewidth=0.8)
    right.set_ylabel("arena Elo vs previous kept (95%)")
    fig.tight_layout()
    fig.savefig(argv[1], dpi=90)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
