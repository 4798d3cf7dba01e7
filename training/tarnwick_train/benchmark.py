"""Keeping benchmark positions out of training: a position is the stones of each column,
whatever the order they were played in, so move orders and mirror images compare equal."""

import gzip


def columns(moves):
    """The stones of each column, bottom up, 'a' for the first player."""
    cols = [""] * 7
    for i, ch in enumerate(moves):
        cols[ord(ch) - ord("1")] += "ab"[i & 1]
    return cols


def key(cols):
    return "/".join(cols)


def forbidden_keys(moves, children=False):
    """The position, its mirror image and the positions one move before either (a training
    line there teaches this position's value as a child value); with `children`, also the
    positions one move after (their values give away this position's best move)."""
    keys = set()
    last = "ab"[(len(moves) - 1) & 1]
    following = "ab"[len(moves) & 1]
    for cols in (columns(moves), columns(moves)[::-1]):
        keys.add(key(cols))
        for c, stones in enumerate(cols):
            if stones.endswith(last):
                keys.add(key(cols[:c] + [stones[:-1]] + cols[c + 1:]))
            if children and len(stones) < 6:
                keys.add(key(cols[:c] + [stones + following] + cols[c + 1:]))
    return keys


def read_lines(path):
    """The lines of a label file, plain or gzipped, without comments."""
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rt") as f:
        for line in f:
            if line and line[0] != "#":
                yield line.rstrip("\n")
