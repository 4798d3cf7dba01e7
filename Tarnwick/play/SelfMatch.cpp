// The console self-match: two search agents play a whole game and every position is printed.

#include <iostream>
#include <map>

#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/play/Game.hpp"

namespace tarnwick {

void Game::playSelfMatch() { playSelfMatch(nullptr); }

void Game::playSelfMatch(const std::shared_ptr<version0328>& model) {
    const auto game = Game::init(std::make_shared<Config>());
    if (!game) return;
    std::map<std::int64_t, std::shared_ptr<ZenfoldAgent>> agents;
    agents[1] = std::make_shared<ZenfoldAgent>("player1", game->stateSize(), game->actionSize(),
                                               Config::MCTS_SIMS, Config::CPUCT);
    agents[-1] = std::make_shared<ZenfoldAgent>("player2", game->stateSize(), game->actionSize(),
                                                Config::MCTS_SIMS, Config::CPUCT);
    if (model)
        for (const auto& [player, agent] : agents) agent->setModel(model);
    std::cout << game->gameState->description() << "\n";
    bool done = false;
    std::int64_t turn = 0;
    while (!done) {
        ++turn;
        const auto& agent = agents.at(game->currentPlayer);
        const bool stochastic = turn < Config::TAU0;
        const auto action = agent->act(game->gameState, stochastic);
        const auto [s, v, d] = game->step(action);
        std::cout << s->description() << "\n";
        done = d;
        if (done) {
            if (v == -1.0)
                std::cout << agents.at(-s->playerTurn)->name << " WINS\n";
            else
                std::cout << agents.at(s->playerTurn)->name << " AND "
                          << agents.at(-s->playerTurn)->name << " DRAW\n";
        }
    }
    std::cout.flush();
}

} // namespace tarnwick
