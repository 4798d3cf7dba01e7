#pragma once
// What a host application drives: one match of the user (+1) against the bot (-1), or of two
// bots, played move by move through userPlay(at) and move().

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DerivedSources/CoreMLGenerated/version0328/version0328.hpp"
#include "Tarnwick/agents/Agent.hpp"
#include "Tarnwick/play/Game.hpp"
#include "Tarnwick/play/Hint.hpp"
#include "Tarnwick/play/SessionExtras.hpp"
#include "Tarnwick/rules/Color.hpp"
#include "Tarnwick/rules/Config.hpp"

namespace tarnwick {

struct PlayedMove {
    std::int64_t action;
    Color color;
    std::int64_t index;
};

struct Outcome {
    std::string message;
    std::vector<std::int64_t> winningPieces;
};

class GameSession {
public:
    // Starts a user-against-bot match at once.
    GameSession();

    std::shared_ptr<Game> game;
    std::optional<std::map<std::int64_t, std::shared_ptr<Agent>>> players;
    bool done = false;
    std::int64_t turnCount = 0;
    std::int64_t value = 0;
    std::shared_ptr<Config> config;

    // Read and write the process-wide Config statics; writing MCTS_SIMS also retunes the bots.
    std::int64_t TAU0() const;
    void setTAU0(std::int64_t newValue);
    std::int64_t MCTS_SIMS() const;
    void setMCTS_SIMS(std::int64_t newValue);
    // Who opens: true hands the next move to the bot (player -1).
    bool botStarts() const { return botStarts_; }
    void setBotStarts(bool newValue);

    // Throws FatalError when `config` has been set to null.
    Shape boardLayout() const;

    // A network of the host's for this session's bots, now and in every later match; null
    // returns them to the shipped model found by the default lookup. The bots of one session
    // share it, so it is used by one thread at a time as the session is.
    void setModel(std::shared_ptr<version0328> model);
    const std::shared_ptr<version0328>& model() const { return model_; }

    // Starts a new match; throws TextError when the game or the players cannot be made.
    void clear(bool selfPlay = false, std::int64_t tau = 0, std::int64_t mcts = 50);

    // Stores the user's next move in `column` (0..6); false when refused.
    bool userPlay(std::int64_t column);
    // Plays the next move. Empty when there is nothing to ask, the match is over, the
    // player answers with an action that is not legal in the position, or hand-written
    // counters leave no next move (turnCount at its largest, a turn with no opposite).
    std::optional<PlayedMove> move();
    // A win names the player who made the last move, whatever has been written to botStarts
    // since.
    std::optional<Outcome> outcome() const;
    std::optional<std::vector<std::int64_t>> winningActions() const;

    // Beside the designed interface: unused, the session plays exactly as designed.
    // The strength of every bot of the session, 1 to 8 (8, the default, is the designed bot);
    // false for a level outside that range. Takes effect from the next bot move.
    bool setLevel(std::int64_t level);
    std::int64_t level() const;
    // At full strength: play the exact solver's move wherever it settles within `limits`.
    void setExactPlay(bool exact, solver::Limits limits = BotMoveSettings{}.exactLimits);
    bool exactPlay() const;
    // Think for a time instead of MCTS_SIMS simulations; empty goes back to the count.
    void setMoveBudget(std::optional<MoveBudget> budget);
    std::optional<MoveBudget> moveBudget() const;
    // Simulations the last bot move ran (0 for a move of the solver or a win in one).
    std::int64_t lastSimulations() const;
    // The exact solver's table size, in entries of 9 bytes (the default about 4.7 MB).
    void setSolverTableEntries(std::size_t entries);
    // Takes back the user's last move and the bot's reply after it (one move when bots play
    // each other), as often as there are moves; false when there is none. done, turnCount,
    // value and the outcome are as they were before those moves.
    bool undo();
    // Advice for the player to move, searched with a bot of the session's network; empty
    // when the match is over or has no bot.
    std::optional<Hint> hint(const HintOptions& options = {});

private:
    std::int64_t botAction(Agent& player, const std::shared_ptr<GameState>& state,
                           bool stochastic);
    void remember(const std::shared_ptr<GameState>& before, std::int64_t currentPlayer,
                  std::int64_t previousValue, bool previousDone);

    bool botStarts_ = false;
    // Key of the player whose move move() applied last in this match.
    std::optional<std::int64_t> lastMover_;
    SessionExtras extras_;
    std::shared_ptr<version0328> model_;

    void giveModelToBots();
};

} // namespace tarnwick
