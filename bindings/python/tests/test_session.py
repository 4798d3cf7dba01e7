"""The C interface from Python: whole matches and every refusal.

Run with TARNWICK_LIBRARY naming a shared libtarnwick and, optionally, TARNWICK_MODEL naming a
model folder (the default lookup otherwise):
    TARNWICK_LIBRARY=build/shared/Tarnwick/libtarnwick.so python3 -m unittest discover -s bindings/python/tests
"""

import os
import pathlib
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
import tarnwick  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[3]
MODEL = pathlib.Path(os.environ.get("TARNWICK_MODEL", ROOT / "Resources" / "version0328.mlmodelc"))
LIB = tarnwick.Library()
SHARED_MODEL = LIB.load_model(MODEL)


def play_to_end(session):
    moves = 0
    while not session.done:
        if session.is_user_turn:
            free = [c for c in (3, 2, 4, 1, 5, 0, 6) if session.board[c] == 0]
            session.user_play(free[0])
        move = session.next_move()
        moves += 1
        assert move.number == moves and move.column == move.cell % 7
    return moves


class Matches(unittest.TestCase):
    def check_finished(self, session, moves):
        self.assertTrue(session.done)
        self.assertEqual(sum(1 for cell in session.board if cell), moves)
        self.assertEqual(len(session.moves), moves)
        self.assertEqual(LIB.notation_board(session.moves), session.board)
        outcome = session.outcome
        self.assertRegex(outcome, r"^(.+ wins!|.+ & .+ draw!)$")
        self.assertEqual(len(session.winning_cells) >= 4, outcome.endswith("wins!"))

    def test_user_against_bot(self):
        with LIB.session(SHARED_MODEL) as session:
            session.new_match(self_play=False, tau=2, mcts=6)
            self.assertEqual((session.tau0, session.mcts_sims), (2, 6))
            self.assertEqual(session.current_player, 1)
            self.assertTrue(session.is_user_turn)
            moves = play_to_end(session)
            self.check_finished(session, moves)
            self.assertIn(session.outcome, ("User wins!", "Tavrick wins!", "Tavrick & User draw!"))

    def test_bot_against_bot_with_the_default_model(self):
        with LIB.session() as session:
            session.new_match(self_play=True, tau=4, mcts=3)
            self.assertFalse(session.is_user_turn)
            self.check_finished(session, play_to_end(session))

    def test_bot_starts_and_a_model_from_bytes(self):
        manifest = (MODEL / "model.json").read_bytes()
        weights = (MODEL / "weights.bin").read_bytes()
        with LIB.load_model_bytes(manifest, weights) as model, LIB.session(model) as session:
            session.new_match(mcts=4)
            session.bot_starts = True
            self.assertTrue(session.bot_starts)
            self.assertEqual(session.current_player, -1)
            first = session.next_move()
            self.assertEqual(first.number, 1)
            self.assertTrue(session.is_user_turn)

    def test_a_saved_match_is_restored(self):
        with LIB.session(SHARED_MODEL) as session:
            session.play_moves("4453")
            self.assertEqual(session.moves, "4453")
            self.assertEqual(session.turn_count, 4)
            self.assertEqual(session.board, LIB.notation_board("4453"))
            session.user_play(0)
            self.assertEqual(session.next_move().cell, 35)
            session.next_move()
            self.assertEqual(len(session.moves), 6)

    def test_versions(self):
        self.assertRegex(LIB.version, r"^\d+\.\d+\.\d+$")
        self.assertEqual(LIB.model_format_version, 1)


class Refusals(unittest.TestCase):
    def refused(self, status, call, *args):
        with self.assertRaises(tarnwick.TarnwickError) as caught:
            call(*args)
        self.assertEqual(caught.exception.status, status)
        self.assertTrue(caught.exception.text)
        return caught.exception

    def test_columns_turns_and_the_end(self):
        with LIB.session(SHARED_MODEL) as session:
            session.new_match(mcts=4)
            self.refused("invalid argument", session.user_play, -1)
            self.refused("invalid argument", session.user_play, 7)
            self.refused("illegal move", session.next_move)  # no column chosen
            self.assertEqual(session.turn_count, 0)
            session.play_moves("111111")
            error = self.refused("illegal move", session.user_play, 0)
            self.assertIn("full", error.text)
            session.user_play(1)
            session.next_move()
            self.refused("illegal move", session.user_play, 2)  # the bot's turn
            self.refused("game not over", lambda: session.outcome)
            session.new_match(mcts=4)
            session.play_moves("1212121")
            self.assertEqual(session.value, -1)
            self.assertEqual(session.outcome, "User wins!")
            self.assertEqual(sorted(session.winning_cells), [14, 21, 28, 35])
            self.refused("game over", session.next_move)
            self.refused("game over", session.user_play, 3)
            self.refused("game over", session.play_moves, "2")

    def test_notation(self):
        with LIB.session(SHARED_MODEL) as session:
            self.refused("invalid argument", session.play_moves, "12a")
            self.refused("illegal move", session.play_moves, "1111111")
            self.assertEqual(session.moves, "")  # all or nothing
            self.refused("game over", LIB.notation_board, "12121212")
            self.refused("invalid argument", LIB.notation_board, "0")

    def test_settings(self):
        with LIB.session(SHARED_MODEL) as session:
            for tau, mcts in ((-1, 10), (1001, 10), (0, 0), (0, 100001)):
                self.refused("invalid argument", session.new_match, False, tau, mcts)
            session.new_match(tau=3, mcts=7)
            with self.assertRaises(tarnwick.TarnwickError):
                session.mcts_sims = 0
            with self.assertRaises(tarnwick.TarnwickError):
                session.tau0 = -2
            self.assertEqual((session.tau0, session.mcts_sims), (3, 7))

    def test_models(self):
        self.refused("model error", LIB.load_model, "/nonexistent/version0328.mlmodelc")
        self.refused("model error", LIB.load_model_bytes, b"{}", b"")
        weights = bytearray((MODEL / "weights.bin").read_bytes())
        weights[1000] ^= 0x01
        error = self.refused("model error", LIB.load_model_bytes,
                             (MODEL / "model.json").read_bytes(), bytes(weights))
        self.assertIn("model in memory", error.text)

    def test_closed_handles(self):
        session = LIB.session(SHARED_MODEL)
        session.close()
        with self.assertRaises(ValueError):
            session.next_move()
        # A NULL handle reaches the library as such and is refused there.
        self.refused("invalid argument", LIB.call, "tarnwick_session_next_move", None, None)


class Features(unittest.TestCase):
    """Levels, the time budget, undo, hints and exact play."""

    def test_levels_and_budget(self):
        with LIB.session(SHARED_MODEL) as session:
            session.new_match(mcts=8)
            self.assertEqual(session.level, tarnwick.LEVEL_MAX)
            for level in (0, 9):
                with self.assertRaises(tarnwick.TarnwickError):
                    session.level = level
            session.level = 5
            self.assertEqual(session.level, 5)
            self.move_pair(session, 3)
            self.assertEqual(session.last_simulations, 13)
            session.level = tarnwick.LEVEL_MAX
            session.set_move_budget(0, max_simulations=3)
            self.move_pair(session, 3)
            self.assertEqual(session.last_simulations, 1)  # at least one, however short
            session.set_move_budget(None)
            self.move_pair(session, 3)
            self.assertEqual(session.last_simulations, 8)

    @staticmethod
    def move_pair(session, column):
        session.user_play(column)
        session.next_move()  # the user's move
        return session.next_move()  # the bot's reply

    def test_undo_back_to_the_start(self):
        with LIB.session(SHARED_MODEL) as session:
            session.new_match(mcts=4)
            self.refused_undo(session)
            self.move_pair(session, 3)
            after_one = (session.board, session.moves, session.turn_count)
            self.move_pair(session, 2)
            session.undo()
            self.assertEqual((session.board, session.moves, session.turn_count), after_one)
            session.undo()
            self.assertEqual((session.moves, session.turn_count, session.board), ("", 0, [0] * 42))
            self.refused_undo(session)

    def refused_undo(self, session):
        with self.assertRaises(tarnwick.TarnwickError) as caught:
            session.undo()
        self.assertEqual(caught.exception.status, "illegal move")

    def test_hint_and_exact_play(self):
        with LIB.session(SHARED_MODEL) as session:
            session.new_match(mcts=4)
            session.play_moves("121212")  # the user wins at once in the first column
            hint = session.hint(simulations=20)
            self.assertEqual(sorted(c.column for c in hint), list(range(7)))
            self.assertEqual((hint[0].column, hint[0].verdict, hint[0].verdict_moves), (0, "win", 1))
            # Whatever the cap leaves unsettled, a move that loses at once is always known.
            self.assertEqual([(c.column, c.verdict, c.verdict_moves) for c in hint[-5:]],
                             [(c, "loss", 1) for c in range(2, 7)])
            self.assertAlmostEqual(sum(c.visit_share for c in hint), 1.0, places=6)
            session.user_play(0)
            session.next_move()
            with self.assertRaises(tarnwick.TarnwickError) as caught:
                session.hint()
            self.assertEqual(caught.exception.status, "game over")
            # At full strength with exact play, an end game is played by the solver: one of
            # the columns the hint ranks best, with no simulation.
            session.new_match(mcts=4)
            session.set_exact_play(True)
            session.play_moves("64333356725313455222261")  # the bot to move
            hint = session.hint(simulations=4)
            best = [c.column for c in hint
                    if (c.verdict, c.verdict_moves) == (hint[0].verdict, hint[0].verdict_moves)]
            self.assertIsNotNone(hint[0].verdict)
            self.assertIn(session.next_move().column, best)
            self.assertEqual(session.last_simulations, 0)

if __name__ == "__main__":
    unittest.main()
