#include "tests/play/SessionSoak.hpp"

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>

#include "Tarnwick/agents/UserAgent.hpp"
#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/play/GameSession.hpp"
#include "Tarnwick/search/Random.hpp"
#include "Tarnwick/solver/Position.hpp"
#include "tests/support/TestModels.hpp"

namespace tarnwick::testing {

namespace {

// What the soak knows of the match independently of the session: the moves it has kept
// and who was asked for each.
struct Shadow {
    bool selfPlay = false;
    std::vector<std::int64_t> actions;
    std::vector<std::int64_t> movers; // session keys
};

std::vector<std::int64_t> replay(const std::vector<std::int64_t>& actions) {
    auto state = std::make_shared<GameState>(Shape{6, 7}, 1);
    for (const auto a : actions)
        state = state->take(a).gameState;
    return state->board;
}

class Checker {
public:
    Checker(SoakReport& report, std::int64_t sequence) : report(report), sequence(sequence) {}

    void expect(bool holds, const std::string& what) {
        if (holds || reported >= 3) return;
        ++reported;
        std::ostringstream line;
        line << "sequence " << sequence << ", call " << call << " (" << action << "): " << what;
        report.failures.push_back(line.str());
    }

    std::int64_t call = 0;
    std::string action;

private:
    SoakReport& report;
    std::int64_t sequence;
    int reported = 0;
};

bool isLine(const std::vector<std::int64_t>& cells, std::size_t from) {
    for (const auto& line : GameState::winners())
        if (std::equal(line.begin(), line.end(), cells.begin() + static_cast<std::ptrdiff_t>(from)))
            return true;
    return false;
}

void checkSession(const GameSession& session, const Shadow& shadow, Checker& check) {
    const auto& state = *session.game->gameState;
    const auto& board = state.board;
    check.expect(board.size() == 42, "the board has 42 cells");
    std::int64_t plus = 0, minus = 0;
    for (std::size_t i = 0; i < board.size(); ++i) {
        const auto v = board[i];
        check.expect(v == -1 || v == 0 || v == 1, "cells hold -1, 0 or +1");
        plus += v == 1;
        minus += v == -1;
        if (v != 0 && i + 7 < board.size())
            check.expect(board[i + 7] != 0, "a piece rests on a piece or the bottom");
    }
    check.expect(board == replay(shadow.actions), "the board is the kept moves replayed");
    check.expect(plus + minus == static_cast<std::int64_t>(shadow.actions.size()),
                 "pieces on the board match the moves played");
    check.expect(plus - minus == 0 || plus - minus == 1, "the first mover has as many or one more");

    bool line = false;
    for (const auto& cells : GameState::winners()) {
        const auto first = board[static_cast<std::size_t>(cells[0])];
        bool four = first != 0;
        for (const auto c : cells)
            four = four && board[static_cast<std::size_t>(c)] == first;
        line = line || four;
    }
    const bool full = plus + minus == 42;
    check.expect(session.done == (line || full), "done exactly at four in a row or a full board");

    const auto outcome = session.outcome();
    check.expect(outcome.has_value() == session.done, "an outcome exactly when done");
    if (!outcome) return;
    const auto& pieces = outcome->winningPieces;
    if (line) {
        const auto mover = session.players->at(shadow.movers.back())->name;
        check.expect(outcome->message == mover + " wins!",
                     "the winner is the last mover: " + outcome->message + ", not " + mover);
        check.expect(!pieces.empty() && pieces.size() % 4 == 0, "a win lists its line");
        const auto colour = board[static_cast<std::size_t>(pieces.empty() ? 0 : pieces[0])];
        for (std::size_t k = 0; k + 4 <= pieces.size(); k += 4) {
            check.expect(isLine(pieces, k), "winning cells form a line of the table");
            for (std::size_t j = k; j < k + 4; ++j)
                check.expect(colour != 0 && board[static_cast<std::size_t>(pieces[j])] == colour,
                             "winning cells hold the winner's pieces");
        }
    } else {
        check.expect(pieces.empty(), "a draw has no winning cells");
        check.expect(outcome->message.size() > 6 &&
                         outcome->message.substr(outcome->message.size() - 6) == " draw!",
                     "a full board without a line is a draw: " + outcome->message);
    }
}

} // namespace

SoakReport soakSessions(std::int64_t sequences, std::uint64_t seed) {
    SoakReport report;
    std::mt19937_64 host(seed);
    seedRandom(seed ^ 0x9e3779b97f4a7c15ULL);
    // Cheap networks of varied tastes, so that bots play varied games fast.
    std::vector<std::shared_ptr<version0328>> models;
    for (int m = 0; m < 4; ++m) {
        std::vector<float> bias(42);
        for (auto& b : bias)
            b = std::uniform_real_distribution<float>(-2.f, 2.f)(host);
        models.push_back(loadBiasModel(bias, 0.f));
    }
    auto pick = [&](std::int64_t low, std::int64_t high) {
        return std::uniform_int_distribution<std::int64_t>(low, high)(host);
    };
    auto equip = [&](GameSession& session) {
        for (auto& [key, player] : *session.players)
            if (auto bot = std::dynamic_pointer_cast<ZenfoldAgent>(player))
                bot->setModel(models[static_cast<std::size_t>(pick(0, 3))]);
    };

    for (std::int64_t sequence = 0; sequence < sequences; ++sequence) {
        Checker check(report, sequence);
        GameSession session;
        Shadow shadow;
        session.clear(false, 0, 2);
        equip(session);
        const auto calls = pick(40, 200);
        for (check.call = 1; check.call <= calls; ++check.call) {
            const auto roll = pick(0, 99);
            if (roll < 36) {
                const auto column = pick(-1, 7);
                check.action = "userPlay(" + std::to_string(column) + ")";
                const auto key = session.game->currentPlayer;
                const bool accepted = session.userPlay(column);
                const bool userTurn =
                    std::dynamic_pointer_cast<UserAgent>(session.players->at(key)) != nullptr;
                check.expect(!accepted || (userTurn && column >= 0 && column <= 6),
                             "only the user's own legal column is accepted");
            } else if (roll < 76) {
                check.action = "move()";
                const auto before = session.game->gameState;
                const auto key = session.game->currentPlayer;
                const bool wasDone = session.done;
                const auto played = session.move();
                if (played) {
                    shadow.actions.push_back(played->action);
                    shadow.movers.push_back(key);
                    ++report.moves;
                    const auto& board = session.game->gameState->board;
                    check.expect(!wasDone, "nothing is played after the end");
                    check.expect(played->action >= 0 && played->action < 42 &&
                                     before->board[static_cast<std::size_t>(played->action)] == 0 &&
                                     board[static_cast<std::size_t>(played->action)] ==
                                         before->playerTurn,
                                 "the reported cell now holds the mover's piece");
                    check.expect(played->color == (key == 1 ? Color::yellow : Color::red),
                                 "the colour is the mover's");
                    check.expect(played->index == session.turnCount, "index counts the reads");
                    check.expect(session.lastSimulations() >= 0, "a count of simulations");
                    if (session.done) (session.value == -1 ? report.wins : report.draws)++;
                }
            } else if (roll < 80) {
                const bool flag = pick(0, 1) == 1;
                check.action = std::string("setBotStarts(") + (flag ? "true" : "false") + ")";
                session.setBotStarts(flag);
            } else if (roll < 82) {
                const auto sims = pick(-1, 3); // 0 and -1 still run one simulation
                check.action = "setMCTS_SIMS(" + std::to_string(sims) + ")";
                session.setMCTS_SIMS(sims);
            } else if (roll < 84) {
                check.action = "winningActions()";
                check.expect(session.winningActions().has_value(), "a game has winning cells");
            } else if (roll < 86) {
                const auto level = pick(0, 9); // 0 and 9 are refused and change nothing
                check.action = "setLevel(" + std::to_string(level) + ")";
                check.expect(session.setLevel(level) == (level >= 1 && level <= 8),
                             "levels 1 to 8 are taken, others refused");
            } else if (roll < 88) {
                const auto kind = pick(0, 2);
                check.action = "setMoveBudget(" + std::to_string(kind) + ")";
                if (kind == 0) session.setMoveBudget(std::nullopt);
                if (kind == 1) session.setMoveBudget(MoveBudget{std::chrono::milliseconds(0), 5});
                if (kind == 2)
                    session.setMoveBudget(MoveBudget{std::chrono::hours(1000), pick(1, 20)});
            } else if (roll < 89) {
                const bool exact = pick(0, 1) == 1;
                check.action = std::string("setExactPlay(") + (exact ? "true" : "false") + ")";
                session.setExactPlay(exact,
                                     solver::Limits{static_cast<std::uint64_t>(pick(0, 20000)), {}});
            } else if (roll < 94) {
                check.action = "undo()";
                const bool wasDone = session.done;
                const bool undone = session.undo();
                check.expect(undone == !shadow.actions.empty(), "undo exactly when a move was kept");
                if (undone) {
                    ++report.undos;
                    report.undosAfterTheEnd += wasDone;
                    // One move, then more until a user is to move (none when bots play each other).
                    std::int64_t mover;
                    do {
                        mover = shadow.movers.back();
                        shadow.actions.pop_back();
                        shadow.movers.pop_back();
                    } while (!shadow.selfPlay && !shadow.movers.empty() &&
                             !std::dynamic_pointer_cast<UserAgent>(session.players->at(mover)));
                    check.expect(session.game->currentPlayer == mover,
                                 "the player of the first move taken back is to move");
                }
            } else if (roll < 96) {
                check.action = "hint()";
                const auto hint = session.hint(HintOptions{pick(1, 8), solver::Limits{5000, {}}});
                check.expect(hint.has_value() == !session.done, "a hint exactly before the end");
                if (hint) {
                    ++report.hints;
                    check.expect(hint->columns.size() ==
                                     session.game->gameState->allowedActions().size(),
                                 "a hint ranks every legal column");
                    double shares = 0;
                    for (const auto& c : hint->columns)
                        shares += c.visitShare;
                    check.expect(std::abs(shares - 1.0) < 1e-9, "visit shares add up to one");
                    if (hint->exact && hint->columns.size() > 1) {
                        const auto& a = hint->columns[0].verdict;
                        const auto& b = hint->columns[1].verdict;
                        check.expect(a && b && static_cast<int>(b->result) >=
                                                   static_cast<int>(a->result),
                                     "settled columns are ranked best first");
                    }
                }
            } else {
                const bool selfPlay = pick(0, 3) == 0;
                const auto tau = pick(0, 4);
                check.action = std::string("clear(") + (selfPlay ? "true" : "false") + ", " +
                               std::to_string(tau) + ", 2)";
                session.clear(selfPlay, tau, 2);
                // Self-play bots draw 3..22 simulations from the count; keep them small.
                session.setMCTS_SIMS(2);
                equip(session);
                shadow = {};
                shadow.selfPlay = selfPlay;
            }
            checkSession(session, shadow, check);
        }
        report.calls += calls;
        ++report.sequences;
    }
    return report;
}

} // namespace tarnwick::testing
