#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "Tarnwick/play/Game.hpp"

using namespace tarnwick;

// The transcript: the empty board, one board per move, one result line.
TEST(SelfMatch, TranscriptHasOneBoardPerMoveAndAResultLine) {
    Config::MCTS_SIMS = 3;
    std::ostringstream captured;
    auto* old = std::cout.rdbuf(captured.rdbuf());
    Game::playSelfMatch();
    std::cout.rdbuf(old);
    EXPECT_EQ(Config::TAU0, 0);

    std::vector<std::string> lines;
    std::istringstream in(captured.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(captured.str().back(), '\n');
    ASSERT_EQ((lines.size() - 1) % 8, 0u);
    const auto boards = (lines.size() - 1) / 8;
    const auto moves = boards - 1;
    ASSERT_GE(moves, 7u);
    ASSERT_LE(moves, 42u);

    std::string previous;
    for (std::size_t b = 0; b < boards; ++b) {
        EXPECT_EQ(lines[b * 8], std::string(35, '-'));
        EXPECT_EQ(lines[b * 8 + 7], std::string(35, '-'));
        std::string cells;
        for (int r = 1; r <= 6; ++r) cells += lines[b * 8 + r];
        if (b == 0) {
            EXPECT_EQ(std::count(cells.begin(), cells.end(), '-'), 42 + 0);
        } else {
            // Exactly one new piece, X on odd moves: player1 opens.
            int changed = 0;
            for (std::size_t i = 0; i < cells.size(); ++i)
                if (cells[i] != previous[i]) {
                    ++changed;
                    EXPECT_EQ(cells[i], b % 2 ? 'X' : 'O');
                }
            EXPECT_EQ(changed, 1);
        }
        previous = cells;
    }
    const auto& result = lines.back();
    const std::string winner = moves % 2 ? "player1" : "player2";
    if (result.ends_with(" WINS"))
        EXPECT_EQ(result, winner + " WINS");
    else
        EXPECT_EQ(result, "player1 AND player2 DRAW");
    Config::MCTS_SIMS = 50;
}
