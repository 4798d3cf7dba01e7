// GameSession's members beside the designed interface: levels, time budget, exact play, undo
// and hints. Unused, they leave every designed member as it was.

#include "Tarnwick/agents/UserAgent.hpp"
#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/play/GameSession.hpp"

namespace tarnwick {

bool GameSession::setLevel(std::int64_t level) {
    const auto named = levelNamed(level);
    if (!named) return false;
    extras_.settings.level = *named;
    return true;
}

std::int64_t GameSession::level() const {
    return extras_.settings.level.number;
}

void GameSession::setExactPlay(bool exact, solver::Limits limits) {
    extras_.settings.exact = exact;
    extras_.settings.exactLimits = limits;
}

bool GameSession::exactPlay() const {
    return extras_.settings.exact;
}

void GameSession::setMoveBudget(std::optional<MoveBudget> budget) {
    if (budget && budget->time.count() < 0) budget->time = std::chrono::milliseconds(0);
    extras_.settings.budget = budget;
}

std::optional<MoveBudget> GameSession::moveBudget() const {
    return extras_.settings.budget;
}

std::int64_t GameSession::lastSimulations() const {
    return extras_.lastSimulations;
}

void GameSession::setSolverTableEntries(std::size_t entries) {
    extras_.solverEntries = entries == 0 ? 1 : entries;
    extras_.solver.reset();
}

std::int64_t GameSession::botAction(Agent& player, const std::shared_ptr<GameState>& state,
                                    bool stochastic) {
    auto* bot = dynamic_cast<ZenfoldAgent*>(&player);
    if (!bot) return player.act(state, stochastic);
    auto* solver = extras_.settings.exact ? &extras_.theSolver() : nullptr;
    const auto played = playBotMove(*bot, state, stochastic, extras_.settings, solver);
    extras_.lastSimulations = played.simulations;
    return played.action;
}

void GameSession::remember(const std::shared_ptr<GameState>& before, std::int64_t currentPlayer,
                           std::int64_t previousValue, bool previousDone) {
    // clear() makes a new game: what was played in the old one cannot be taken back into it.
    if (extras_.game != game) {
        extras_.history.clear();
        extras_.game = game;
    }
    extras_.history.push_back({before, currentPlayer, turnCount - 1, previousValue, previousDone});
}

bool GameSession::undo() {
    if (!game || extras_.game != game || extras_.history.empty()) return false;
    auto isUser = [&](std::int64_t key) {
        if (!players) return false;
        const auto found = players->find(key);
        return found != players->end() && std::dynamic_pointer_cast<UserAgent>(found->second);
    };
    const bool userPlays = isUser(1) || isUser(-1);
    // Back to a position where the user is to move, or one move when bots play each other.
    do {
        const auto step = extras_.history.back();
        extras_.history.pop_back();
        game->gameState = step.state;
        game->currentPlayer = step.currentPlayer;
        turnCount = step.turnCount;
        value = step.value;
        done = step.done;
    } while (userPlays && !extras_.history.empty() && !isUser(game->currentPlayer));
    return true;
}

std::optional<Hint> GameSession::hint(const HintOptions& options) {
    if (!game || !players || done || !game->gameState) return std::nullopt;
    std::shared_ptr<ZenfoldAgent> bot;
    if (const auto found = players->find(game->currentPlayer); found != players->end())
        bot = std::dynamic_pointer_cast<ZenfoldAgent>(found->second);
    for (const auto& [key, player] : *players)
        if (!bot) bot = std::dynamic_pointer_cast<ZenfoldAgent>(player);
    if (!bot) return std::nullopt;
    return hintFor(*bot, game->gameState, options, extras_.theSolver());
}

} // namespace tarnwick
