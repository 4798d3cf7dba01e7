#include "tests/play/SessionSoak.hpp"

#include <algorithm>
#include <random>
#include <sstream>

#include "Tarnwick/agents/UserAgent.hpp"
#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/play/GameSession.hpp"
#include "Tarnwick/search/Random.hpp"
#include "tests/support/TestModels.hpp"

namespace tarnwick::testing {

namespace {

// What the soak knows of the match independently of the session: who moved last.
struct Shadow {
    std::int64_t moves = 0;
    std::int64_t lastMover = 0; // session key, 0 before the first move
};

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
    check.expect(plus + minus == shadow.moves, "pieces on the board match the moves played");
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
        const auto mover = session.players->at(shadow.lastMover)->name;
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
            if (roll < 40) {
                const auto column = pick(-1, 7);
                check.action = "userPlay(" + std::to_string(column) + ")";
                const auto key = session.game->currentPlayer;
                const bool accepted = session.userPlay(column);
                const bool userTurn =
                    std::dynamic_pointer_cast<UserAgent>(session.players->at(key)) != nullptr;
                check.expect(!accepted || (userTurn && column >= 0 && column <= 6),
                             "only the user's own legal column is accepted");
            } else if (roll < 85) {
                check.action = "move()";
                const auto before = session.game->gameState;
                const auto key = session.game->currentPlayer;
                const bool wasDone = session.done;
                const auto played = session.move();
                if (played) {
                    ++shadow.moves;
                    ++report.moves;
                    shadow.lastMover = key;
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
                    if (session.done) (session.value == -1 ? report.wins : report.draws)++;
                }
            } else if (roll < 91) {
                const bool flag = pick(0, 1) == 1;
                check.action = std::string("setBotStarts(") + (flag ? "true" : "false") + ")";
                session.setBotStarts(flag);
            } else if (roll < 94) {
                const auto sims = pick(1, 3);
                check.action = "setMCTS_SIMS(" + std::to_string(sims) + ")";
                session.setMCTS_SIMS(sims);
            } else if (roll < 96) {
                check.action = "winningActions()";
                check.expect(session.winningActions().has_value(), "a game has winning cells");
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
            }
            checkSession(session, shadow, check);
        }
        report.calls += calls;
        ++report.sequences;
    }
    return report;
}

} // namespace tarnwick::testing
