#include "Tarnwick/play/Game.hpp"

#include <limits>
#include <string>

#include "Tarnwick/rules/Errors.hpp"

namespace tarnwick {

Game::Game(std::shared_ptr<Config> config) : config(std::move(config)) {
    if (!this->config) throw std::invalid_argument("Game: a game needs a configuration");
    currentPlayer = 1;
    gameState = std::make_shared<GameState>(Shape{this->config->rows, this->config->columns},
                                            currentPlayer);
    actionSpace.assign(static_cast<std::size_t>(std::max<std::int64_t>(0, this->config->size())), 0);
}

std::shared_ptr<Game> Game::init(std::shared_ptr<Config> config) {
    if (!config) return nullptr;
    auto game = std::make_shared<Game>(std::move(config));
    return game->gameState ? game : nullptr;
}

const GameState& Game::position() const {
    if (!gameState) throw FatalError("Game: the game has no position");
    return *gameState;
}

std::int64_t Game::stateSize() const {
    const auto tensor = position().binary();
    if (!tensor) throw FatalError("Game.stateSize: the position's input tensor cannot be made");
    return tensor->count();
}

std::shared_ptr<GameState> Game::reset() {
    // The result is optional by design: without a configuration there is no board to make.
    if (!config) return nullptr;
    currentPlayer = 1;
    gameState = std::make_shared<GameState>(Shape{config->rows, config->columns}, currentPlayer);
    return gameState;
}

StepResult Game::step(std::int64_t action) {
    if (currentPlayer == std::numeric_limits<std::int64_t>::min())
        throw FatalError("Game.step: currentPlayer " + std::to_string(currentPlayer) +
                         " has no opponent");
    auto result = position().take(action);
    gameState = result.gameState;
    currentPlayer = -currentPlayer;
    return result;
}

} // namespace tarnwick
