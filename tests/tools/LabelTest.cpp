// The tools built on the solver: the opening walker, the Elo estimate and the labelled games.

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "Tarnwick/solver/Solver.hpp"
#include "tests/support/TestModels.hpp"
#include "tools/tarnwick/Commands.hpp"

namespace {

using tarnwick::solver::Position;
using tarnwick::solver::Solver;

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
        for (const auto& s : scores)
            best = s ? std::max(best, *s) : best;
        for (int c = 0; c < Position::Width; ++c) {
            if (scores[c] != best || position->isWinningMove(c) || position->moves() + 1 >= 19)
                continue;
            Position next = *position;
            next.play(c);
            const bool listed = std::any_of(lines.begin(), lines.end(), [&](const auto& line) {
                return Position::fromMoves(line.first)->key() == next.key();
            });
            EXPECT_TRUE(listed) << moves << " then column " << c + 1;
        }
    }
    EXPECT_GT(lines.size(), 3u);

    const std::string file = testing::TempDir() + "opening-" + std::to_string(::getpid()) + ".tsv";
    std::ofstream(file) << out.str() << "garbage line\n" << root << "\t1,2,3\n";
    options.known = file;
    std::ostringstream again;
    ASSERT_EQ(tarnwick::cli::opening(options, again, log), 0);
    EXPECT_EQ(again.str(), "");
    std::remove(file.c_str());

    EXPECT_EQ(tarnwick::cli::opening({"4444444", 10, "", 1 << 10}, again, log), 2);
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
        testing::TempDir() + "label-bias-" + std::to_string(::getpid()) + ".mlmodelc", tarnwick::testing::favourColumn(2, 3.0f), 0.0f);
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
