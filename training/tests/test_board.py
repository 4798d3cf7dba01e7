import unittest

import numpy as np

from helpers import random_moves
from tarnwick_train.board import Position, decode, legal_mask_from_planes


def cells(plane):
    return sorted(int(i) for i in np.flatnonzero(plane.reshape(-1)))


class DecodeTest(unittest.TestCase):
    def test_empty_board(self):
        planes, legal = decode("")
        self.assertEqual(planes.shape, (2, 6, 7))
        self.assertEqual(planes.dtype, np.float32)
        self.assertFalse(planes.any())
        self.assertEqual(list(np.flatnonzero(legal)), [35, 36, 37, 38, 39, 40, 41])
        self.assertTrue(Position("").first_player_to_move)

    def test_pieces_land_on_bottom_row_and_stack_upwards(self):
        self.assertEqual(Position("").landing_cell(0), 35)
        self.assertEqual(Position("").landing_cell(6), 41)
        self.assertEqual(Position("4").landing_cell(3), 31)
        self.assertEqual(Position("44444").landing_cell(3), 3)
        self.assertIsNone(Position("444444").landing_cell(3))

    def test_plane_zero_is_the_player_to_move(self):
        # After one move the second player moves: the first player's piece is the opponent's.
        planes, legal = decode("4")
        self.assertEqual(cells(planes[0]), [])
        self.assertEqual(cells(planes[1]), [38])
        self.assertFalse(Position("4").first_player_to_move)
        self.assertEqual(list(np.flatnonzero(legal)), [31, 35, 36, 37, 39, 40, 41])
        planes, _ = decode("44")
        self.assertEqual(cells(planes[0]), [38])
        self.assertEqual(cells(planes[1]), [31])
        planes, _ = decode("171")
        self.assertEqual(cells(planes[0]), [41])
        self.assertEqual(cells(planes[1]), [28, 35])

    def test_full_column_has_no_legal_cell(self):
        planes, legal = decode("111111")
        # First player to move again: its pieces are rows 5, 3, 1 of column 1.
        self.assertEqual(cells(planes[0]), [7, 21, 35])
        self.assertEqual(cells(planes[1]), [0, 14, 28])
        self.assertFalse(legal[[0, 7, 14, 21, 28, 35]].any())
        self.assertEqual(int(legal.sum()), 6)

    def test_bad_move_strings_are_refused(self):
        for moves in ("1111111", "8", "0", "4a", " 4"):
            with self.assertRaises(ValueError, msg=moves):
                decode(moves)

    def test_legal_mask_from_planes_matches_decode(self):
        rng = np.random.default_rng(3)
        boards = [decode(random_moves(rng, 42)) for _ in range(200)]
        planes = np.stack([p for p, _ in boards])
        legal = np.stack([l for _, l in boards])
        np.testing.assert_array_equal(legal_mask_from_planes(planes), legal)
        np.testing.assert_array_equal(legal_mask_from_planes(planes[5]), legal[5])


if __name__ == "__main__":
    unittest.main()
