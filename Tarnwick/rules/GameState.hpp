#pragma once
// One position of the game. Cells are numbered row * 7 + column with row 0 at the top, so a
// dropped piece comes to rest at the highest free index of its column. An action is the
// index of that cell, never a column number. Values are seen from the player to move.

#include <array>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "Platform/MLMultiArray.hpp"

namespace tarnwick {

class GameState;

struct Shape {
    std::int64_t rows;
    std::int64_t columns;
};

struct StepResult {
    std::shared_ptr<GameState> gameState;
    double value;
    bool done;
};

class GameState {
public:
    GameState(Shape shape, std::int64_t playerTurn);
    virtual ~GameState() = default;

    std::vector<std::int64_t> board;
    const Shape shape;
    std::int64_t playerTurn;

    // The 69 four-cell lines of the 6 x 7 board, in their fixed order.
    static const std::vector<std::array<std::int64_t, 4>>& winners();

    virtual std::vector<std::int64_t> allowedActions() const;
    virtual bool isEndGame() const;
    virtual double value() const;
    virtual std::vector<std::int64_t> winningActions() const;
    // The position after `action`; this one is left unchanged. Throws std::out_of_range for
    // an action that is not a cell of the board, FatalError for a playerTurn that cannot be
    // negated; legality is the caller's business.
    virtual StepResult take(std::int64_t action) const;

    // 84 characters: cells of player +1, then cells of player -1.
    virtual std::string id() const;
    virtual std::string description() const;
    // Network input [2, rows, columns]: the mover's pieces, then the opponent's.
    virtual std::shared_ptr<platform::MLMultiArray> binary() const;

private:
    std::int64_t cell(std::int64_t index) const;
    bool lineOfLastMover(const std::array<std::int64_t, 4>& line) const;
    bool lastMoverHasLine() const;
    bool isFull() const;
};

// A printed position is its picture, `description`.
std::ostream& operator<<(std::ostream& out, const GameState& state);

} // namespace tarnwick
