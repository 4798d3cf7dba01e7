#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <sstream>

#include "Tarnwick/rules/GameState.hpp"

using namespace tarnwick;

namespace {
std::vector<double> values(const platform::MLMultiArray& array) {
    std::vector<double> out;
    for (std::int64_t i = 0; i < array.count(); ++i) out.push_back(array[i]);
    return out;
}
} // namespace

TEST(Id, EmptyBoardAndTheTwoAbsoluteHalves) {
    GameState state(Shape{6, 7}, 1);
    EXPECT_EQ(state.id(), std::string(84, '0'));
    state.board[38] = 1;
    state.board[0] = -1;
    state.playerTurn = -1;
    auto key = state.id();
    ASSERT_EQ(key.size(), 84u);
    EXPECT_EQ(key[38], '1');
    EXPECT_EQ(key[42], '1');
    EXPECT_EQ(std::count(key.begin(), key.end(), '1'), 2);
    state.playerTurn = 1;
    EXPECT_EQ(state.id(), key) << "the key ignores whose turn it is";
}

TEST(Description, EmptyBoardPicture) {
    GameState state(Shape{6, 7}, 1);
    const std::string rule(35, '-');
    const std::string row = "|'-', '-', '-', '-', '-', '-', '-'|";
    std::string expected = rule + "\n";
    for (int r = 0; r < 6; ++r) expected += row + "\n";
    expected += rule;
    EXPECT_EQ(state.description(), expected);
    EXPECT_EQ(row.size(), 35u);
}

TEST(Description, LettersOfBothPlayersAndUnknownValues) {
    GameState state(Shape{6, 7}, 1);
    state.board[0] = -1;
    state.board[41] = 1;
    state.board[1] = 5;
    const auto text = state.description();
    EXPECT_EQ(text.substr(36, 11), "|'O', '?', ");
    EXPECT_EQ(text.substr(36 * 6, 35), "|'-', '-', '-', '-', '-', '-', 'X'|");
}

TEST(Binary, PlanesAreRelativeToThePlayerToMove) {
    GameState state(Shape{6, 7}, -1);
    state.board[38] = 1;
    auto array = state.binary();
    ASSERT_TRUE(array);
    EXPECT_EQ(array->shape(), (std::vector<std::int64_t>{2, 6, 7}));
    EXPECT_EQ(array->dataType(), platform::MLMultiArrayDataType::Double);
    ASSERT_EQ(array->count(), 84);
    auto v = values(*array);
    EXPECT_EQ(v[80], 1.0);
    EXPECT_EQ(std::count(v.begin(), v.end(), 0.0), 83);
    const std::vector<std::int64_t> where{1, 5, 3};
    EXPECT_EQ((*array)[where], 1.0);

    state.playerTurn = 1;
    v = values(*state.binary());
    EXPECT_EQ(v[38], 1.0);
    EXPECT_EQ(std::count(v.begin(), v.end(), 0.0), 83);
}

TEST(Binary, EmptyBoardIsAllZeros) {
    GameState state(Shape{6, 7}, 1);
    auto v = values(*state.binary());
    EXPECT_EQ(v, std::vector<double>(84, 0.0));
}

TEST(MultiArray, ShapeCountLayoutAndRefusals) {
    using platform::MLMultiArray;
    using platform::MLMultiArrayDataType;
    auto array = MLMultiArray::create({2, 3, 4}, MLMultiArrayDataType::Float32);
    ASSERT_TRUE(array);
    EXPECT_EQ(array->count(), 24);
    EXPECT_EQ(array->strides(), (std::vector<std::int64_t>{12, 4, 1}));
    const std::vector<std::int64_t> last{1, 2, 3};
    array->set(last, 2.5);
    EXPECT_EQ(static_cast<const float*>(array->dataPointer())[23], 2.5f);
    EXPECT_EQ((*array)[23], 2.5);
    EXPECT_THROW((void)(*array)[24], std::out_of_range);
    const std::vector<std::int64_t> outside{2, 0, 0}, short2{0, 0};
    EXPECT_THROW((void)(*array)[outside], std::out_of_range);
    EXPECT_THROW((void)(*array)[short2], std::out_of_range);
    EXPECT_FALSE(MLMultiArray::create({-1, 3}, MLMultiArrayDataType::Double));
    EXPECT_FALSE(MLMultiArray::create({1LL << 40, 1LL << 40}, MLMultiArrayDataType::Double));
}

TEST(Binary, UnallocatableShapePrintsTheErrorLineAndGivesNothing) {
    // A negative dimension cannot be allocated.
    GameState state(Shape{-1, 7}, 1);
    std::ostringstream captured;
    auto* old = std::cout.rdbuf(captured.rdbuf());
    const auto array = state.binary();
    std::cout.rdbuf(old);
    EXPECT_FALSE(array);
    EXPECT_EQ(captured.str(), "GameState.computeBinary: MLMultiArray alloc error\n");
}
