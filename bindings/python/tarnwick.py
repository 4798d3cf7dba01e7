"""Tarnwick's C interface from Python, with ctypes only (no compiler, no packages).

    import tarnwick
    lib = tarnwick.Library("/path/to/libtarnwick.so")
    with lib.session() as session:
        session.new_match(self_play=False, tau=0, mcts=50)
        session.user_play(3)
        print(session.next_move())

Every refused call raises TarnwickError, whose `status` is the C status name and whose text
is the library's last error of the calling thread.
"""

import ctypes
import os
from dataclasses import dataclass

OK = 0
STATUS_NAMES = {
    0: "ok",
    1: "invalid argument",
    2: "illegal move",
    3: "game over",
    4: "model error",
    5: "out of memory",
    6: "internal error",
    7: "buffer too small",
    8: "game not over",
}
CELLS = 42
COLUMNS = 7
RED, YELLOW = 0, 1


class TarnwickError(Exception):
    def __init__(self, status, text):
        super().__init__(f"{STATUS_NAMES.get(status, status)}: {text}")
        self.status = STATUS_NAMES.get(status, str(status))
        self.code = status
        self.text = text


class _Move(ctypes.Structure):
    _fields_ = [("cell", ctypes.c_int32), ("column", ctypes.c_int32),
                ("color", ctypes.c_int32), ("number", ctypes.c_int32)]


@dataclass(frozen=True)
class Move:
    cell: int
    column: int
    color: int
    number: int


class _HintColumn(ctypes.Structure):
    _fields_ = [("column", ctypes.c_int32), ("verdict", ctypes.c_int32),
                ("verdict_moves", ctypes.c_int32), ("visit_share", ctypes.c_double),
                ("win_chance", ctypes.c_double)]


VERDICTS = {0: None, 1: "win", 2: "draw", 3: "loss"}
LEVEL_MIN, LEVEL_MAX = 1, 8


@dataclass(frozen=True)
class HintColumn:
    """One column of a hint: `verdict` is "win", "draw", "loss" or None (not settled);
    `win_chance` is None for a column the hint search never tried."""
    column: int
    verdict: object
    verdict_moves: int
    visit_share: float
    win_chance: object


_P = ctypes.c_void_p
_I32, _I64, _SIZE = ctypes.c_int32, ctypes.c_int64, ctypes.c_size_t
_SIGNATURES = {
    "tarnwick_version": (ctypes.c_char_p, []),
    "tarnwick_version_number": (_I32, []),
    "tarnwick_model_format_version": (_I32, []),
    "tarnwick_last_error": (ctypes.c_char_p, []),
    "tarnwick_model_load_file": (ctypes.c_int, [ctypes.c_char_p, ctypes.POINTER(_P)]),
    "tarnwick_model_load_memory": (ctypes.c_int, [ctypes.c_char_p, _SIZE, ctypes.c_char_p, _SIZE,
                                                  ctypes.POINTER(_P)]),
    "tarnwick_model_load_default": (ctypes.c_int, [ctypes.POINTER(_P)]),
    "tarnwick_model_free": (None, [_P]),
    "tarnwick_session_new": (ctypes.c_int, [_P, ctypes.POINTER(_P)]),
    "tarnwick_session_free": (None, [_P]),
    "tarnwick_session_new_match": (ctypes.c_int, [_P, _I32, _I64, _I64]),
    "tarnwick_session_set_bot_starts": (ctypes.c_int, [_P, _I32]),
    "tarnwick_session_bot_starts": (ctypes.c_int, [_P, ctypes.POINTER(_I32)]),
    "tarnwick_session_user_play": (ctypes.c_int, [_P, _I32]),
    "tarnwick_session_next_move": (ctypes.c_int, [_P, ctypes.POINTER(_Move)]),
    "tarnwick_session_play_moves": (ctypes.c_int, [_P, ctypes.c_char_p]),
    "tarnwick_session_moves": (ctypes.c_int, [_P, ctypes.c_char_p, _SIZE, ctypes.POINTER(_SIZE)]),
    "tarnwick_session_board": (ctypes.c_int, [_P, ctypes.POINTER(_I32), _SIZE]),
    "tarnwick_session_current_player": (ctypes.c_int, [_P, ctypes.POINTER(_I32)]),
    "tarnwick_session_is_user_turn": (ctypes.c_int, [_P, ctypes.POINTER(_I32)]),
    "tarnwick_session_done": (ctypes.c_int, [_P, ctypes.POINTER(_I32)]),
    "tarnwick_session_turn_count": (ctypes.c_int, [_P, ctypes.POINTER(_I64)]),
    "tarnwick_session_value": (ctypes.c_int, [_P, ctypes.POINTER(_I64)]),
    "tarnwick_session_outcome": (ctypes.c_int, [_P, ctypes.c_char_p, _SIZE,
                                                ctypes.POINTER(_SIZE)]),
    "tarnwick_session_winning_cells": (ctypes.c_int, [_P, ctypes.POINTER(_I32), _SIZE,
                                                      ctypes.POINTER(_SIZE)]),
    "tarnwick_session_tau0": (ctypes.c_int, [_P, ctypes.POINTER(_I64)]),
    "tarnwick_session_set_tau0": (ctypes.c_int, [_P, _I64]),
    "tarnwick_session_mcts_sims": (ctypes.c_int, [_P, ctypes.POINTER(_I64)]),
    "tarnwick_session_set_mcts_sims": (ctypes.c_int, [_P, _I64]),
    "tarnwick_session_set_level": (ctypes.c_int, [_P, _I32]),
    "tarnwick_session_level": (ctypes.c_int, [_P, ctypes.POINTER(_I32)]),
    "tarnwick_session_set_exact_play": (ctypes.c_int, [_P, _I32]),
    "tarnwick_session_set_move_budget": (ctypes.c_int, [_P, _I64, _I64]),
    "tarnwick_session_last_simulations": (ctypes.c_int, [_P, ctypes.POINTER(_I64)]),
    "tarnwick_session_undo": (ctypes.c_int, [_P]),
    "tarnwick_session_hint": (ctypes.c_int, [_P, _I64, ctypes.POINTER(_HintColumn), _SIZE,
                                             ctypes.POINTER(_SIZE)]),
    "tarnwick_notation_board": (ctypes.c_int, [ctypes.c_char_p, ctypes.POINTER(_I32), _SIZE,
                                               ctypes.POINTER(_I64)]),
}


class Library:
    """The loaded shared library; `path` defaults to $TARNWICK_LIBRARY, then libtarnwick.so."""

    def __init__(self, path=None):
        self._c = ctypes.CDLL(path or os.environ.get("TARNWICK_LIBRARY", "libtarnwick.so"))
        for name, (restype, argtypes) in _SIGNATURES.items():
            function = getattr(self._c, name)
            function.restype = restype
            function.argtypes = argtypes

    def call(self, name, *args):
        status = getattr(self._c, name)(*args)
        if status != OK:
            raise TarnwickError(status, self._c.tarnwick_last_error().decode("utf-8", "replace"))

    @property
    def version(self):
        return self._c.tarnwick_version().decode()

    @property
    def model_format_version(self):
        return self._c.tarnwick_model_format_version()

    def load_model(self, folder):
        return Model(self, "tarnwick_model_load_file", os.fsencode(folder))

    def load_model_bytes(self, manifest, weights):
        return Model(self, "tarnwick_model_load_memory", manifest, len(manifest), weights,
                     len(weights))

    def load_default_model(self):
        return Model(self, "tarnwick_model_load_default")

    def session(self, model=None):
        return Session(self, model)

    def notation_board(self, moves):
        cells = (_I32 * CELLS)()
        self.call("tarnwick_notation_board", _text(moves), cells, CELLS, None)
        return list(cells)


def _text(value):
    if not isinstance(value, (str, bytes)):
        raise TypeError("expected str or bytes")
    return value.encode() if isinstance(value, str) else value


class _Handle:
    _free = None

    def close(self):
        if self._handle:
            getattr(self._lib._c, self._free)(self._handle)
            self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass

    @property
    def handle(self):
        if not self._handle:
            raise ValueError("the handle is closed")
        return self._handle


class Model(_Handle):
    _free = "tarnwick_model_free"

    def __init__(self, lib, loader, *args):
        self._lib, self._handle = lib, None
        out = _P()
        lib.call(loader, *args, ctypes.byref(out))
        self._handle = out


class Session(_Handle):
    """One match; see tarnwick.h for what each call does."""

    _free = "tarnwick_session_free"

    def __init__(self, lib, model=None):
        self._lib, self._handle = lib, None
        out = _P()
        lib.call("tarnwick_session_new", model.handle if model else None, ctypes.byref(out))
        self._handle = out

    def _call(self, name, *args):
        self._lib.call(name, self.handle, *args)

    def _get(self, name, kind):
        value = kind()
        self._call(name, ctypes.byref(value))
        return value.value

    def new_match(self, self_play=False, tau=0, mcts=50):
        self._call("tarnwick_session_new_match", 1 if self_play else 0, tau, mcts)

    @property
    def bot_starts(self):
        return bool(self._get("tarnwick_session_bot_starts", _I32))

    @bot_starts.setter
    def bot_starts(self, value):
        self._call("tarnwick_session_set_bot_starts", 1 if value else 0)

    def user_play(self, column):
        self._call("tarnwick_session_user_play", column)

    def next_move(self):
        move = _Move()
        self._call("tarnwick_session_next_move", ctypes.byref(move))
        return Move(move.cell, move.column, move.color, move.number)

    def play_moves(self, moves):
        self._call("tarnwick_session_play_moves", _text(moves))

    @property
    def moves(self):
        return self._read_text("tarnwick_session_moves")

    @property
    def board(self):
        cells = (_I32 * CELLS)()
        self._call("tarnwick_session_board", cells, CELLS)
        return list(cells)

    @property
    def current_player(self):
        return self._get("tarnwick_session_current_player", _I32)

    @property
    def is_user_turn(self):
        return bool(self._get("tarnwick_session_is_user_turn", _I32))

    @property
    def done(self):
        return bool(self._get("tarnwick_session_done", _I32))

    @property
    def turn_count(self):
        return self._get("tarnwick_session_turn_count", _I64)

    @property
    def value(self):
        return self._get("tarnwick_session_value", _I64)

    @property
    def outcome(self):
        return self._read_text("tarnwick_session_outcome")

    @property
    def winning_cells(self):
        cells, count = (_I32 * CELLS)(), _SIZE()
        self._call("tarnwick_session_winning_cells", cells, CELLS, ctypes.byref(count))
        return list(cells[: count.value])

    @property
    def tau0(self):
        return self._get("tarnwick_session_tau0", _I64)

    @tau0.setter
    def tau0(self, value):
        self._call("tarnwick_session_set_tau0", value)

    @property
    def mcts_sims(self):
        return self._get("tarnwick_session_mcts_sims", _I64)

    @mcts_sims.setter
    def mcts_sims(self, value):
        self._call("tarnwick_session_set_mcts_sims", value)

    @property
    def level(self):
        return self._get("tarnwick_session_level", _I32)

    @level.setter
    def level(self, value):
        self._call("tarnwick_session_set_level", value)

    def set_exact_play(self, exact):
        self._call("tarnwick_session_set_exact_play", 1 if exact else 0)

    def set_move_budget(self, milliseconds, max_simulations=100000):
        """Think for a time instead of a simulation count; None goes back to the count."""
        self._call("tarnwick_session_set_move_budget",
                   -1 if milliseconds is None else milliseconds, max_simulations)

    @property
    def last_simulations(self):
        return self._get("tarnwick_session_last_simulations", _I64)

    def undo(self):
        self._call("tarnwick_session_undo")

    def hint(self, simulations=50):
        columns, count = (_HintColumn * COLUMNS)(), _SIZE()
        self._call("tarnwick_session_hint", simulations, columns, COLUMNS, ctypes.byref(count))
        return [HintColumn(c.column, VERDICTS.get(c.verdict), c.verdict_moves, c.visit_share,
                           None if c.win_chance < 0 else c.win_chance)
                for c in columns[: count.value]]

    def _read_text(self, name):
        # Ask for the length, then read into a buffer of that size.
        length = _SIZE()
        self._call(name, None, 0, ctypes.byref(length))
        buffer = ctypes.create_string_buffer(length.value + 1)
        self._call(name, buffer, len(buffer), ctypes.byref(length))
        return buffer.value.decode("utf-8", "replace")
