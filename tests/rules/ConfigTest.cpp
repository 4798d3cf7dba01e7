#include <gtest/gtest.h>

#include <unordered_set>

#include "Tarnwick/rules/Color.hpp"
#include "Tarnwick/rules/Config.hpp"
#include "Tarnwick/rules/Errors.hpp"

using namespace tarnwick;

// Runs first in this executable (no Config exists yet): the lifecycle of TAU0.
TEST(Config, Tau0IsTenUntilTheFirstConfigThenZeroAfterEach) {
    EXPECT_EQ(Config::TAU0, 10);
    Config first;
    EXPECT_EQ(Config::TAU0, 0);
    Config::TAU0 = 5;
    Config second;
    EXPECT_EQ(Config::TAU0, 0);
    Config::MCTS_SIMS = 77;
    Config third;
    EXPECT_EQ(Config::MCTS_SIMS, 77) << "creating a Config must not touch MCTS_SIMS";
    Config::MCTS_SIMS = 50;
}

TEST(Config, SizeConstantsAndPieces) {
    Config config;
    EXPECT_EQ(config.size(), 42);
    EXPECT_EQ(config.rows, 6);
    EXPECT_EQ(config.columns, 7);
    EXPECT_EQ(Config::pieces().at(1), "X");
    EXPECT_EQ(Config::pieces().at(0), "-");
    EXPECT_EQ(Config::pieces().at(-1), "O");
    EXPECT_EQ(Config::pieces().count(2), 0u);
    EXPECT_EQ(Config::pieces().size(), 3u);
    EXPECT_DOUBLE_EQ(Config::CPUCT, 1.0);
    EXPECT_DOUBLE_EQ(Config::EPSILON, 0.2);
    EXPECT_DOUBLE_EQ(Config::ALPHA, 0.8);
}

TEST(Config, ColorEqualityAndHashing) {
    EXPECT_EQ(Color::red, Color::red);
    EXPECT_NE(Color::red, Color::yellow);
    std::hash<Color> hash;
    EXPECT_EQ(hash(Color::yellow), hash(Color::yellow));
    std::unordered_set<Color> colours{Color::red, Color::yellow, Color::red};
    EXPECT_EQ(colours.size(), 2u);
}

TEST(Config, TextErrorCarriesExactlyItsText) {
    try {
        throw TextError("Velora Error: unable to create game");
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "Velora Error: unable to create game");
    }
}
