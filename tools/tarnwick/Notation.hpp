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

} // namespace tarnwick::cli
