#include <algorithm>
#include <array>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tools/solver/Solver.hpp"
#include "tests/support/TestModels.hpp"
#include "tools/tarnwick/Commands.hpp"

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

// The opening walker: every line's scores are the solver's, every best column of every line is
// followed (unless it ends the game), and a run given its own output solves nothing again.
TEST(OpeningTree, FollowsEveryBestColumnAndResumes) {
    const std::string root = "44423657634652";
    tarnwick::cli::OpeningOptions options{root, 19, "", 1 << 16};
    std::ostringstream out, log;
    ASSERT_EQ(tarnwick::cli::opening(options, out, log), 0);
    std::map<std::string, std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);) {
        const auto tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        lines[line.substr(0, tab)] = line.substr(tab + 1);
    }
    ASSERT_TRUE(lines.count(root));
    Solver solver;
    std::set<std::uint64_t> keys;
    for (const auto& [moves, text] : lines) {
        const auto position = Position::fromMoves(moves);
        ASSERT_TRUE(position) << moves;
        EXPECT_LT(position->moves(), 19);
        EXPECT_TRUE(keys.insert(position->key()).second) << moves << " twice";
        const auto scores = solver.scoreMoves(*position);
        EXPECT_EQ(text, tarnwick::cli::formatScores(scores)) << moves;
        int best = -100;
        for (const auto& s : scores) best = s ? std::max(best, *s) : best;
        for (int c = 0; c < Position::Width; ++c) {
            if (scores[c] != best || position->isWinningMove(c) || position->moves() + 1 >= 19) continue;
            Position next = *position;
            next.play(c);
            const bool listed = std::any_of(lines.begin(), lines.end(), [&](const auto& line) {
                return Position::fromMoves(line.first)->key() == next.key();
            });
            EXPECT_TRUE(listed) << moves << " then column " << c + 1;
        }
    }
    EXPECT_GT(lines.size(), 3u);

    const std::string file = testing::TempDir() + "opening.tsv";
    std::ofstream(file) << out.str() << "garbage line\n" << root << "\t1,2,3\n";
    options.known = file;
    std::ostringstream again;
    ASSERT_EQ(tarnwick::cli::opening(options, again, log), 0);
    EXPECT_EQ(again.str(), "");
    std::remove(file.c_str());

    EXPECT_EQ(tarnwick::cli::opening({"4444444", 10, "", 1 << 10}, again, log), 2);
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

TEST(Elo, EstimateAndInterval) {
    const auto even = tarnwick::cli::eloOf(10, 80, 10);
    EXPECT_NEAR(even.difference, 0.0, 1e-9);
    EXPECT_LT(even.low, 0.0);
    EXPECT_GT(even.high, 0.0);
    // 75% of the points is 400 * log10(3), about +191.
    const auto ahead = tarnwick::cli::eloOf(50, 50, 0);
    EXPECT_NEAR(ahead.difference, 190.85, 0.1);
    EXPECT_LT(ahead.low, ahead.difference);
    EXPECT_GT(ahead.high, ahead.difference);
    // More games, the same share: a narrower interval.
    const auto more = tarnwick::cli::eloOf(500, 500, 0);
    EXPECT_LT(more.high - more.low, ahead.high - ahead.low);
}

} // namespace

// Games of the bot against the perfect player: every line is a position of such a game from the
// given root, scored by the solver, and every move of the perfect player is a best-scoring one.
TEST(Label, BotGamesAgainstThePerfectPlayer) {
    const std::string root = "44423657634652";
    const auto folder = tarnwick::testing::writeBiasModel(
        testing::TempDir() + "label-bias.mlmodelc", tarnwick::testing::favourColumn(2, 3.0f), 0.0f);
    tarnwick::cli::LabelOptions options;
    options.games = 3;
    options.minPly = 14;
    options.botSims = 8;
    options.model = folder.string();
    options.book = "";
    options.from = root;
    std::ostringstream out, log;
    ASSERT_EQ(tarnwick::cli::label(options, out, log), 0);

    Solver solver;
    std::istringstream in(out.str());
    std::string previous;
    std::array<std::optional<int>, Position::Width> previousScores{};
    int lines = 0, perfectMoves = 0;
    for (std::string line; std::getline(in, line); ++lines) {
        const auto label = tarnwick::cli::parseLabelLine(line);
        ASSERT_TRUE(label) << line;
        ASSERT_EQ(label->moves.rfind(root, 0), 0u) << line;
        ASSERT_GE(label->moves.size(), 14u) << line;
        EXPECT_EQ(label->scores, solver.scoreMoves(*Position::fromMoves(label->moves))) << line;
        // The next position of the same game: the move between them is the player's choice.
        if (label->moves.size() == previous.size() + 1 && label->moves.rfind(previous, 0) == 0 &&
            previous.size() % 2 == 1) {
            const auto best = tarnwick::cli::bestColumns(previousScores);
            EXPECT_NE(std::find(best.begin(), best.end(), label->moves.back() - '1'), best.end())
                << line;
            ++perfectMoves;
        }
        previous = label->moves;
        previousScores = label->scores;
    }
    EXPECT_GE(perfectMoves, options.games); // each game has at least one

    // Reproducible from its seed, the bot's noise included.
    std::ostringstream again;
    ASSERT_EQ(tarnwick::cli::label(options, again, log), 0);
    EXPECT_EQ(again.str(), out.str());

    for (const std::string bad : {"4444444", "12121213", "4x"}) {
        options.from = bad;
        EXPECT_EQ(tarnwick::cli::label(options, again, log), 2) << bad;
    }
    std::filesystem::remove_all(folder);
}
