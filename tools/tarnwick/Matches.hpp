#pragma once
// What the judging commands share: a player at any strength, a game played out from the
// empty board, the perfect player's move, and a win/draw/loss record.

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "Tarnwick/agents/BotMove.hpp"
#include "tools/tarnwick/Oracle.hpp"

namespace tarnwick::cli {

struct PlayerOptions {
    std::int64_t sims = 50;            // at full strength; 0: the network's most likely move
    std::int64_t level = FullStrength; // 0: uniformly random legal moves
    bool exact = false;                // at full strength: the solver's move where it settles
};

class Player {
  public:
    Player(const std::shared_ptr<version0328>& model, const PlayerOptions& options);
    int column(const std::shared_ptr<GameState>& state);

  private:
    std::shared_ptr<version0328> model_;
    PlayerOptions options_;
    ZenfoldAgent bot_;
    BotMoveSettings settings_;
    std::unique_ptr<solver::Solver> solver_;
};

// The column (0-6) to play after `moves`, whose position is `state`.
using ColumnChoice =
    std::function<int(const std::string& moves, const std::shared_ptr<GameState>& state)>;

// Plays one game from the empty board: +1 when the first player wins, 0 a draw, -1 a loss.
// `moves` (may be null) receives the game's columns.
int playGame(const ColumnChoice& choose, std::string* moves = nullptr);

// One of the perfect player's best columns (`Oracle::best`), drawn uniformly.
int perfectColumn(const solver::Solver::Best& best, std::mt19937_64& rng);

struct Record {
    int wins = 0, draws = 0, losses = 0;
    void add(int result) { (result > 0 ? wins : result < 0 ? losses : draws) += 1; }
    int games() const { return wins + draws + losses; }
    std::string text() const; // "+W =D -L"
};

} // namespace tarnwick::cli
