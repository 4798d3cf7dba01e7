#include <iostream>

#include "Tarnwick/play/Game.hpp"
#include "Tarnwick/rules/Config.hpp"
#include "Tarnwick/search/Random.hpp"
#include "tools/tarnwick/Commands.hpp"

namespace tarnwick::cli {

std::shared_ptr<version0328> loadModel(const std::string& folder, bool int8) {
    platform::MLModelConfiguration configuration;
    if (int8) configuration.precision = platform::MLComputePrecision::int8;
    if (folder.empty()) return std::make_shared<version0328>(configuration);
    return std::make_shared<version0328>(std::filesystem::path(folder), configuration);
}

void applySeed(const BotOptions& options) {
    if (options.seed) seedRandom(*options.seed);
}

int selfplay(const BotOptions& options) {
    const auto model = options.model.empty() ? nullptr : loadModel(options.model, options.int8);
    applySeed(options);
    Config::MCTS_SIMS = options.sims;
    Game::playSelfMatch(model);
    return 0;
}

} // namespace tarnwick::cli
