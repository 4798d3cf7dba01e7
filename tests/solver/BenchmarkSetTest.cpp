// The library's solver, with its phone-sized table, against the answers recorded in the
// referee's position set.

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "Tarnwick/solver/Solver.hpp"

namespace {

using tarnwick::solver::Limits;
using tarnwick::solver::Position;
using tarnwick::solver::Solver;

// "s1,...,s7" with x for a full column.
std::array<std::optional<int>, Position::Width> parseScores(const std::string& text) {
    std::array<std::optional<int>, Position::Width> scores{};
    std::stringstream in(text);
    std::string field;
    for (int c = 0; c < Position::Width && std::getline(in, field, ','); ++c)
        if (field != "x") scores[c] = std::stoi(field);
    return scores;
}

TEST(BenchmarkSet, PhoneSizedSolverReproducesTheRecordedScores) {
    std::ifstream in(TARNWICK_BENCH_DIR "/positions.tsv");
    ASSERT_TRUE(in);
    Solver solver;
    int checked = 0, settled = 0;
    for (std::string line; std::getline(in, line);) {
        const auto tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        const auto moves = line.substr(0, tab);
        // The early positions take the large table minutes each; they are the referee's.
        if (moves.size() < 16) continue;
        const auto p = Position::fromMoves(moves);
        ASSERT_TRUE(p) << moves;
        const auto expected = parseScores(line.substr(tab + 1));
        const auto scores = solver.scoreMoves(*p, Limits{50'000'000, {}});
        ++checked;
        bool all = true;
        for (int c = 0; c < Position::Width; ++c) {
            if (scores[c]) {
                EXPECT_EQ(scores[c], expected[c]) << moves << " column " << c + 1;
            }
            all = all && scores[c].has_value() == expected[c].has_value();
        }
        settled += all;
    }
    EXPECT_GT(checked, 300);
    EXPECT_EQ(settled, checked) << "the cap settles every late position";
}

} // namespace
