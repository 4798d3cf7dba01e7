#include "Tarnwick/rules/GameState.hpp"

#include <iostream>
#include <limits>
#include <ostream>
#include <stdexcept>

#include "Tarnwick/rules/Config.hpp"
#include "Tarnwick/rules/Errors.hpp"

namespace tarnwick {

namespace {
std::int64_t cellCount(Shape shape) {
    std::int64_t cells = 0;
    if (shape.rows <= 0 || shape.columns <= 0) return 0;
    if (__builtin_mul_overflow(shape.rows, shape.columns, &cells))
        throw std::length_error("GameState: board shape too large");
    return cells;
}
} // namespace

GameState::GameState(Shape shape, std::int64_t playerTurn)
    : board(static_cast<std::size_t>(cellCount(shape)), 0), shape(shape), playerTurn(playerTurn) {}

const std::vector<std::array<std::int64_t, 4>>& GameState::winners() {
    static const std::vector<std::array<std::int64_t, 4>> table = [] {
        std::vector<std::array<std::int64_t, 4>> lines;
        auto add = [&](std::int64_t first, std::int64_t step) {
            lines.push_back({first, first + step, first + 2 * step, first + 3 * step});
        };
        for (std::int64_t r = 0; r < 6; ++r)
            for (std::int64_t c = 0; c < 4; ++c) add(7 * r + c, 1);
        for (std::int64_t c = 0; c < 7; ++c)
            for (std::int64_t r = 0; r < 3; ++r) add(7 * r + c, 7);
        for (std::int64_t k = 3; k <= 8; ++k)
            for (std::int64_t r = 0; r <= 2; ++r)
                if (k - r >= 3 && k - r <= 6) add(7 * r + (k - r), 6);
        for (std::int64_t d = 3; d >= -2; --d)
            for (std::int64_t r = 0; r <= 2; ++r)
                if (d + r >= 0 && d + r <= 3) add(7 * r + (d + r), 8);
        return lines;
    }();
    return table;
}

// A hand-assigned board may be shorter than the line table expects: missing cells read empty.
std::int64_t GameState::cell(std::int64_t index) const {
    return index >= 0 && index < static_cast<std::int64_t>(board.size())
               ? board[static_cast<std::size_t>(index)]
               : 0;
}

// Wide arithmetic: a hand-assigned board or turn may hold any 64-bit value.
bool GameState::lineOfLastMover(const std::array<std::int64_t, 4>& line) const {
    const __int128 sum = static_cast<__int128>(cell(line[0])) + cell(line[1]) + cell(line[2]) +
                         cell(line[3]);
    return sum == -4 * static_cast<__int128>(playerTurn);
}

std::vector<std::int64_t> GameState::allowedActions() const {
    std::vector<std::int64_t> actions;
    const auto n = static_cast<std::int64_t>(board.size());
    // Wide: a shape made by hand may hold any 64-bit column count.
    const __int128 c = shape.columns;
    for (std::int64_t i = 0; i < n; ++i) {
        if (board[static_cast<std::size_t>(i)] != 0) continue;
        const __int128 below = i + c;
        if (i < n - c && below >= 0 && below < n) {
            if (board[static_cast<std::size_t>(below)] != 0) actions.push_back(i);
        } else {
            actions.push_back(i);
        }
    }
    return actions;
}

// The search asks this of every new position. On a board of the usual pieces (-1, 0, 1)
// and turn (+-1) a line sums to the last mover's four exactly when all four cells are
// theirs, which one bit mask per line tests; other boards take the line sums.
bool GameState::lastMoverHasLine() const {
    const auto& lines = winners();
    if (board.size() >= 42 && (playerTurn == 1 || playerTurn == -1)) {
        static const auto masks = [&lines] {
            std::vector<std::uint64_t> out;
            for (const auto& line : lines) {
                std::uint64_t mask = 0;
                for (const auto cell : line) mask |= std::uint64_t{1} << cell;
                out.push_back(mask);
            }
            return out;
        }();
        bool plain = true;
        std::uint64_t mine = 0;
        for (std::size_t i = 0; i < 42; ++i) {
            plain &= board[i] >= -1 && board[i] <= 1;
            mine |= static_cast<std::uint64_t>(board[i] == -playerTurn) << i;
        }
        if (plain) {
            for (const auto mask : masks)
                if ((mine & mask) == mask) return true;
            return false;
        }
    }
    for (const auto& line : lines)
        if (lineOfLastMover(line)) return true;
    return false;
}

bool GameState::isFull() const {
    std::int64_t filled = 0;
    for (auto v : board) filled += v != 0;
    return filled == cellCount(shape);
}

bool GameState::isEndGame() const { return isFull() || lastMoverHasLine(); }

double GameState::value() const { return lastMoverHasLine() ? -1.0 : 0.0; }

std::vector<std::int64_t> GameState::winningActions() const {
    std::vector<std::int64_t> cells;
    for (const auto& line : winners())
        if (lineOfLastMover(line)) cells.insert(cells.end(), line.begin(), line.end());
    return cells;
}

StepResult GameState::take(std::int64_t action) const {
    if (action < 0 || action >= static_cast<std::int64_t>(board.size()))
        throw std::out_of_range("GameState.take: action " + std::to_string(action) +
                                " is not a cell of the board");
    if (playerTurn == std::numeric_limits<std::int64_t>::min())
        throw FatalError("GameState.take: playerTurn " + std::to_string(playerTurn) +
                         " has no opponent");
    auto next = std::make_shared<GameState>(shape, -playerTurn);
    next->board = board;
    next->board[static_cast<std::size_t>(action)] = playerTurn;
    if (next->lastMoverHasLine()) return {next, -1.0, true};
    return {next, 0.0, next->isFull()};
}

std::string GameState::id() const {
    std::string key(2 * board.size(), '0');
    for (std::size_t i = 0; i < board.size(); ++i) {
        if (board[i] == 1) key[i] = '1';
        if (board[i] == -1) key[board.size() + i] = '1';
    }
    return key;
}

std::string GameState::description() const {
    const std::string rule(35, '-');
    const auto& pieces = Config::pieces();
    std::string text = rule + "\n";
    for (std::int64_t r = 0; r < shape.rows; ++r) {
        text += "|";
        for (std::int64_t c = 0; c < shape.columns; ++c) {
            const auto index = r * shape.columns + c;
            std::string letter = "?";
            if (index < static_cast<std::int64_t>(board.size())) {
                auto it = pieces.find(board[static_cast<std::size_t>(index)]);
                if (it != pieces.end()) letter = it->second;
            }
            if (c > 0) text += ", ";
            text += "'" + letter + "'";
        }
        text += "|";
        if (r + 1 < shape.rows) text += "\n";
    }
    return text + "\n" + rule;
}

std::shared_ptr<platform::MLMultiArray> GameState::binary() const {
    auto array = platform::MLMultiArray::create({2, shape.rows, shape.columns},
                                                platform::MLMultiArrayDataType::Double);
    if (!array) {
        std::cout << "GameState.computeBinary: MLMultiArray alloc error" << std::endl;
        return nullptr;
    }
    auto* data = static_cast<double*>(array->dataPointer());
    const auto count = array->count();
    for (std::int64_t i = 0; i < count; ++i) data[i] = 0.0;
    const auto plane = cellCount(shape);
    const auto cells = std::min<std::int64_t>(plane, static_cast<std::int64_t>(board.size()));
    for (std::int64_t i = 0; i < cells; ++i) {
        const auto v = board[static_cast<std::size_t>(i)];
        if (v == playerTurn) {
            data[i] = 1.0;
            data[plane + i] = 0.0;
        } else if (v == -static_cast<__int128>(playerTurn)) {
            data[i] = 0.0;
            data[plane + i] = 1.0;
        }
    }
    return array;
}

std::ostream& operator<<(std::ostream& out, const GameState& state) {
    return out << state.description();
}

} // namespace tarnwick
