#pragma once
// A bot move played at a chosen level, within a time budget, or by the exact solver where the
// position settles. With none of these asked for it is exactly ZenfoldAgent::act.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "Tarnwick/agents/Level.hpp"
#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/solver/Solver.hpp"

namespace tarnwick {

// Think for `time` instead of a simulation count: at least one simulation, and no more than
// `maxSimulations`, which bounds the tree's memory (about 800 bytes a simulation) when a host
// gives a huge budget.
struct MoveBudget {
    std::chrono::milliseconds time{0};
    std::int64_t maxSimulations = 100000;
};

struct BotMoveSettings {
    Level level = *levelNamed(FullStrength);
    std::optional<MoveBudget> budget;
    // At full strength only: the solver's move where it settles within `exactLimits`.
    bool exact = false;
    solver::Limits exactLimits{2'000'000, std::chrono::milliseconds(250)};
};

struct BotMove {
    std::int64_t action;
    std::int64_t simulations; // 0 when the move came from the solver or a win in one
    bool exact;               // chosen by the solver
};

// `solver` is needed for exact play only; may be null otherwise.
BotMove playBotMove(ZenfoldAgent& bot, const std::shared_ptr<GameState>& state, bool stochastic,
                    const BotMoveSettings& settings, solver::Solver* solver);

// The action that completes a line for the player to move, if any.
std::optional<std::int64_t> winningAction(const GameState& state);

} // namespace tarnwick
