#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "Tarnwick/solver/Solver.hpp"

namespace {

using tarnwick::solver::Position;
using tarnwick::solver::Solver;

// Plain minimax over the whole remaining game, same score convention as the solver.
int bruteForce(const Position& p) {
    if (p.moves() == Position::Cells) return 0;
    for (int c = 0; c < Position::Width; ++c)
        if (p.canPlay(c) && p.isWinningMove(c)) return (Position::Cells + 1 - p.moves()) / 2;
    int best = -Position::Cells;
    for (int c = 0; c < Position::Width; ++c)
        if (p.canPlay(c)) {
            Position next = p;
            next.play(c);
            best = std::max(best, -bruteForce(next));
        }
    return best;
}

// A random game's prefix of `length` moves that leaves the game open, or empty.
std::string randomOpenGame(std::mt19937& rng, int length) {
    std::string moves;
    Position p;
    while (static_cast<int>(moves.size()) < length) {
        std::vector<int> open;
        for (int c = 0; c < Position::Width; ++c)
            if (p.canPlay(c) && !p.isWinningMove(c)) open.push_back(c);
        if (open.empty()) return "";
        const int c = open[std::uniform_int_distribution<std::size_t>(0, open.size() - 1)(rng)];
        p.play(c);
        moves += static_cast<char>('1' + c);
    }
    return moves;
}

TEST(Solver, AgreesWithPlainMinimaxOnLatePositions) {
    std::mt19937 rng(42);
    Solver solver(1 << 16);
    int checked = 0;
    while (checked < 40) {
        const auto moves = randomOpenGame(rng, 31);
        if (moves.empty()) continue;
        const auto p = Position::fromMoves(moves);
        ASSERT_TRUE(p) << moves;
        EXPECT_EQ(solver.solve(*p), bruteForce(*p)) << moves;
        const auto scores = solver.scoreMoves(*p);
        int best = -Position::Cells;
        for (int c = 0; c < Position::Width; ++c) {
            ASSERT_EQ(scores[c].has_value(), p->canPlay(c)) << moves << " column " << c + 1;
            if (!scores[c]) continue;
            Position next = *p;
            const int expected = p->isWinningMove(c) ? (Position::Cells + 1 - p->moves()) / 2
                                                     : (next.play(c), -bruteForce(next));
            EXPECT_EQ(*scores[c], expected) << moves << " column " << c + 1;
            best = std::max(best, *scores[c]);
        }
        EXPECT_EQ(best, solver.solve(*p)) << moves;
        ++checked;
    }
}

TEST(Solver, BestMovesAreTheTopScoringColumns) {
    std::mt19937 rng(7);
    Solver solver(1 << 20);
    for (int checked = 0; checked < 60;) {
        // Mid-game and late positions, including ones with an immediate win or a forced block.
        const auto moves = randomOpenGame(rng, 14 + checked % 20);
        if (moves.empty()) continue;
        const auto p = Position::fromMoves(moves);
        ASSERT_TRUE(p) << moves;
        const auto scores = solver.scoreMoves(*p);
        solver.clear(); // the probes must not lean on what scoring left in the table
        const auto best = solver.bestMoves(*p);
        std::vector<int> expected;
        int top = -Position::Cells;
        for (const auto& s : scores)
            if (s) top = std::max(top, *s);
        for (int c = 0; c < Position::Width; ++c)
            if (scores[c] == top) expected.push_back(c);
        EXPECT_EQ(best.score, top) << moves;
        EXPECT_EQ(best.columns, expected) << moves;
        ++checked;
    }
}

TEST(Solver, KnownPositions) {
    Solver solver;
    // The first player completes the bottom row with the fourth stone: 22 - 4.
    const auto row = Position::fromMoves("112233");
    ASSERT_TRUE(row);
    EXPECT_EQ(solver.solve(*row), 18);
    EXPECT_EQ(*solver.scoreMoves(*row)[3], 18);
    // The second player must block column 4 or lose to it at once.
    const auto block = Position::fromMoves("11223");
    ASSERT_TRUE(block);
    const auto scores = solver.scoreMoves(*block);
    for (int c = 0; c < Position::Width; ++c)
        if (c != 3) {
            EXPECT_EQ(*scores[c], -18) << "column " << c + 1;
        }
    EXPECT_GT(*scores[3], -18);
}

TEST(Solver, NotationRefusesImpossibleGames) {
    EXPECT_TRUE(Position::fromMoves(""));
    EXPECT_TRUE(Position::fromMoves("444444"));
    EXPECT_FALSE(Position::fromMoves("4444444")) << "a seventh stone in one column";
    EXPECT_FALSE(Position::fromMoves("408"));
    EXPECT_FALSE(Position::fromMoves("4a"));
    EXPECT_TRUE(Position::fromMoves("121212"));
    EXPECT_FALSE(Position::fromMoves("1212121")) << "a won game has nothing left to score";
    EXPECT_FALSE(Position::fromMoves("12121213")) << "a move after the first player's win";
}

} // namespace
