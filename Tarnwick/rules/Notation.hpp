#pragma once
// The common notation of the game: the columns played from the empty board, digits 1 to 7,
// first player first ("4453"). Every adapter (command line, benchmarks, C interface) reads it
// here; a refusal is a value, never an exception.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Tarnwick/rules/GameState.hpp"

namespace tarnwick {

enum class MovesRefusal { none, badCharacter, fullColumn, afterEnd };

struct ParsedMoves {
    std::shared_ptr<GameState> state; // null when refused
    std::string error;                // why it was refused, naming the move; empty otherwise
    MovesRefusal refusal = MovesRefusal::none;
    std::int64_t errorIndex = -1;      // index of the refused character
    std::vector<std::int64_t> actions; // the cells played, in order (all of them when accepted)
};

// Plays `moves` on `from` (the empty board when null); nothing is changed on a refusal.
ParsedMoves parseMoves(std::string_view moves, std::shared_ptr<GameState> from = nullptr);

// The cell where a piece dropped in `column` (0..6) lands; empty when the column is full or
// not a column of the board.
std::optional<std::int64_t> actionOfColumn(const GameState& state, std::int64_t column);

// The notation of a column (0..6): '1'..'7'.
char columnCharacter(std::int64_t column);

} // namespace tarnwick
