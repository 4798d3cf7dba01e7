#pragma once
// Advice for the player to move: every legal column ranked, with the search's view of it and,
// where the capped exact solver settles it, the exact result.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/solver/Solver.hpp"

namespace tarnwick {

// The exact result of a move with perfect play after it, for the player who makes it. `moves`
// counts that player's own moves to the win (the hinted one included), or the opponent's
// moves to the loss; 0 for a draw.
struct Verdict {
    enum class Result { win, draw, loss } result;
    std::int64_t moves;
};

struct ColumnHint {
    std::int64_t column; // 0..6
    std::int64_t action; // the cell the piece lands in
    double visitShare;   // of the hint's simulations at the root
    // The search's value of the move as a chance of winning, (Q + 1) / 2; empty when the
    // search never tried the move.
    std::optional<double> winChance;
    std::optional<Verdict> verdict;
};

struct Hint {
    std::int64_t player;             // whose pieces the advice is for (the position's playerTurn)
    std::vector<ColumnHint> columns; // best first
    std::int64_t simulations;
    bool exact; // every column has a verdict, and the ranking follows them
};

struct HintOptions {
    std::int64_t simulations = 200;
    solver::Limits limits{4'000'000, std::chrono::milliseconds(300)};
};

// The verdict of a solver score for the player it belongs to, `stones` pieces on the board.
Verdict verdictOf(int score, int stones);

// Empty for a finished position. The search runs in a tree of its own: the bot's tree, its
// simulation count and the position it will search next are left as they were.
std::optional<Hint> hintFor(ZenfoldAgent& bot, const std::shared_ptr<GameState>& state,
                            const HintOptions& options, solver::Solver& solver);

} // namespace tarnwick
