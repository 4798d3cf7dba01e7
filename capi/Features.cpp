// The C calls for levels, time budget, exact play, undo and hints: the same checks first, so a
// refused call leaves the match as it was.

#include <algorithm>
#include <chrono>
#include <string>

#include "capi/Handles.hpp"
#include "capi/Status.hpp"

using namespace tarnwick;
using tarnwick::capi::fail;
using tarnwick::capi::guarded;

namespace {

tarnwick_status noSession() {
    return fail(TARNWICK_INVALID_ARGUMENT, "the session is NULL");
}
tarnwick_status noOutput(const char* name) {
    return fail(TARNWICK_INVALID_ARGUMENT, std::string(name) + " is NULL");
}

std::size_t stones(const GameSession& game) {
    if (!game.game || !game.game->gameState) throw FatalError("the session has no position");
    const auto& board = game.game->gameState->board;
    return static_cast<std::size_t>(
        std::count_if(board.begin(), board.end(), [](std::int64_t v) { return v != 0; }));
}

int32_t verdictCode(const std::optional<Verdict>& verdict) {
    if (!verdict) return TARNWICK_VERDICT_UNKNOWN;
    switch (verdict->result) {
    case Verdict::Result::win:
        return TARNWICK_VERDICT_WIN;
    case Verdict::Result::loss:
        return TARNWICK_VERDICT_LOSS;
    case Verdict::Result::draw:
        break;
    }
    return TARNWICK_VERDICT_DRAW;
}

} // namespace

extern "C" {

tarnwick_status tarnwick_session_set_level(tarnwick_session* session, int32_t level) {
    return guarded([&] {
        if (!session) return noSession();
        if (!session->game.setLevel(level))
            return fail(TARNWICK_INVALID_ARGUMENT,
                        "level " + std::to_string(level) + " is outside 1..8");
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_level(const tarnwick_session* session, int32_t* out_level) {
    return guarded([&] {
        if (!session) return noSession();
        if (!out_level) return noOutput("out_level");
        *out_level = static_cast<int32_t>(session->game.level());
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_set_exact_play(tarnwick_session* session, int32_t exact) {
    return guarded([&] {
        if (!session) return noSession();
        session->game.setExactPlay(exact != 0);
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_set_move_budget(tarnwick_session* session, int64_t milliseconds,
                                                 int64_t max_simulations) {
    return guarded([&] {
        if (!session) return noSession();
        if (milliseconds < 0) {
            session->game.setMoveBudget(std::nullopt);
            return TARNWICK_OK;
        }
        if (max_simulations < 1 || max_simulations > TARNWICK_MCTS_MAX)
            return fail(TARNWICK_INVALID_ARGUMENT,
                        "max_simulations " + std::to_string(max_simulations) + " is outside 1.." +
                            std::to_string(TARNWICK_MCTS_MAX));
        session->game.setMoveBudget(
            MoveBudget{std::chrono::milliseconds(milliseconds), max_simulations});
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_last_simulations(const tarnwick_session* session,
                                                  int64_t* out_simulations) {
    return guarded([&] {
        if (!session) return noSession();
        if (!out_simulations) return noOutput("out_simulations");
        *out_simulations = session->game.lastSimulations();
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_undo(tarnwick_session* session) {
    return guarded([&] {
        if (!session) return noSession();
        if (!session->game.undo())
            return fail(TARNWICK_ILLEGAL_MOVE, "there is no move to take back");
        session->moves.resize(std::min(session->moves.size(), stones(session->game)));
        session->userChose = false;
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_hint(tarnwick_session* session, int64_t simulations,
                                      tarnwick_hint_column* columns, size_t capacity,
                                      size_t* out_count) {
    return guarded([&] {
        if (!session) return noSession();
        if (!out_count) return noOutput("out_count");
        if (!columns && capacity > 0) return noOutput("columns");
        if (simulations < 1 || simulations > TARNWICK_MCTS_MAX)
            return fail(TARNWICK_INVALID_ARGUMENT, "simulations " + std::to_string(simulations) +
                                                       " is outside 1.." +
                                                       std::to_string(TARNWICK_MCTS_MAX));
        if (session->game.done) return fail(TARNWICK_GAME_OVER, "the match is over");
        HintOptions options;
        options.simulations = simulations;
        const auto hint = session->game.hint(options);
        if (!hint) return fail(TARNWICK_INTERNAL_ERROR, "the session has no bot to ask");
        *out_count = hint->columns.size();
        if (!columns && capacity == 0) return TARNWICK_OK;
        if (capacity < hint->columns.size())
            return fail(TARNWICK_BUFFER_TOO_SMALL,
                        "the hint has " + std::to_string(hint->columns.size()) + " columns");
        for (std::size_t i = 0; i < hint->columns.size(); ++i) {
            const auto& c = hint->columns[i];
            columns[i] =
                tarnwick_hint_column{static_cast<int32_t>(c.column), verdictCode(c.verdict),
                                     c.verdict ? static_cast<int32_t>(c.verdict->moves) : 0,
                                     c.visitShare, c.winChance.value_or(-1.0)};
        }
        return TARNWICK_OK;
    });
}

} // extern "C"
