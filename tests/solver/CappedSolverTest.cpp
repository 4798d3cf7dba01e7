// The solver as hints and exact play use it: a phone-sized table, a cap after which the answer
// is absent, and positions taken from the library's own GameState.

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "Tarnwick/rules/GameState.hpp"
#include "Tarnwick/rules/Notation.hpp"
#include "Tarnwick/solver/Solver.hpp"

namespace {

using tarnwick::GameState;
using tarnwick::Shape;
using tarnwick::parseMoves;
using tarnwick::solver::Limits;
using tarnwick::solver::Position;
using tarnwick::solver::Solver;

TEST(CappedSolver, AnswersWithinTheCapAgreeWithTheUnboundedSolver) {
    Solver reference(1 << 20);
    Solver capped; // the phone-sized default
    EXPECT_EQ(capped.tableEntries(), Solver::PhoneTableEntries);
    // Late positions of the referee's set: an early one takes the unbounded solver minutes.
    for (const std::string moves :
         {"64333356725313455222261", "614454431535244773162", "22233266462662361357"}) {
        const auto p = Position::fromMoves(moves);
        ASSERT_TRUE(p) << moves;
        const auto exact = reference.scoreMoves(*p);
        const auto scores = capped.scoreMoves(*p, Limits{20'000'000, {}});
        EXPECT_EQ(scores, exact) << moves;
        const auto best = capped.bestMoves(*p, Limits{20'000'000, {}});
        ASSERT_TRUE(best) << moves;
        const auto full = reference.bestMoves(*p);
        EXPECT_EQ(best->score, full.score) << moves;
        EXPECT_EQ(best->columns, full.columns) << moves;
    }
}

TEST(CappedSolver, AnEarlyPositionPastTheCapHasNoAnswerAndLeavesTheTableSound) {
    Solver solver(1 << 16);
    const auto early = Position::fromMoves("4");
    ASSERT_TRUE(early);
    const auto before = solver.nodes();
    EXPECT_FALSE(solver.solve(*early, Limits{1000, {}}));
    EXPECT_LE(solver.nodes() - before, 1000u);
    EXPECT_FALSE(solver.bestMoves(*early, Limits{1000, {}}));
    const auto scores = solver.scoreMoves(*early, Limits{1000, {}});
    for (const auto& s : scores)
        EXPECT_FALSE(s);
    EXPECT_FALSE(solver.solve(*early, Limits{0, std::chrono::milliseconds(1)}))
        << "the empty board's neighbour does not settle in a millisecond";

    // What an aborted call stored are bounds of finished searches only: solving the same
    // position again, and then unbounded, still gives the exact answers.
    Solver fresh(1 << 20);
    for (const std::string moves : {"64333356725313455222261", "614454431535244773162"}) {
        const auto p = Position::fromMoves(moves);
        ASSERT_TRUE(p) << moves;
        const auto exact = fresh.scoreMoves(*p);
        for (const std::uint64_t cap : {50u, 500u, 5000u})
            solver.scoreMoves(*p, Limits{cap, {}});
        EXPECT_EQ(solver.scoreMoves(*p), exact) << moves;
        EXPECT_EQ(solver.solve(*p, Limits{}), fresh.solve(*p)) << "no cap: unbounded";
    }
}

TEST(CappedSolver, AnImmediateWinNeedsNoBudget) {
    Solver solver(1 << 10);
    const auto p = Position::fromMoves("112233");
    ASSERT_TRUE(p);
    const auto scores = solver.scoreMoves(*p, Limits{1, {}});
    EXPECT_EQ(scores[3], 18);
    EXPECT_EQ(solver.solve(*p, Limits{1, {}}), 18);
    const auto best = solver.bestMoves(*p, Limits{1, {}});
    ASSERT_TRUE(best);
    EXPECT_EQ(best->columns, std::vector<int>{3});

    // Nor does a move that hands the opponent a win at once, wherever it comes in the order:
    // after 121212 every column but the first two loses to the second player's fourth stone.
    const auto threats = Position::fromMoves("121212");
    ASSERT_TRUE(threats);
    const auto capped = solver.scoreMoves(*threats, Limits{1, {}});
    EXPECT_EQ(capped[0], 18);
    for (int column = 2; column < 7; ++column)
        EXPECT_EQ(capped[static_cast<std::size_t>(column)], -18) << column;
}

TEST(PositionFromState, MatchesTheNotationOnPlayedGames) {
    std::mt19937 rng(11);
    for (int game = 0; game < 50; ++game) {
        auto state = std::make_shared<GameState>(Shape{6, 7}, 1);
        std::string moves;
        while (!state->isEndGame()) {
            const auto p = Position::fromState(*state);
            const auto q = Position::fromMoves(moves);
            ASSERT_TRUE(p) << moves;
            ASSERT_TRUE(q) << moves;
            EXPECT_EQ(p->key(), q->key()) << moves;
            EXPECT_EQ(p->moves(), q->moves()) << moves;
            const auto actions = state->allowedActions();
            const auto action =
                actions[std::uniform_int_distribution<std::size_t>(0, actions.size() - 1)(rng)];
            moves += static_cast<char>('1' + action % 7);
            state = state->take(action).gameState;
        }
        // A finished game is not a position to solve: a line, or a full board with none.
        if (state->value() != 0.0) {
            EXPECT_FALSE(Position::fromState(*state)) << moves;
        }
    }
}

TEST(PositionFromState, RefusesBoardsPlayCannotReach) {
    auto floating = parseMoves("").state;
    floating->board[3] = 1; // top row, nothing below
    floating->playerTurn = -1;
    EXPECT_FALSE(Position::fromState(*floating));

    auto odd = parseMoves("4").state;
    odd->board[38] = 7;
    EXPECT_FALSE(Position::fromState(*odd));

    auto wrongTurn = parseMoves("4").state;
    wrongTurn->playerTurn = 1; // +1 has one stone more, so -1 must move
    EXPECT_FALSE(Position::fromState(*wrongTurn));
    wrongTurn->playerTurn = 3;
    EXPECT_FALSE(Position::fromState(*wrongTurn));

    auto shortBoard = parseMoves("").state;
    shortBoard->board.resize(10);
    EXPECT_FALSE(Position::fromState(*shortBoard));

    EXPECT_FALSE(Position::fromState(*parseMoves("1212121").state)) << "already won";
    EXPECT_TRUE(Position::fromState(*parseMoves("121212").state));
}

} // namespace
