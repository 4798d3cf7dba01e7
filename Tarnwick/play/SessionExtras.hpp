#pragma once
// What a session keeps for the features beside the designed interface: the level and budget
// its bots play at, and the moves it can take back.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Tarnwick/agents/BotMove.hpp"
#include "Tarnwick/rules/GameState.hpp"
#include "Tarnwick/solver/Solver.hpp"

namespace tarnwick {

class Game;

// The session as it was just before one move.
struct PlayedStep {
    std::shared_ptr<GameState> state;
    std::int64_t currentPlayer;
    std::int64_t turnCount;
    std::int64_t value;
    bool done;
};

struct SessionExtras {
    BotMoveSettings settings;
    std::int64_t lastSimulations = 0;
    // The moves of `game`, oldest first; a history of another game (after clear) is stale.
    std::shared_ptr<Game> game;
    std::vector<PlayedStep> history;
    // Made on first use: hints and exact play only.
    std::unique_ptr<solver::Solver> solver;
    std::size_t solverEntries = solver::Solver::PhoneTableEntries;

    solver::Solver& theSolver() {
        if (!solver) solver = std::make_unique<solver::Solver>(solverEntries);
        return *solver;
    }
};

} // namespace tarnwick
