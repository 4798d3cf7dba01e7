// The bot's move in a position given in the common notation: the columns played so far, 1 to 7.

#include <iostream>

#include <nlohmann/json.hpp>

#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/rules/Config.hpp"
#include "tools/tarnwick/Commands.hpp"
#include "Tarnwick/rules/Notation.hpp"

namespace tarnwick::cli {

int bestmove(const BotOptions& options, const std::string& moves, bool json, std::ostream& out,
             std::ostream& err) {
    const auto parsed = parseMoves(moves);
    if (!parsed.state) {
        err << "tarnwick bestmove: " << parsed.error << "\n";
        return 2;
    }
    const auto& state = parsed.state;
    if (state->isEndGame()) {
        err << "tarnwick bestmove: the game is already over in \"" << moves << "\"\n";
        return 2;
    }
    applySeed(options);
    auto model = loadModel(options.model, options.int8);
    ZenfoldAgent bot("bestmove", 84, 42, options.sims, Config::CPUCT);
    bot.setModel(model);
    const auto action = bot.act(state, false);
    const auto column = action % 7 + 1;
    if (json) {
        std::vector<double> visits(7, 0.0), distribution(7, 0.0), priors(7, 0.0);
        double total = 0;
        for (const auto& edge : bot.mcts->root->edges) total += edge->stats.N;
        for (const auto& edge : bot.mcts->root->edges) {
            const auto c = static_cast<std::size_t>(edge->action % 7);
            visits[c] = edge->stats.N;
            distribution[c] = total > 0 ? edge->stats.N / total : 0.0;
            priors[c] = edge->stats.P;
        }
        const auto output = model->prediction(state->binary());
        nlohmann::json report{{"moves", moves},
                              {"column", column},
                              {"simulations", std::max<std::int64_t>(1, options.sims)},
                              {"visits", visits},
                              {"distribution", distribution},
                              {"priors", priors},
                              {"value", (*output->output1())[0]}};
        out << report.dump() << "\n";
    }
    out << column << "\n";
    return 0;
}

} // namespace tarnwick::cli
