#!/usr/bin/python3
"""Copies label lines, leaving out every line that would teach a benchmark position: the
position itself, its mirror image, or a position one move before or after either.

    training/keep_out.py IN OUT [--bench bench/critical.tsv]
"""

import argparse

from tarnwick_train.benchmark import columns, forbidden_keys, key, read_lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("input")
    parser.add_argument("output")
    parser.add_argument("--bench", default="bench/critical.tsv")
    args = parser.parse_args()
    forbidden = set()
    for line in read_lines(args.bench):
        if line:
            forbidden |= forbidden_keys(line.split("\t", 1)[0], children=True)
    kept = dropped = 0
    with open(args.output, "w") as out:
        for line in read_lines(args.input):
            if not line:
                continue
            if key(columns(line.split("\t", 1)[0])) in forbidden:
                dropped += 1
            else:
                out.write(line + "\n")
                kept += 1
    print(f"kept {kept}, left out {dropped}")


if __name__ == "__main__":
    main()
