"""Board decoding shared by every data source.

Cells are numbered row * 7 + column with row 0 at the top, so a piece dropped in a column
lands on the highest free row index. Plane 0 holds the pieces of the player to move,
plane 1 the opponent's.
"""

import numpy as np

from . import CELLS, COLUMNS, ROWS

# Cell index -> cell index of its mirror image (columns reversed).
MIRROR_CELLS = np.array([r * COLUMNS + (COLUMNS - 1 - c) for r in range(ROWS) for c in range(COLUMNS)],
                        dtype=np.int64)


class Position:
    """A position reached by a string of column digits '1'..'7' from the empty board."""

    def __init__(self, moves=""):
        # owner[row, column]: 0 empty, 1 first player, 2 second player.
        self.owner = np.zeros((ROWS, COLUMNS), dtype=np.int8)
        self.heights = [0] * COLUMNS
        self.ply = 0
        for i, ch in enumerate(moves):
            if ch < "1" or ch > "7":
                raise ValueError(f"move {i + 1} of {moves!r}: {ch!r} is not a column digit 1..7")
            self.play(ord(ch) - ord("1"))

    def landing_cell(self, column):
        """Cell where a piece dropped in `column` (0-based) comes to rest, or None if full."""
        if not 0 <= column < COLUMNS:
            raise ValueError(f"column {column} is outside 0..{COLUMNS - 1}")
        if self.heights[column] >= ROWS:
            return None
        return (ROWS - 1 - self.heights[column]) * COLUMNS + column

    def play(self, column):
        cell = self.landing_cell(column)
        if cell is None:
            raise ValueError(f"column {column + 1} is full")
        self.owner[cell // COLUMNS, cell % COLUMNS] = 1 + self.ply % 2
        self.heights[column] += 1
        self.ply += 1

    @property
    def first_player_to_move(self):
        return self.ply % 2 == 0

    def planes(self):
        mover = 1 + self.ply % 2
        out = np.zeros((2, ROWS, COLUMNS), dtype=np.float32)
        out[0] = self.owner == mover
        out[1] = (self.owner != 0) & (self.owner != mover)
        return out

    def legal_cells(self):
        return [c for c in (self.landing_cell(col) for col in range(COLUMNS)) if c is not None]


def decode(moves):
    """moves string -> (planes [2, 6, 7] float32, legal mask [42] bool)."""
    pos = Position(moves)
    legal = np.zeros(CELLS, dtype=bool)
    legal[pos.legal_cells()] = True
    return pos.planes(), legal


def legal_mask_from_planes(planes):
    """Legal cells of positions given as planes [..., 2, 6, 7]: the lowest empty cell per column.

    Works for any batch shape; a column whose top cell is taken has no legal cell.
    """
    planes = np.asarray(planes)
    occupied = (planes[..., 0, :, :] + planes[..., 1, :, :]) > 0.5  # [..., 6, 7]
    filled = occupied.sum(axis=-2)  # pieces per column, [..., 7]
    legal = np.zeros(occupied.shape, dtype=bool)
    rows = ROWS - 1 - filled  # landing row, -1 when full
    batch_index = np.indices(filled.shape)
    ok = rows >= 0
    idx = tuple(b[ok] for b in batch_index[:-1])
    legal[idx + (rows[ok], batch_index[-1][ok])] = True
    return legal.reshape(occupied.shape[:-2] + (CELLS,))


def mirror_moves(moves):
    return "".join(chr(ord("1") + ord("7") - ord(ch)) for ch in moves)


def mirror_planes(planes):
    """Reverse the columns of planes [..., 2, 6, 7]."""
    return np.ascontiguousarray(np.asarray(planes)[..., ::-1])


def mirror_cells(vector):
    """Reindex a per-cell vector [..., 42] for the mirrored board."""
    return np.ascontiguousarray(np.asarray(vector)[..., MIRROR_CELLS])
