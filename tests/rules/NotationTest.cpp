#include <gtest/gtest.h>

#include "Tarnwick/rules/Notation.hpp"

using namespace tarnwick;

TEST(Notation, PlaysColumnsFromTheEmptyBoard) {
    const auto parsed = parseMoves("4453");
    ASSERT_TRUE(parsed.state);
    EXPECT_EQ(parsed.refusal, MovesRefusal::none);
    EXPECT_TRUE(parsed.error.empty());
    // Column 4 lands at the bottom (38), the second 4 above it (31).
    EXPECT_EQ(parsed.actions, (std::vector<std::int64_t>{38, 31, 39, 37}));
    EXPECT_EQ(parsed.state->board[38], 1);
    EXPECT_EQ(parsed.state->board[31], -1);
    EXPECT_EQ(parsed.state->board[39], 1);
    EXPECT_EQ(parsed.state->board[37], -1);
    EXPECT_EQ(parsed.state->playerTurn, 1);

    const auto empty = parseMoves("");
    ASSERT_TRUE(empty.state);
    EXPECT_TRUE(empty.actions.empty());
}

TEST(Notation, ContinuesFromAGivenPositionWithoutChangingIt) {
    const auto start = parseMoves("44").state;
    const auto before = start->board;
    const auto parsed = parseMoves("4", start);
    ASSERT_TRUE(parsed.state);
    EXPECT_EQ(parsed.actions, (std::vector<std::int64_t>{24}));
    EXPECT_EQ(start->board, before);
}

TEST(Notation, RefusalsAreValuesNamingTheMove) {
    const auto bad = parseMoves("445x");
    EXPECT_FALSE(bad.state);
    EXPECT_EQ(bad.refusal, MovesRefusal::badCharacter);
    EXPECT_EQ(bad.errorIndex, 3);
    EXPECT_EQ(bad.error, "'x' is not a column 1 to 7 (move 4)");

    for (const char* text : {"0", "8", "4 4", "-1"})
        EXPECT_EQ(parseMoves(text).refusal, MovesRefusal::badCharacter) << text;
    const auto control = parseMoves(std::string("4\n", 2));
    EXPECT_EQ(control.refusal, MovesRefusal::badCharacter);
    EXPECT_EQ(control.error, "byte 10 is not a column 1 to 7 (move 2)");

    const auto full = parseMoves("1111111");
    EXPECT_FALSE(full.state);
    EXPECT_EQ(full.refusal, MovesRefusal::fullColumn);
    EXPECT_EQ(full.errorIndex, 6);
    EXPECT_EQ(full.error, "column 1 is full (move 7)");

    // The first player completes column 1 with its fourth piece; nothing follows.
    const auto over = parseMoves("12121212");
    EXPECT_FALSE(over.state);
    EXPECT_EQ(over.refusal, MovesRefusal::afterEnd);
    EXPECT_EQ(over.errorIndex, 7);
    EXPECT_TRUE(parseMoves("1212121").state);
}

TEST(Notation, ActionOfColumnRefusesFullAndOutsideColumns) {
    const auto state = parseMoves("333333").state;
    EXPECT_FALSE(actionOfColumn(*state, 2));
    EXPECT_EQ(actionOfColumn(*state, 0), 35);
    EXPECT_EQ(actionOfColumn(*state, 6), 41);
    EXPECT_FALSE(actionOfColumn(*state, -1));
    EXPECT_FALSE(actionOfColumn(*state, 7));
    EXPECT_EQ(columnCharacter(0), '1');
    EXPECT_EQ(columnCharacter(6), '7');
}
