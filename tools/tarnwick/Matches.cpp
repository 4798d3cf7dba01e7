#include "tools/tarnwick/Matches.hpp"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "Tarnwick/rules/Config.hpp"
#include "Tarnwick/rules/Notation.hpp"
#include "Tarnwick/search/Random.hpp"

namespace tarnwick::cli {

Player::Player(const std::shared_ptr<version0328>& model, const PlayerOptions& options)
    : model_(model), options_(options),
      bot_("player", 84, 42, std::max<std::int64_t>(1, options.sims), Config::CPUCT) {
    bot_.setModel(model);
    if (options.level > 0) {
        const auto level = levelNamed(options.level);
        if (!level) throw std::invalid_argument("no level " + std::to_string(options.level));
        settings_.level = *level;
    }
    settings_.exact = options.exact;
    if (options.exact)
        solver_ = std::make_unique<solver::Solver>(solver::Solver::PhoneTableEntries);
}

int Player::column(const std::shared_ptr<GameState>& state) {
    const auto legal = state->allowedActions();
    if (legal.empty()) throw std::logic_error("Player: no legal move");
    if (options_.level == 0)
        return static_cast<int>(
            legal[static_cast<std::size_t>(
                uniformInt(0, static_cast<std::int64_t>(legal.size()) - 1))] %
            7);
    if (options_.level == FullStrength && options_.sims == 0 && !options_.exact) {
        // The network alone: its most likely legal move, no search.
        const auto output = model_->prediction(state->binary());
        const auto& scores = *output->output2();
        const auto best = *std::max_element(legal.begin(), legal.end(), [&](auto a, auto b) {
            return scores[a] < scores[b];
        });
        return static_cast<int>(best % 7);
    }
    return static_cast<int>(playBotMove(bot_, state, false, settings_, solver_.get()).action % 7);
}

int playGame(const ColumnChoice& choose, std::string* moves) {
    std::string played;
    auto state = parseMoves("").state;
    while (true) {
        const int column = choose(played, state);
        const auto action = actionOfColumn(*state, column);
        if (!action) throw std::logic_error("playGame: column " + std::to_string(column + 1) +
                                            " is not playable after \"" + played + "\"");
        const auto step = state->take(*action);
        played += static_cast<char>('1' + column);
        state = step.gameState;
        if (step.done) {
            if (moves) *moves = played;
            // The finished position's value is for the player who would move next.
            const double forFirst = played.size() % 2 == 1 ? -step.value : step.value;
            return forFirst > 0 ? 1 : forFirst < 0 ? -1 : 0;
        }
    }
}

int perfectColumn(const solver::Solver::Best& best, std::mt19937_64& rng) {
    return best.columns[std::uniform_int_distribution<std::size_t>(0, best.columns.size() - 1)(rng)];
}

std::string Record::text() const {
    std::ostringstream text;
    text << '+' << wins << " =" << draws << " -" << losses;
    return text.str();
}

} // namespace tarnwick::cli
