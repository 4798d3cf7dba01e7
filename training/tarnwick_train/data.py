"""Training data: solver-labelled positions (TSV) and self-play records (binary TWSP files).

Every source is turned into the same arrays:
  planes [N, 2, 6, 7] float32, policy [N, 42] float32 (sums to 1 over legal cells),
  value [N] float32 (from the player to move), best [N, 42] bool (the best moves),
  keep [N, 42] bool (moves that keep the game-theoretic outcome of the position).
For self-play records, best and keep are both the most visited cells.
"""

import glob
import gzip
import os
import struct
import zlib
from dataclasses import dataclass

import numpy as np

from . import CELLS, COLUMNS
from .board import Position, legal_mask_from_planes

SELFPLAY_MAGIC = b"TWSP"
SELFPLAY_VERSION = 1
SELFPLAY_HEADER = struct.Struct("<4sIQ")
SELFPLAY_FLOATS = 84 + 42 + 1
SELFPLAY_RECORD_BYTES = SELFPLAY_FLOATS * 4


@dataclass
class TargetOptions:
    """How solver scores become training targets.

    policy: "best" = uniform over the best-scoring legal moves;
            "soft" = softmax over score / temperature + keep_bonus for moves whose outcome
                     (win / draw / loss) equals the best move's.
    value_blend: 0 gives the pure outcome of the best move (+1, 0, -1); a > 0 mixes in
                 score / score_scale (clipped), so quick wins count more than slow ones.
    child_values: every line also yields value-only samples for the positions after each of
                  its open columns, whose exact values the line's scores already give (their
                  policy, best and keep are all zero; a finished game is not a sample).
    """

    policy: str = "soft"
    temperature: float = 1.0
    keep_bonus: float = 3.0
    value_blend: float = 0.0
    score_scale: float = 21.0
    child_values: bool = False


class DataError(ValueError):
    pass


@dataclass
class Dataset:
    planes: np.ndarray
    policy: np.ndarray
    value: np.ndarray
    best: np.ndarray
    keep: np.ndarray

    def __len__(self):
        return len(self.value)

    @staticmethod
    def empty():
        return Dataset(np.zeros((0, 2, 6, 7), np.float32), np.zeros((0, CELLS), np.float32),
                       np.zeros((0,), np.float32), np.zeros((0, CELLS), bool), np.zeros((0, CELLS), bool))

    @staticmethod
    def concat(parts):
        parts = [p for p in parts if len(p)]
        if not parts:
            return Dataset.empty()
        return Dataset(*(np.concatenate([getattr(p, f) for p in parts]) for f in
                         ("planes", "policy", "value", "best", "keep")))

    def subset(self, index):
        return Dataset(self.planes[index], self.policy[index], self.value[index], self.best[index],
                       self.keep[index])


def score_value(score, opts):
    """A solver score (from the player to move) -> value target in [-1, 1]."""
    return (1.0 - opts.value_blend) * float(np.sign(score)) + opts.value_blend * float(
        np.clip(score / opts.score_scale, -1.0, 1.0))


def has_policy(data):
    """Rows that carry a policy target (value-only child samples do not)."""
    return data.policy.sum(axis=1) > 0


def child_samples(pos, scores, opts):
    """Value-only samples for the positions one move after `pos`: (planes, values)."""
    win_now = (CELLS + 1 - pos.ply) // 2
    if pos.ply + 1 >= CELLS:
        return [], []
    parent = pos.planes()
    planes, values = [], []
    for col, s in enumerate(scores):
        if s is None or s == win_now:  # full, or the move ends the game
            continue
        cell = pos.landing_cell(col)
        child = parent[::-1].copy()  # the opponent moves next
        child[1, cell // COLUMNS, cell % COLUMNS] = 1.0
        planes.append(child)
        values.append(-score_value(s, opts))
    return planes, values


def solver_targets(scores, opts):
    """scores: 7 entries, int or None for a full column -> (policy over columns [7], value, best, keep)."""
    legal = [i for i, s in enumerate(scores) if s is not None]
    if not legal:
        raise DataError("no legal column")
    best_score = max(scores[i] for i in legal)
    outcome = float(np.sign(best_score))
    best = np.zeros(COLUMNS, bool)
    keep = np.zeros(COLUMNS, bool)
    for i in legal:
        best[i] = scores[i] == best_score
        keep[i] = np.sign(scores[i]) == outcome
    policy = np.zeros(COLUMNS, np.float64)
    if opts.policy == "best":
        policy[best] = 1.0
    elif opts.policy == "soft":
        if opts.temperature <= 0:
            raise ValueError("temperature must be > 0")
        logits = np.array([(scores[i] - best_score) / opts.temperature + (opts.keep_bonus if keep[i] else 0.0)
                           for i in legal])
        w = np.exp(logits - logits.max())
        policy[legal] = w
    else:
        raise ValueError(f"unknown policy target {opts.policy!r}")
    policy /= policy.sum()
    return policy, score_value(best_score, opts), best, keep


def parse_solver_line(line):
    """'moves<TAB>s1,...,s7' -> (moves, scores with None for 'x'); checks scores against the board."""
    fields = line.rstrip("\r\n").split("\t")
    if len(fields) != 2:
        raise DataError("expected two tab-separated fields")
    moves, score_text = fields[0].strip(), fields[1].strip()
    parts = score_text.split(",")
    if len(parts) != COLUMNS:
        raise DataError(f"expected {COLUMNS} scores, got {len(parts)}")
    scores = []
    for p in parts:
        p = p.strip()
        if p == "x":
            scores.append(None)
        else:
            try:
                scores.append(int(p))
            except ValueError:
                raise DataError(f"score {p!r} is neither an integer nor x") from None
    pos = Position(moves)
    for col, s in enumerate(scores):
        full = pos.landing_cell(col) is None
        if full != (s is None):
            raise DataError(f"column {col + 1} is {'full' if full else 'open'} but its score is {parts[col]!r}")
    return moves, scores, pos


def load_solver_tsv(path, opts=None, strict=False, stats=None):
    """Reads a solver label file. With strict=False, malformed lines are counted in
    stats['bad'] and skipped, and a last line without a newline (still being written) is
    ignored; with strict=True the first malformed line raises DataError."""
    opts = opts or TargetOptions()
    stats = stats if stats is not None else {}
    stats.setdefault("bad", 0)
    stats.setdefault("lines", 0)
    planes, policy, value, best, keep = [], [], [], [], []
    child_planes, child_values = [], []
    # Finished label files are kept gzipped in the repository, so a new machine has them.
    opener = gzip.open if path.endswith(".gz") else open
    try:
        with opener(path, "rt", encoding="utf-8", errors="replace") as f:
            text = f.read()
    except (EOFError, gzip.BadGzipFile, zlib.error) as e:
        raise DataError(f"{path}: {e}") from None
    lines = text.split("\n")
    if not text.endswith("\n"):
        tail = lines.pop()  # possibly half-written
        if strict and tail.strip() and not tail.lstrip().startswith("#"):
            lines.append(tail)
    for number, line in enumerate(lines, 1):
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        try:
            moves, scores, pos = parse_solver_line(line)
            pol7, v, b7, k7 = solver_targets(scores, opts)
        except ValueError as e:
            if strict:
                raise DataError(f"{path}:{number}: {e}") from None
            stats["bad"] += 1
            continue
        stats["lines"] += 1
        if opts.child_values:
            cp, cv = child_samples(pos, scores, opts)
            child_planes += cp
            child_values += cv
        cells = np.array([pos.landing_cell(c) if pos.landing_cell(c) is not None else -1 for c in range(COLUMNS)])
        open_cols = cells >= 0
        pi = np.zeros(CELLS, np.float32)
        pi[cells[open_cols]] = pol7[open_cols]
        bm = np.zeros(CELLS, bool)
        bm[cells[open_cols]] = b7[open_cols]
        km = np.zeros(CELLS, bool)
        km[cells[open_cols]] = k7[open_cols]
        planes.append(pos.planes())
        policy.append(pi)
        value.append(v)
        best.append(bm)
        keep.append(km)
    if not planes:
        return Dataset.empty()
    data = Dataset(np.stack(planes), np.stack(policy), np.asarray(value, np.float32), np.stack(best),
                   np.stack(keep))
    if child_planes:
        # Children first: a child that is also a labelled line gives way to the full label.
        n = len(child_planes)
        children = Dataset(np.stack(child_planes), np.zeros((n, CELLS), np.float32),
                           np.asarray(child_values, np.float32), np.zeros((n, CELLS), bool),
                           np.zeros((n, CELLS), bool))
        data = Dataset.concat([children, data])
        stats["children"] = stats.get("children", 0) + n
    before = len(data)
    data = dedupe(data)
    stats["duplicates"] = stats.get("duplicates", 0) + before - len(data)
    return data


def write_selfplay(path, planes, visits, results):
    """Writes TWSP records; used by tests and by any Python-side generator."""
    planes = np.asarray(planes, dtype="<f4").reshape(-1, 84)
    visits = np.asarray(visits, dtype="<f4").reshape(-1, 42)
    results = np.asarray(results, dtype="<f4").reshape(-1, 1)
    if not len(planes) == len(visits) == len(results):
        raise ValueError("record arrays differ in length")
    body = np.concatenate([planes, visits, results], axis=1)
    with open(path, "wb") as f:
        f.write(SELFPLAY_HEADER.pack(SELFPLAY_MAGIC, SELFPLAY_VERSION, len(body)))
        f.write(body.tobytes())


def load_selfplay(path):
    with open(path, "rb") as f:
        raw = f.read()
    if len(raw) < SELFPLAY_HEADER.size:
        raise DataError(f"{path}: shorter than the header")
    magic, version, count = SELFPLAY_HEADER.unpack_from(raw)
    if magic != SELFPLAY_MAGIC:
        raise DataError(f"{path}: bad magic {magic!r}")
    if version != SELFPLAY_VERSION:
        raise DataError(f"{path}: unsupported version {version}")
    body = len(raw) - SELFPLAY_HEADER.size
    if count > body // SELFPLAY_RECORD_BYTES or body != count * SELFPLAY_RECORD_BYTES:
        raise DataError(f"{path}: header says {count} records but the file holds {body} bytes of records")
    rec = np.frombuffer(raw, dtype="<f4", offset=SELFPLAY_HEADER.size).reshape(count, SELFPLAY_FLOATS)
    rec = rec.astype(np.float32)
    if not np.isfinite(rec).all():
        raise DataError(f"{path}: non-finite values")
    planes = rec[:, :84].reshape(count, 2, 6, 7).copy()
    visits = rec[:, 84:126].copy()
    results = rec[:, 126].copy()
    if ((planes != 0) & (planes != 1)).any() or (planes.sum(axis=1) > 1).any():
        raise DataError(f"{path}: planes must be 0/1 with no cell taken twice")
    if (visits < 0).any():
        raise DataError(f"{path}: negative visit share")
    if (np.abs(results) > 1).any():
        raise DataError(f"{path}: result outside [-1, 1]")
    legal = legal_mask_from_planes(planes)
    visits = np.where(legal, visits, 0.0).astype(np.float32)
    total = visits.sum(axis=1)
    ok = total > 0
    visits = visits[ok] / total[ok, None]
    planes, results, legal = planes[ok], results[ok], legal[ok]
    best = visits >= visits.max(axis=1, keepdims=True) - 1e-12
    best &= legal
    return Dataset(planes, visits.astype(np.float32), results, best, best.copy())


def is_selfplay_file(path):
    with open(path, "rb") as f:
        return f.read(4) == SELFPLAY_MAGIC


def expand_files(patterns, window=0):
    """Glob patterns -> existing files, oldest first; window K > 0 keeps only the K newest
    (by modification time, then name), so a replay buffer follows new generations."""
    files = set()
    for p in patterns:
        matched = glob.glob(p)
        files.update(m for m in matched if os.path.isfile(m))
        if not matched and os.path.isfile(p):
            files.add(p)
    ordered = sorted(files, key=lambda f: (os.path.getmtime(f), f))
    if window > 0:
        ordered = ordered[-window:]
    return ordered


def load_files(paths, opts=None, strict=False, stats=None):
    stats = stats if stats is not None else {}
    parts = []
    for path in paths:
        if is_selfplay_file(path):
            parts.append(load_selfplay(path))
        else:
            parts.append(load_solver_tsv(path, opts, strict=strict, stats=stats))
    return Dataset.concat(parts)


def position_keys(planes):
    """A 64-bit key per position, equal for a position and its mirror image, so the held-out
    split never puts one side of a mirror pair in training and the other in evaluation."""
    bits = planes.reshape(len(planes), 2, 6, 7) > 0.5
    weights = (np.uint64(1) << np.arange(42, dtype=np.uint64)).reshape(6, 7)

    def code(b):
        mine = (b[:, 0] * weights).sum(axis=(1, 2), dtype=np.uint64)
        theirs = (b[:, 1] * weights).sum(axis=(1, 2), dtype=np.uint64)
        return mine * np.uint64(0x9E3779B97F4A7C15) + theirs

    with np.errstate(over="ignore"):
        key = np.minimum(code(bits), code(bits[..., ::-1]))
        # splitmix64 finaliser spreads the key bits so a modulo is a fair split.
        key = (key ^ (key >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
        key = (key ^ (key >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
        key = key ^ (key >> np.uint64(31))
    return key


def split_holdout(data, fraction):
    """Deterministic split by position: the same position lands on the same side when the
    data is reloaded with more lines."""
    if fraction <= 0 or len(data) == 0:
        return data, Dataset.empty()
    buckets = position_keys(data.planes) % np.uint64(10000)
    held = buckets < np.uint64(int(round(fraction * 10000)))
    return data.subset(~held), data.subset(held)


def dedupe(data):
    """Keeps the last record of each position (later labels replace earlier ones)."""
    if len(data) == 0:
        return data
    flat = data.planes.reshape(len(data), -1).astype(np.uint8)
    packed = np.packbits(flat, axis=1)
    _, first_rev = np.unique(packed[::-1], axis=0, return_index=True)
    keep = np.sort(len(data) - 1 - first_rev)
    return data.subset(keep)


__all__ = ["TargetOptions", "Dataset", "DataError", "load_solver_tsv", "load_selfplay", "write_selfplay",
           "load_files", "expand_files", "split_holdout", "dedupe", "solver_targets", "parse_solver_line",
           "position_keys", "child_samples", "has_policy", "score_value"]
