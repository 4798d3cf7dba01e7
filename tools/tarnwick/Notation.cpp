#include "tools/tarnwick/Notation.hpp"

namespace tarnwick::cli {

std::int64_t actionOfColumn(const GameState& state, int column) {
    for (const auto action : state.allowedActions())
        if (action % 7 == column) return action;
    return -1;
}

ParsedMoves parseMoves(const std::string& moves) {
    auto state = std::make_shared<GameState>(Shape{6, 7}, 1);
    for (std::size_t i = 0; i < moves.size(); ++i) {
        const char c = moves[i];
        const auto at = " (move " + std::to_string(i + 1) + ")";
        if (c < '1' || c > '7')
            return {nullptr, std::string("'") + c + "' is not a column 1 to 7" + at};
        if (state->isEndGame()) return {nullptr, "the game is already over before this move" + at};
        const auto cell = actionOfColumn(*state, c - '1');
        if (cell < 0) return {nullptr, std::string("column ") + c + " is full" + at};
        state = state->take(cell).gameState;
    }
    return {state, ""};
}

} // namespace tarnwick::cli
