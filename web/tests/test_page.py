"""The page in a real browser, played as a person plays it: clicks on the board, the result
text, a new game with the bot first, a full column refused, a click while the bot thinks, and
a phone-sized window. Usage: test_page.py BUILD_DIR (the wasm build; screenshots go there)."""
import os
import re
import sys
import unittest

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

from browser import Server, chromium, wait

BUILD = sys.argv.pop(1) if len(sys.argv) > 1 else "build/wasm"
COLUMNS, ROWS = 7, 6
RESULT = re.compile(r"wins!|draw!")


class Page(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.shots = os.path.join(BUILD, "screenshots")
        os.makedirs(cls.shots, exist_ok=True)
        cls.server = Server(os.path.join(BUILD, "site"))
        cls.driver = chromium()
        cls.driver.get(cls.server.address)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.server.stop()

    def setUp(self):
        self.driver.set_window_size(1200, 900)

    # --- reading the page as a person sees it -----------------------------------------------

    def board(self):
        """42 entries: None, 'red' or 'yellow', and the cells marked last and winning."""
        cells = self.driver.execute_script(
            "return [...document.querySelectorAll('#board .cell')].map(c => c.className)")
        colors = [next((c for c in ("red", "yellow") if c in n.split()), None) for n in cells]
        last = [i for i, n in enumerate(cells) if "last" in n.split()]
        winning = [i for i, n in enumerate(cells) if "win" in n.split()]
        return colors, last, winning

    def status(self):
        return self.driver.find_element(By.ID, "status").text

    def notice(self):
        return self.driver.find_element(By.ID, "notice").text

    def waitForUser(self):
        """Until it is the user's move or the game is over; True for over."""
        wait(self.driver, lambda: self.status().startswith("Your move") or RESULT.search(self.status()),
             message="neither the user's turn nor a result: " + self.status())
        return bool(RESULT.search(self.status()))

    def click(self, column, row=2):
        self.driver.find_element(By.CSS_SELECTOR, f'#board .cell[data-cell="{row * COLUMNS + column}"]').click()

    def newGame(self, botStarts=False, sims="50", level="8"):
        box = self.driver.find_element(By.ID, "bot-starts")
        if box.is_selected() != botStarts:
            box.click()
        Select(self.driver.find_element(By.ID, "sims")).select_by_value(sims)
        Select(self.driver.find_element(By.ID, "level")).select_by_value(level)
        before = self.driver.execute_script("return document.getElementById('board').dataset.moves")
        self.driver.find_element(By.ID, "new-game").click()
        # The new game has no moves, or just the bot's first.
        wait(self.driver, lambda: self.driver.execute_script(
            "return document.getElementById('board').dataset.moves") != before or before == "")
        return self.waitForUser()

    def landing(self, colors, column):
        """The cell a piece dropped into `column` comes to rest on, or None when full."""
        for row in reversed(range(ROWS)):
            if colors[row * COLUMNS + column] is None:
                return row * COLUMNS + column
        return None

    def playAndCheck(self, column):
        """Clicks `column` on the user's turn; checks the user's piece and the bot's reply."""
        before, _, _ = self.board()
        target = self.landing(before, column)
        self.click(column)
        over = self.waitForUser()
        after, last, _ = self.board()
        added = [i for i in range(42) if before[i] is None and after[i] is not None]
        self.assertIn(target, added, "the user's piece is where it falls")
        self.assertTrue(all(before[i] == after[i] for i in range(42) if before[i]), "pieces stay")
        if len(added) == 1:
            self.assertTrue(over, "the bot always replies while the game goes on")
            return True
        self.assertEqual(len(added), 2, "one user move, one bot reply")
        bot = next(i for i in added if i != target)
        self.assertNotEqual(after[bot], after[target], "the bot plays the other colour")
        beside = list(before)
        beside[target] = after[target]
        self.assertEqual(bot, self.landing(beside, bot % COLUMNS),
                         "the bot's piece rests on the lowest free cell of its column")
        self.assertEqual(last, [bot], "the bot's last move is marked")
        return over

    # --- the tests ------------------------------------------------------------------------------

    def test_1_plays_a_whole_game_by_clicking(self):
        self.waitForUser()
        self.newGame(botStarts=False, sims="10")
        order = [3, 2, 4, 1, 5, 0, 6]
        moves = 0
        over = False
        while not over:
            colors, _, _ = self.board()
            column = next(c for c in order if self.landing(colors, c) is not None)
            over = self.playAndCheck(column)
            order = order[1:] + order[:1]
            moves += 1
            self.assertLess(moves, 22)
        self.assertRegex(self.status(), r"^(User|Tavrick).* (wins|draw)!$")
        colors, _, winning = self.board()
        if "wins" in self.status():
            self.assertGreaterEqual(len(winning), 4, "the winning line is highlighted")
            self.assertEqual(len({colors[i] for i in winning}), 1)
        self.driver.save_screenshot(os.path.join(self.shots, "desktop-game-over.png"))
        self.click(0)
        wait(self.driver, lambda: "over" in self.notice(), 10, "a click after the end is refused")

    def test_2_new_game_with_the_bot_first(self):
        over = self.newGame(botStarts=True)
        self.assertFalse(over)
        colors, last, _ = self.board()
        placed = [i for i in range(42) if colors[i]]
        self.assertEqual(len(placed), 1, "the bot has made the first move")
        self.assertGreaterEqual(placed[0], 35, "on the bottom row")
        self.assertEqual(last, placed)
        self.assertTrue(self.status().startswith("Your move"))
        self.driver.save_screenshot(os.path.join(self.shots, "desktop-bot-first.png"))

    def test_3_a_full_column_is_refused(self):
        for _ in range(6):
            if self.newGame(botStarts=False, sims="10"):
                continue
            over = False
            colors, _, _ = self.board()
            while not over and self.landing(colors, 0) is not None:
                over = self.playAndCheck(0)
                colors, _, _ = self.board()
            if over:
                continue
            self.click(0, row=0)
            wait(self.driver, lambda: self.notice() == "Column 1 is full.", 10, "no refusal shown")
            self.assertEqual(self.board()[0], colors, "nothing was played")
            self.assertTrue(self.status().startswith("Your move"))
            return
        self.fail("column 1 never filled in six games")

    def test_4_a_click_while_the_bot_thinks_is_ignored(self):
        self.newGame(botStarts=False, sims="800")
        self.click(3)
        self.click(4)
        wait(self.driver, lambda: "thinking" in self.notice() or "thinking" in self.status(), 10)
        self.assertEqual(self.notice(), "Wait: the bot is thinking.")
        self.waitForUser()
        colors, _, _ = self.board()
        self.assertEqual(sum(1 for c in colors if c), 2, "only the first click was played")
        self.assertIsNotNone(colors[38], "the user's piece is in column 4")

    def test_5_phone_sized_window(self):
        self.driver.set_window_size(390, 844)
        self.newGame(botStarts=False, sims="10")
        width = self.driver.execute_script("return window.innerWidth")
        overflow = self.driver.execute_script(
            "return document.documentElement.scrollWidth - window.innerWidth")
        self.assertLessEqual(overflow, 0, "nothing sticks out sideways")
        board = self.driver.find_element(By.ID, "board").rect
        self.assertLessEqual(board["width"], width)
        self.assertGreater(board["width"], width * 0.8, "the board fills the narrow screen")
        self.playAndCheck(3)
        self.driver.save_screenshot(os.path.join(self.shots, "phone.png"))


    def test_6_a_weak_level_and_taking_back(self):
        self.newGame(botStarts=False, sims="50", level="2")
        self.driver.find_element(By.ID, "undo").click()
        wait(self.driver, lambda: self.notice() == "There is no move to take back.", 10,
             "taking back with no move is refused")
        self.assertFalse(self.playAndCheck(3))
        self.assertFalse(self.playAndCheck(3))
        after_two, _, _ = self.board()
        self.driver.find_element(By.ID, "undo").click()
        wait(self.driver, lambda: sum(1 for c in self.board()[0] if c) == 2, 10,
             "the user's last move and the bot's reply are taken back")
        colors, last, _ = self.board()
        self.assertTrue(all(colors[i] in (None, after_two[i]) for i in range(42)), "the rest stays")
        self.assertEqual(last, [], "no bot move is marked after taking back")
        self.assertTrue(self.status().startswith("Your move"))
        self.assertFalse(self.playAndCheck(2), "play goes on after taking back")

    def test_7_a_hint_marks_a_column(self):
        self.newGame(botStarts=False, sims="10")
        self.driver.find_element(By.ID, "hint").click()
        wait(self.driver, lambda: self.notice().startswith("Hint: column"), 30, "no hint shown")
        text = self.notice()
        self.assertRegex(text, r"^Hint: column [1-7] \((wins in \d+|loses in \d+|draws with best play|\d+% win chance)\)\.$")
        column = int(text.split()[2]) - 1
        marked = self.driver.execute_script(
            "return [...document.querySelectorAll('#board .cell.hint')].map(c => Number(c.dataset.cell))")
        self.assertEqual(marked, [35 + column], "the landing cell of the hinted column is marked")
        self.assertTrue(self.status().startswith("Your move"), "a hint plays nothing")


if __name__ == "__main__":
    unittest.main(verbosity=2)
