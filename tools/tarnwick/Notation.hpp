#pragma once
// The common notation of the game: the columns played from the empty board, digits 1 to 7,
// first player first ("4453").

#include <memory>
#include <string>

#include "Tarnwick/rules/GameState.hpp"

namespace tarnwick::cli {

struct ParsedMoves {
    std::shared_ptr<GameState> state; // null when refused
    std::string error;
};

ParsedMoves parseMoves(const std::string& moves);

// The cell where a piece dropped in `column` (0..6) lands; -1 when the column is full.
std::int64_t actionOfColumn(const GameState& state, int column);

} // namespace tarnwick::cli
