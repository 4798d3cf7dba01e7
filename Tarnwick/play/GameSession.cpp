#include "Tarnwick/play/GameSession.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Tarnwick/agents/UserAgent.hpp"
#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/rules/Errors.hpp"
#include "Tarnwick/search/Random.hpp"

namespace tarnwick {

GameSession::GameSession() : config(std::make_shared<Config>()) { clear(false, 0, 50); }

std::int64_t GameSession::TAU0() const { return Config::TAU0; }
void GameSession::setTAU0(std::int64_t newValue) { Config::TAU0 = newValue; }
std::int64_t GameSession::MCTS_SIMS() const { return Config::MCTS_SIMS; }

void GameSession::setMCTS_SIMS(std::int64_t newValue) {
    Config::MCTS_SIMS = newValue;
    if (!players) return;
    for (auto& [key, player] : *players)
        if (auto bot = std::dynamic_pointer_cast<ZenfoldAgent>(player))
            bot->mctsSimulations = Config::MCTS_SIMS;
}

void GameSession::setBotStarts(bool newValue) {
    botStarts_ = newValue;
    if (game) game->currentPlayer = botStarts_ ? -1 : 1;
}

void GameSession::setModel(std::shared_ptr<version0328> model) {
    model_ = std::move(model);
    giveModelToBots();
}

void GameSession::giveModelToBots() {
    if (!players) return;
    for (auto& [key, player] : *players)
        if (auto bot = std::dynamic_pointer_cast<ZenfoldAgent>(player)) bot->setModel(model_);
}

Shape GameSession::boardLayout() const {
    if (!config) throw FatalError("GameSession.boardLayout: the session has no configuration");
    return {config->rows, config->columns};
}

void GameSession::clear(bool selfPlay, std::int64_t tau, std::int64_t mcts) {
    game = nullptr;
    players.reset();
    done = false;
    turnCount = 0;
    value = 0;
    lastMover_.reset();
    config = std::make_shared<Config>();
    setBotStarts(false);
    game = Game::init(config);
    setTAU0(tau);
    setMCTS_SIMS(mcts);
    if (!game) throw TextError("Velora Error: unable to create game");

    std::shared_ptr<Agent> first;
    std::shared_ptr<Agent> second;
    if (selfPlay) {
        auto draw = [] {
            // Saturating: a host may pass any simulation count.
            const auto sims = std::clamp<std::int64_t>(Config::MCTS_SIMS, -1000, 1000);
            return std::min<std::int64_t>(std::max<std::int64_t>(uniformInt(1, 20) + sims, 1), 300);
        };
        const auto a = draw();
        const auto b = draw();
        const auto as = std::to_string(a);
        const auto bs = std::to_string(b);
        first = std::make_shared<ZenfoldAgent>("SP (" + as + ") vs NSP (" + bs + ")",
                                               game->stateSize(), game->actionSize(), a,
                                               Config::CPUCT);
        second = std::make_shared<ZenfoldAgent>("NSP (" + bs + ") vs SP (" + as + ")",
                                                game->stateSize(), game->actionSize(), b,
                                                Config::CPUCT);
    } else {
        first = std::make_shared<UserAgent>("User", game->stateSize(), game->actionSize());
        second = std::make_shared<ZenfoldAgent>("Tavrick", game->stateSize(), game->actionSize(),
                                                Config::MCTS_SIMS, Config::CPUCT);
    }
    players = std::map<std::int64_t, std::shared_ptr<Agent>>{{1, first}, {-1, second}};
    if (!players) throw TextError("Velora Error: unable to create players");
    giveModelToBots();
}

bool GameSession::userPlay(std::int64_t column) {
    if (!game || !players) return false;
    const auto found = players->find(game->currentPlayer);
    if (found == players->end()) return false;
    auto user = std::dynamic_pointer_cast<UserAgent>(found->second);
    if (!user) return false;
    if (!game->gameState) throw FatalError("GameSession: the game has no position");
    const auto columns = game->config ? game->config->columns : 7;
    if (columns == 0) return false;
    for (const auto action : game->gameState->allowedActions()) {
        if (action % columns == column) {
            user->action = action;
            return true;
        }
    }
    return false;
}

std::optional<PlayedMove> GameSession::move() {
    // A counter written to its largest value has no next move number.
    if (turnCount == std::numeric_limits<std::int64_t>::max()) return std::nullopt;
    ++turnCount;
    if (!game || !players) return std::nullopt;
    const auto found = players->find(game->currentPlayer);
    if (found == players->end() || !found->second) return std::nullopt;
    const auto state = game->gameState;
    if (!state) throw FatalError("GameSession: the game has no position");
    // A finished game has no next move to ask for.
    if (done) return std::nullopt;
    // Hand-written turns with no opposite cannot be stepped; nothing is asked of the player.
    constexpr auto lowest = std::numeric_limits<std::int64_t>::min();
    if (state->playerTurn == lowest || game->currentPlayer == lowest) return std::nullopt;
    const auto mover = found->first;
    const bool stochastic = turnCount < Config::TAU0;
    const auto action = botAction(*found->second, state, stochastic);
    // The board is never corrupted by an answer that is not a legal move here.
    const auto legal = state->allowedActions();
    if (std::find(legal.begin(), legal.end(), action) == legal.end()) return std::nullopt;
    remember(state, game->currentPlayer, value, done);
    const auto step = game->step(action);
    done = done || step.done;
    if (!std::isfinite(step.value) || std::fabs(step.value) >= 9.2e18)
        throw FatalError("GameSession: the move's value is not a representable integer");
    value = static_cast<std::int64_t>(step.value);
    lastMover_ = mover;
    const auto color = game->currentPlayer == 1 ? Color::red : Color::yellow;
    return PlayedMove{action, color, turnCount};
}

std::optional<Outcome> GameSession::outcome() const {
    if (!done || !game || !players) return std::nullopt;
    if (!game->gameState) throw FatalError("GameSession: the game has no position");
    // Wide keys: a hand-written playerTurn of the lowest integer has no 64-bit opposite.
    const __int128 p = game->gameState->playerTurn;
    auto name = [&](__int128 key) {
        if (key < std::numeric_limits<std::int64_t>::min() ||
            key > std::numeric_limits<std::int64_t>::max())
            return std::string();
        const auto found = players->find(static_cast<std::int64_t>(key));
        return found != players->end() && found->second ? found->second->name : std::string();
    };
    std::string message;
    if (value == 1 || value == -1) {
        // The winner is whoever made the last move. It is recorded rather than derived from
        // botStarts, which a host may write at any time; the derivation is kept for a result
        // the host wrote without any move played.
        const __int128 s = botStarts_ ? value : -value;
        const __int128 winner = lastMover_ ? *lastMover_ : s == 1 ? -p : p;
        message = name(winner) + " wins!";
    } else {
        message = name(-p) + " & " + name(p) + " draw!";
    }
    return Outcome{message, game->gameState->winningActions()};
}

std::optional<std::vector<std::int64_t>> GameSession::winningActions() const {
    if (!game) return std::nullopt;
    if (!game->gameState) throw FatalError("GameSession: the game has no position");
    return game->gameState->winningActions();
}

} // namespace tarnwick
