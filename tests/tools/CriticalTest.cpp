#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Tarnwick/solver/Solver.hpp"
#include "tools/tarnwick/Commands.hpp"

namespace {

using tarnwick::cli::CriticalOptions;
using tarnwick::cli::LabelLine;
using tarnwick::solver::Position;
using tarnwick::solver::Solver;

std::vector<LabelLine> readLabels(const std::string& path) {
    std::ifstream in(path);
    std::vector<LabelLine> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') {
            const auto label = tarnwick::cli::parseLabelLine(line);
            EXPECT_TRUE(label) << path << ": " << line;
            if (label) lines.push_back(*label);
        }
    return lines;
}

std::string mirrored(std::string moves) {
    for (auto& c : moves)
        c = static_cast<char>('1' + '7' - c);
    return moves;
}

std::uint64_t keyOf(const std::string& moves) {
    return Position::fromMoves(moves)->key();
}

int sign(int x) {
    return (x > 0) - (x < 0);
}

bool isCritical(const LabelLine& label) {
    const int best = tarnwick::cli::bestScore(label.scores);
    return std::any_of(label.scores.begin(), label.scores.end(),
                       [&](const auto& s) { return s && sign(*s) != sign(best); });
}

class CriticalGenerator : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto dir = std::filesystem::temp_directory_path();
        const auto stem = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        first_ = (dir / (std::string("critical-") + stem + "-1.tsv")).string();
        second_ = (dir / (std::string("critical-") + stem + "-2.tsv")).string();
        std::remove(first_.c_str());
        std::remove(second_.c_str());
        // Late positions only, with players that never ask the solver: quick.
        options_.perPhase = {0, 0, 0, 3};
        options_.solveFrom = Position::Cells;
        options_.tableEntries = 1 << 20;
        options_.out = first_;
    }
    void TearDown() override {
        std::remove(first_.c_str());
        std::remove(second_.c_str());
    }
    int run(const CriticalOptions& options) {
        std::ostringstream log;
        return tarnwick::cli::critical(options, log);
    }
    std::string first_, second_;
    CriticalOptions options_;
};

TEST_F(CriticalGenerator, WritesCriticalPositionsWithTheSolversScores) {
    ASSERT_EQ(run(options_), 0);
    const auto lines = readLabels(first_);
    ASSERT_EQ(lines.size(), 3u);
    Solver solver(1 << 20);
    for (const auto& label : lines) {
        EXPECT_GE(label.moves.size(), 25u);
        EXPECT_LE(label.moves.size(), 34u);
        EXPECT_TRUE(isCritical(label)) << label.moves;
        EXPECT_EQ(label.scores, solver.scoreMoves(*Position::fromMoves(label.moves)))
            << label.moves;
    }
}

TEST_F(CriticalGenerator, ResumesWithoutRepeatingAndLeavesOutExcludedPositions) {
    options_.perPhase = {0, 0, 0, 2};
    ASSERT_EQ(run(options_), 0);
    options_.perPhase = {0, 0, 0, 4};
    ASSERT_EQ(run(options_), 0);
    const auto resumed = readLabels(first_);
    ASSERT_EQ(resumed.size(), 4u);
    std::set<std::uint64_t> keys;
    for (const auto& label : resumed) {
        EXPECT_TRUE(keys.insert(keyOf(label.moves)).second) << label.moves;
        keys.insert(keyOf(mirrored(label.moves)));
    }

    // The same games again, with the first file's positions excluded (as mirrors, so that
    // the exclusion must see mirror images).
    {
        std::ofstream mirrors(second_ + ".exclude");
        for (const auto& label : resumed)
            mirrors << mirrored(label.moves) << "\tx\n";
    }
    auto again = options_;
    again.out = second_;
    again.exclude = {second_ + ".exclude"};
    ASSERT_EQ(run(again), 0);
    const auto fresh = readLabels(second_);
    std::remove((second_ + ".exclude").c_str());
    ASSERT_EQ(fresh.size(), 4u);
    for (const auto& label : fresh)
        EXPECT_FALSE(keys.count(keyOf(label.moves))) << label.moves;
}

TEST_F(CriticalGenerator, GivesUpAfterItsGames) {
    options_.maxGames = 3;
    options_.perPhase = {0, 0, 0, 1000};
    EXPECT_EQ(run(options_), 1);
}

// The committed yardstick: every phase filled, every line critical, the late positions'
// scores as the solver finds them (the early ones take too long to check here).
TEST(CriticalSet, IsCriticalInEveryPhaseAndScoredExactly) {
    const auto lines = readLabels(TARNWICK_SOURCE_DIR "/bench/critical.tsv");
    std::array<int, 4> perPhase{};
    Solver solver(1 << 22);
    int checked = 0;
    for (const auto& label : lines) {
        const int stones = static_cast<int>(label.moves.size());
        for (std::size_t p = 0; p < perPhase.size(); ++p)
            perPhase[p] += stones >= tarnwick::cli::criticalPhases()[p].first &&
                           stones <= tarnwick::cli::criticalPhases()[p].last;
        EXPECT_TRUE(isCritical(label)) << label.moves;
        if (stones >= 25 && checked < 40) {
            ++checked;
            EXPECT_EQ(label.scores, solver.scoreMoves(*Position::fromMoves(label.moves)))
                << label.moves;
        }
    }
    for (const int n : perPhase)
        EXPECT_GT(n, 0);
    EXPECT_EQ(perPhase[0] + perPhase[1] + perPhase[2] + perPhase[3],
              static_cast<int>(lines.size()));
    EXPECT_EQ(checked, 40);
}

} // namespace
