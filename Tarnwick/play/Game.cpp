#include "Tarnwick/play/Game.hpp"

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
    currentPlayer = 1;
    gameState = std::make_shared<GameState>(Shape{config->rows, config->columns}, currentPlayer);
    return gameState;
}

StepResult Game::step(std::int64_t action) {
    auto result = position().take(action);
    gameState = result.gameState;
    currentPlayer = -currentPlayer;
    return result;
}

} // namespace tarnwick
