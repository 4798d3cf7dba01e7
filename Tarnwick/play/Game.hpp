#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Tarnwick/rules/Config.hpp"
#include "Tarnwick/rules/GameState.hpp"

namespace tarnwick {

class version0328;

// One match: the configuration, the current position and whose turn it is. `currentPlayer`
// selects which of the caller's players moves; the position's playerTurn whose pieces are
// placed. They stay equal unless a caller writes currentPlayer.
class Game {
public:
    // Empty when no initial position results.
    static std::shared_ptr<Game> init(std::shared_ptr<Config> config);
    explicit Game(std::shared_ptr<Config> config);

    std::shared_ptr<Config> config;
    std::int64_t currentPlayer = 1;
    std::shared_ptr<GameState> gameState;
    std::vector<std::int64_t> actionSpace;

    // Element count of the position's network input: 84.
    std::int64_t stateSize() const;
    std::int64_t actionSize() const { return static_cast<std::int64_t>(actionSpace.size()); }

    // Null when `config` has been set to null.
    std::shared_ptr<GameState> reset();
    // Throws FatalError without a position or when currentPlayer cannot be negated.
    StepResult step(std::int64_t action);

    // A whole match between two search agents, written to standard output.
    static void playSelfMatch();
    // The same with both players on `model`, loaded once (the shipped network when null).
    static void playSelfMatch(const std::shared_ptr<version0328>& model);

private:
    const GameState& position() const;
};

} // namespace tarnwick
