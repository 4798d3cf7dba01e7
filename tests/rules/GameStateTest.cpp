#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>

#include "Tarnwick/rules/Errors.hpp"
#include "Tarnwick/rules/GameState.hpp"

using namespace tarnwick;
using Cells = std::vector<std::int64_t>;

namespace {

std::shared_ptr<GameState> emptyBoard(std::int64_t playerTurn = 1) {
    return std::make_shared<GameState>(Shape{6, 7}, playerTurn);
}

// Plays the actions in turn, starting from the empty board.
std::shared_ptr<GameState> play(const Cells& actions) {
    auto state = emptyBoard();
    for (auto a : actions) state = state->take(a).gameState;
    return state;
}

// A full board on which neither player has four in a line.
Cells drawnBoard() {
    return {1,  1,  -1, -1, 1,  1,  -1, 1,  -1, -1, 1,  1,  -1, 1,  1,  1,  -1, -1, 1,  1, -1,
            -1, -1, 1,  1,  -1, -1, 1,  -1, 1,  1,  -1, -1, 1,  -1, -1, -1, 1,  1,  -1, -1, 1};
}

} // namespace

TEST(Winners, TableHoldsTheSixtyNineLinesInTheirFixedOrder) {
    const std::vector<std::array<std::int64_t, 4>> expected{
        {0, 1, 2, 3}, {1, 2, 3, 4}, {2, 3, 4, 5}, {3, 4, 5, 6}, {7, 8, 9, 10}, {8, 9, 10, 11},
        {9, 10, 11, 12}, {10, 11, 12, 13}, {14, 15, 16, 17}, {15, 16, 17, 18}, {16, 17, 18, 19},
        {17, 18, 19, 20}, {21, 22, 23, 24}, {22, 23, 24, 25}, {23, 24, 25, 26}, {24, 25, 26, 27},
        {28, 29, 30, 31}, {29, 30, 31, 32}, {30, 31, 32, 33}, {31, 32, 33, 34}, {35, 36, 37, 38},
        {36, 37, 38, 39}, {37, 38, 39, 40}, {38, 39, 40, 41},
        {0, 7, 14, 21}, {7, 14, 21, 28}, {14, 21, 28, 35}, {1, 8, 15, 22}, {8, 15, 22, 29},
        {15, 22, 29, 36}, {2, 9, 16, 23}, {9, 16, 23, 30}, {16, 23, 30, 37}, {3, 10, 17, 24},
        {10, 17, 24, 31}, {17, 24, 31, 38}, {4, 11, 18, 25}, {11, 18, 25, 32}, {18, 25, 32, 39},
        {5, 12, 19, 26}, {12, 19, 26, 33}, {19, 26, 33, 40}, {6, 13, 20, 27}, {13, 20, 27, 34},
        {20, 27, 34, 41},
        {3, 9, 15, 21}, {4, 10, 16, 22}, {10, 16, 22, 28}, {5, 11, 17, 23}, {11, 17, 23, 29},
        {17, 23, 29, 35}, {6, 12, 18, 24}, {12, 18, 24, 30}, {18, 24, 30, 36}, {13, 19, 25, 31},
        {19, 25, 31, 37}, {20, 26, 32, 38},
        {3, 11, 19, 27}, {2, 10, 18, 26}, {10, 18, 26, 34}, {1, 9, 17, 25}, {9, 17, 25, 33},
        {17, 25, 33, 41}, {0, 8, 16, 24}, {8, 16, 24, 32}, {16, 24, 32, 40}, {7, 15, 23, 31},
        {15, 23, 31, 39}, {14, 22, 30, 38}};
    ASSERT_EQ(GameState::winners().size(), 69u);
    EXPECT_EQ(GameState::winners(), expected);
}

TEST(AllowedActions, EmptyBoardStackedColumnFullColumnAndFullBoard) {
    auto state = emptyBoard();
    EXPECT_EQ(state->allowedActions(), (Cells{35, 36, 37, 38, 39, 40, 41}));
    EXPECT_FALSE(state->isEndGame());
    EXPECT_EQ(state->value(), 0.0);
    EXPECT_TRUE(state->winningActions().empty());

    state->board[38] = 1;
    state->board[31] = -1;
    EXPECT_EQ(state->allowedActions(), (Cells{24, 35, 36, 37, 39, 40, 41}));

    for (std::int64_t row = 0; row < 6; ++row) state->board[row * 7 + 3] = row % 2 ? 1 : -1;
    EXPECT_EQ(state->allowedActions(), (Cells{35, 36, 37, 39, 40, 41}));

    // A full board without a line: no move left, the game is over and a draw.
    state->board = drawnBoard();
    EXPECT_TRUE(state->allowedActions().empty());
    EXPECT_TRUE(state->winningActions().empty());
    EXPECT_TRUE(state->isEndGame());
    EXPECT_EQ(state->value(), 0.0);
}

TEST(Take, LeavesTheOriginalUntouchedAndFlipsTheTurn) {
    auto state = emptyBoard();
    const auto [next, value, done] = state->take(38);
    EXPECT_EQ(state->board[38], 0);
    EXPECT_EQ(state->playerTurn, 1);
    EXPECT_EQ(next->board[38], 1);
    EXPECT_EQ(next->playerTurn, -1);
    EXPECT_EQ(value, 0.0);
    EXPECT_FALSE(done);
}

TEST(Take, CompletingALineWinsAndListsTheLine) {
    auto state = emptyBoard();
    state->board[35] = state->board[36] = state->board[37] = 1;
    const auto [next, value, done] = state->take(38);
    EXPECT_EQ(next->playerTurn, -1);
    EXPECT_EQ(value, -1.0);
    EXPECT_TRUE(done);
    EXPECT_EQ(next->winningActions(), (Cells{35, 36, 37, 38}));
}

TEST(Take, FiveInARowListsBothLinesWithRepeats) {
    auto state = emptyBoard();
    for (auto c : {35, 36, 38, 39}) state->board[c] = 1;
    const auto next = state->take(37).gameState;
    EXPECT_EQ(next->winningActions(), (Cells{35, 36, 37, 38, 36, 37, 38, 39}));
}

TEST(Take, HorizontalAndVerticalAtOnceListHorizontalFirst) {
    auto state = emptyBoard();
    // Horizontal 35..38 and vertical 17, 24, 31, 38 both completed by the piece at 38? Use
    // the top of column 3 instead: vertical 17-24-31-38 and horizontal 14..17.
    for (auto c : {24, 31, 38, 14, 15, 16}) state->board[c] = 1;
    for (auto c : {35, 36, 37, 39, 40, 41, 28, 29, 30, 21, 22, 23}) state->board[c] = -1;
    const auto next = state->take(17).gameState;
    EXPECT_EQ(next->winningActions(), (Cells{14, 15, 16, 17, 17, 24, 31, 38}));
}

TEST(Take, FillingTheLastCellDrawsOrWins) {
    auto draw = emptyBoard();
    draw->board = drawnBoard();
    ASSERT_TRUE(draw->winningActions().empty());
    const auto last = draw->board[0];
    draw->board[0] = 0;
    draw->playerTurn = last;
    ASSERT_EQ(draw->allowedActions(), Cells{0});
    const auto [full, value, done] = draw->take(0);
    EXPECT_TRUE(done);
    EXPECT_EQ(value, 0.0);
    EXPECT_TRUE(full->winningActions().empty());

    // The same last cell completing a line of the mover.
    auto win = emptyBoard();
    win->board = draw->board;
    win->board[1] = win->board[2] = win->board[3] = last;
    win->playerTurn = last;
    const auto [fullWin, winValue, winDone] = win->take(0);
    EXPECT_TRUE(winDone);
    EXPECT_EQ(winValue, -1.0);
}

TEST(Rules, OnlyTheLastMoversLineEndsTheGame) {
    auto state = emptyBoard(1);
    state->board[35] = state->board[36] = state->board[37] = state->board[38] = 1;
    EXPECT_FALSE(state->isEndGame());
    EXPECT_EQ(state->value(), 0.0);
    EXPECT_TRUE(state->winningActions().empty());
    state->playerTurn = -1;
    EXPECT_TRUE(state->isEndGame());
    EXPECT_EQ(state->value(), -1.0);
}

TEST(Rules, UnusualPieceValuesAreJudgedByTheLinesSums) {
    auto state = emptyBoard(-1);
    state->board[35] = state->board[36] = 2;
    EXPECT_TRUE(state->isEndGame()) << "2 + 2 + 0 + 0 is the four of player +1";
    EXPECT_EQ(state->value(), -1.0);
    state->board[36] = 3;
    EXPECT_FALSE(state->isEndGame());
    state->playerTurn = 2; // no longer +-1: the sums are taken wide
    state->board[35] = state->board[36] = state->board[37] = -2;
    state->board[38] = -2;
    EXPECT_TRUE(state->isEndGame());
}

TEST(Take, ActionsOutsideTheBoardThrowAndLeaveThePositionAlone) {
    auto state = play({38, 38});
    const auto before = state->board;
    EXPECT_THROW(state->take(-1), std::out_of_range);
    EXPECT_THROW(state->take(42), std::out_of_range);
    EXPECT_THROW(state->take(1000000), std::out_of_range);
    EXPECT_EQ(state->board, before);
}

TEST(Rules, HandAssignedBoardsOfTheWrongLengthAreReadSafely) {
    auto state = emptyBoard();
    state->board.assign(10, 1);
    EXPECT_NO_THROW((void)state->isEndGame());
    EXPECT_NO_THROW((void)state->winningActions());
    EXPECT_NO_THROW((void)state->allowedActions());
    EXPECT_THROW(state->take(10), std::out_of_range);
    EXPECT_NE(state->description().find("'?'"), std::string::npos);
}

// Values a caller may write (playerTurn) or construct (shape) at the ends of the 64-bit range.
TEST(Rules, ExtremeTurnsAndShapesAreHandledWithoutOverflow) {
    constexpr auto lowest = std::numeric_limits<std::int64_t>::min();
    auto state = emptyBoard();
    state->playerTurn = lowest;
    EXPECT_THROW(state->take(38), FatalError);
    EXPECT_FALSE(state->isEndGame());
    EXPECT_EQ(state->value(), 0.0);
    ASSERT_TRUE(state->binary());

    GameState wide(Shape{0, lowest}, 1);
    wide.board.assign(42, 0);
    EXPECT_EQ(wide.allowedActions().size(), 42u) << "no cell has a cell below it";
    GameState huge(Shape{0, std::numeric_limits<std::int64_t>::max()}, 1);
    huge.board.assign(42, 0);
    EXPECT_EQ(huge.allowedActions().size(), 42u);
}

TEST(Description, APrintedStateIsItsPicture) {
    const auto state = play({38, 31});
    std::ostringstream printed;
    printed << *state;
    EXPECT_EQ(printed.str(), state->description());
}

// Random games: every legal move is legal, the game ends, results agree with the lines.
TEST(Rules, RandomGamesKeepTheirInvariants) {
    std::mt19937 rng(7);
    for (int game = 0; game < 300; ++game) {
        auto state = emptyBoard();
        bool done = false;
        int moves = 0;
        while (!done) {
            const auto legal = state->allowedActions();
            ASSERT_FALSE(legal.empty());
            for (auto a : legal) {
                ASSERT_EQ(state->board[a], 0);
                ASSERT_TRUE(a >= 35 || state->board[a + 7] != 0);
            }
            const auto action = legal[rng() % legal.size()];
            const auto mover = state->playerTurn;
            const auto result = state->take(action);
            ASSERT_EQ(result.gameState->playerTurn, -mover);
            done = result.done;
            state = result.gameState;
            ++moves;
            ASSERT_EQ(done, state->isEndGame());
            // winningActions reads the lines cell by cell, the end check by bit masks.
            ASSERT_EQ(state->winningActions().empty(), result.value != -1.0);
            if (done && result.value == -1.0) {  // a win lists the winning move
                const auto cells = state->winningActions();
                ASSERT_FALSE(cells.empty());
                EXPECT_NE(std::find(cells.begin(), cells.end(), action), cells.end());
            }
            if (done && result.value == 0.0) {
                EXPECT_EQ(moves, 42);
            }
        }
        EXPECT_LE(moves, 42);
    }
}
