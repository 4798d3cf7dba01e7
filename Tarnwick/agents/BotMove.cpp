#include "Tarnwick/agents/BotMove.hpp"

#include <cmath>
#include <stdexcept>

#include "Tarnwick/search/Random.hpp"

namespace tarnwick {
namespace {

// Restores the bot's own simulation count however the move ends.
class SimulationsGuard {
  public:
    explicit SimulationsGuard(ZenfoldAgent& bot) : bot_(bot), saved_(bot.mctsSimulations) {}
    ~SimulationsGuard() { bot_.mctsSimulations = saved_; }
    SimulationsGuard(const SimulationsGuard&) = delete;
    SimulationsGuard& operator=(const SimulationsGuard&) = delete;

  private:
    ZenfoldAgent& bot_;
    std::int64_t saved_;
};

// Simulations until the budget is spent: one act() of one simulation each, so the tree grows
// and re-roots exactly as it does in designed play.
std::int64_t searchFor(ZenfoldAgent& bot, const std::shared_ptr<GameState>& state,
                       const MoveBudget& budget) {
    const auto deadline = std::chrono::steady_clock::now() + budget.time;
    const auto most = std::max<std::int64_t>(1, budget.maxSimulations);
    bot.mctsSimulations = 1;
    std::int64_t ran = 0;
    do {
        bot.act(state, false);
        ++ran;
    } while (ran < most && std::chrono::steady_clock::now() < deadline);
    return ran;
}

// The move drawn from the root's visits or priors, each raised to 1 / temperature.
std::int64_t drawFromRoot(const ZenfoldAgent& bot, Level::Choice choice, double temperature) {
    const auto& edges = bot.mcts->root->edges;
    if (edges.empty()) throw std::logic_error("playBotMove: the search left no root move");
    std::vector<double> weights(edges.size());
    double top = 0.0;
    for (std::size_t i = 0; i < edges.size(); ++i) {
        weights[i] = choice == Level::Choice::priors ? edges[i]->stats.P : edges[i]->stats.N;
        top = std::max(top, weights[i]);
    }
    if (top <= 0.0) {
        weights.assign(weights.size(), 1.0);
        top = 1.0;
    }
    // Scaled by the largest weight first, so a small temperature cannot overflow to infinity.
    const double power = 1.0 / std::max(temperature, 1e-3);
    for (auto& w : weights)
        w = std::pow(w / top, power);
    const auto index = argmax(multinomial(weights, 1));
    if (!index) throw std::logic_error("playBotMove: nothing to draw from");
    return edges[static_cast<std::size_t>(*index)]->action;
}

// The most visited root move, or one drawn in proportion to the visits: the designed choice.
std::int64_t designedChoice(const ZenfoldAgent& bot, bool stochastic) {
    if (stochastic) return drawFromRoot(bot, Level::Choice::visits, 1.0);
    const auto& edges = bot.mcts->root->edges;
    std::vector<double> visits(edges.size());
    for (std::size_t i = 0; i < edges.size(); ++i)
        visits[i] = edges[i]->stats.N;
    const auto index = argmax(visits);
    if (!index) throw std::logic_error("playBotMove: the search left no root move");
    return edges[static_cast<std::size_t>(*index)]->action;
}

std::optional<std::int64_t> exactAction(const GameState& state, const BotMoveSettings& settings,
                                        solver::Solver& solver) {
    const auto position = solver::Position::fromState(state);
    if (!position) return std::nullopt;
    const auto best = solver.bestMoves(*position, settings.exactLimits);
    if (!best || best->columns.empty()) return std::nullopt;
    // Every best column reaches the same score, and the score already prefers the fastest
    // win and the slowest loss; among them any will do.
    const auto pick = uniformInt(0, static_cast<std::int64_t>(best->columns.size()) - 1);
    const auto column = best->columns[static_cast<std::size_t>(pick)];
    for (const auto action : state.allowedActions())
        if (action % 7 == column) return action;
    return std::nullopt;
}

} // namespace

std::optional<std::int64_t> winningAction(const GameState& state) {
    for (const auto action : state.allowedActions()) {
        const auto step = state.take(action);
        if (step.done && step.value != 0.0) return action;
    }
    return std::nullopt;
}

BotMove playBotMove(ZenfoldAgent& bot, const std::shared_ptr<GameState>& state, bool stochastic,
                    const BotMoveSettings& settings, solver::Solver* solver) {
    if (!state) throw std::invalid_argument("playBotMove: no position");
    const auto& level = settings.level;
    const bool full = level.choice == Level::Choice::designed;
    if (full && !settings.budget && !settings.exact) {
        const auto action = bot.act(state, stochastic);
        return {action, std::max<std::int64_t>(1, bot.mctsSimulations), false};
    }
    if (state->allowedActions().empty())
        throw std::logic_error("playBotMove: the position has no legal action");
    if (full && settings.exact && solver)
        if (const auto action = exactAction(*state, settings, *solver)) return {*action, 0, true};
    if (level.takesWins && !full)
        if (const auto action = winningAction(*state)) return {*action, 0, false};

    SimulationsGuard guard(bot);
    std::int64_t ran;
    if (settings.budget) {
        ran = searchFor(bot, state, *settings.budget);
    } else {
        if (!full) bot.mctsSimulations = level.simulations;
        ran = std::max<std::int64_t>(1, bot.mctsSimulations);
        const auto action = bot.act(state, stochastic);
        if (full) return {action, ran, false};
    }
    const auto action =
        full ? designedChoice(bot, stochastic) : drawFromRoot(bot, level.choice, level.temperature);
    return {action, ran, false};
}

} // namespace tarnwick
