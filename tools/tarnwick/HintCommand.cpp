// Advice for the player to move in a position given in the common notation.

#include <iostream>

#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/rules/Config.hpp"
#include "Tarnwick/rules/Notation.hpp"
#include "tools/tarnwick/Commands.hpp"
#include "tools/tarnwick/HintText.hpp"

namespace tarnwick::cli {

int hint(const BotOptions& options, const std::string& moves, bool json, std::ostream& out,
         std::ostream& err) {
    const auto parsed = parseMoves(moves);
    if (!parsed.state) {
        err << "tarnwick hint: " << parsed.error << "\n";
        return 2;
    }
    if (parsed.state->isEndGame()) {
        err << "tarnwick hint: the game is already over in \"" << moves << "\"\n";
        return 2;
    }
    applySeed(options);
    ZenfoldAgent bot("hint", 84, 42, options.sims, Config::CPUCT);
    bot.setModel(loadModel(options.model, options.int8));
    solver::Solver solver;
    HintOptions hintOptions;
    hintOptions.simulations = options.sims;
    const auto advice = hintFor(bot, parsed.state, hintOptions, solver);
    if (!advice) {
        err << "tarnwick hint: no advice in \"" << moves << "\"\n";
        return 2;
    }
    if (json) {
        auto report = hintJson(*advice);
        report["moves"] = moves;
        out << report.dump() << "\n";
        return 0;
    }
    printHint(*advice, out);
    return 0;
}

} // namespace tarnwick::cli
