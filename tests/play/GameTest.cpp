#include <gtest/gtest.h>

#include "Tarnwick/play/Game.hpp"
#include "Tarnwick/play/Precision.hpp"

using namespace tarnwick;

TEST(Game, NewGameStepsAndReset) {
    auto game = Game::init(std::make_shared<Config>());
    ASSERT_TRUE(game);
    EXPECT_EQ(game->currentPlayer, 1);
    EXPECT_EQ(game->gameState->playerTurn, 1);
    EXPECT_EQ(game->actionSpace, std::vector<std::int64_t>(42, 0));
    EXPECT_EQ(game->actionSize(), 42);
    EXPECT_EQ(game->stateSize(), 84);

    const auto [state, value, done] = game->step(38);
    EXPECT_EQ(state, game->gameState);
    EXPECT_EQ(state->board[38], 1);
    EXPECT_EQ(state->playerTurn, -1);
    EXPECT_EQ(game->currentPlayer, -1);
    EXPECT_EQ(value, 0.0);
    EXPECT_FALSE(done);
    game->step(31);
    EXPECT_EQ(game->currentPlayer, 1);

    const auto config = game->config;
    const auto fresh = game->reset();
    EXPECT_EQ(fresh, game->gameState);
    EXPECT_EQ(fresh->board, std::vector<std::int64_t>(42, 0));
    EXPECT_EQ(fresh->playerTurn, 1);
    EXPECT_EQ(game->currentPlayer, 1);
    EXPECT_EQ(game->config, config);
    EXPECT_EQ(game->actionSpace.size(), 42u);
}

TEST(Game, WinningStepAndStepsAfterIt) {
    auto game = Game::init(std::make_shared<Config>());
    for (auto a : {35, 28, 36, 29, 37, 30}) game->step(a);
    const auto [state, value, done] = game->step(38);
    EXPECT_EQ(value, -1.0);
    EXPECT_TRUE(done);
    EXPECT_NO_THROW(game->step(31)) << "Game leaves refusing moves to its caller";
}

TEST(Game, WrittenCurrentPlayerStaysOppositeToTheTurn) {
    auto game = Game::init(std::make_shared<Config>());
    game->currentPlayer = -1;
    game->step(38);
    EXPECT_EQ(game->currentPlayer, 1);
    EXPECT_EQ(game->gameState->playerTurn, -1);
    EXPECT_THROW(game->step(42), std::out_of_range);
}

TEST(Precision, RoundsAsTheNumberFormatterDoes) {
    EXPECT_EQ(precision(3, 2), 3);
    EXPECT_EQ(precision(2.346, 2), 2.35);
    EXPECT_EQ(precision(1.005, 2, RoundingMode::down), 1.0);
    EXPECT_EQ(precision(1.005, 2), 1.01) << "rounded in decimal, not in binary";
    EXPECT_EQ(precision(-2.5, 0, RoundingMode::halfEven), -2.0);
    EXPECT_EQ(precision(3.5, 0, RoundingMode::halfEven), 4.0);
    EXPECT_EQ(precision(2.5, 0, RoundingMode::halfDown), 2.0);
    EXPECT_EQ(precision(-1.21, 1, RoundingMode::ceiling), -1.2);
    EXPECT_EQ(precision(-1.21, 1, RoundingMode::floor), -1.3);
    EXPECT_EQ(precision(1.21, 1, RoundingMode::up), 1.3);
    EXPECT_EQ(precision(9.996, 2), 10.0);
    EXPECT_EQ(precision(0.004, 2, RoundingMode::up), 0.01);
    EXPECT_EQ(precision(0.004, 2), 0.0);
    EXPECT_EQ(precision(1e300, 3), 1e300);
    EXPECT_EQ(precision(2.346f, 2), 2.35f);
    EXPECT_EQ(precision(12.5, -3), 13.0) << "negative digit counts act as zero";
    EXPECT_FALSE(precision(std::nan(""), 2).has_value());
    EXPECT_FALSE(precision(HUGE_VAL, 2).has_value());
}
