#include "Tarnwick/rules/Notation.hpp"

namespace tarnwick {

std::optional<std::int64_t> actionOfColumn(const GameState& state, std::int64_t column) {
    const auto columns = state.shape.columns;
    if (column < 0 || column >= columns) return std::nullopt;
    for (const auto action : state.allowedActions())
        if (action % columns == column) return action;
    return std::nullopt;
}

char columnCharacter(std::int64_t column) {
    return static_cast<char>('1' + column);
}

ParsedMoves parseMoves(std::string_view moves, std::shared_ptr<GameState> from) {
    auto state = from ? std::move(from) : std::make_shared<GameState>(Shape{6, 7}, 1);
    ParsedMoves parsed;
    const auto refuse = [&](MovesRefusal why, std::size_t i, const std::string& text) {
        parsed.state = nullptr;
        parsed.refusal = why;
        parsed.errorIndex = static_cast<std::int64_t>(i);
        parsed.error = text + " (move " + std::to_string(i + 1) + ")";
        return parsed;
    };
    for (std::size_t i = 0; i < moves.size(); ++i) {
        const char c = moves[i];
        const auto column = c - '1';
        if (column < 0 || column >= state->shape.columns) {
            // A control or non-ASCII byte is shown by its code, not written raw.
            const bool printable = c >= 0x20 && c < 0x7f;
            const auto shown = printable ? std::string("'") + c + "'"
                                         : "byte " + std::to_string(static_cast<unsigned char>(c));
            return refuse(MovesRefusal::badCharacter, i,
                          shown + " is not a column 1 to " + std::to_string(state->shape.columns));
        }
        if (state->isEndGame())
            return refuse(MovesRefusal::afterEnd, i, "the game is already over before this move");
        const auto cell = actionOfColumn(*state, column);
        if (!cell)
            return refuse(MovesRefusal::fullColumn, i, std::string("column ") + c + " is full");
        parsed.actions.push_back(*cell);
        state = state->take(*cell).gameState;
    }
    parsed.state = std::move(state);
    return parsed;
}

} // namespace tarnwick
