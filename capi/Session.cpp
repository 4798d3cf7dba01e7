// The session calls of the C interface: a thin adapter over GameSession that checks every
// argument and precondition first, so that a refused call leaves the match as it was.

#include <algorithm>
#include <memory>
#include <string>

#include "Platform/TowerNetwork.hpp"
#include "Tarnwick/agents/UserAgent.hpp"
#include "Tarnwick/rules/Notation.hpp"
#include "capi/Handles.hpp"
#include "capi/Status.hpp"

using namespace tarnwick;
using tarnwick::capi::fail;
using tarnwick::capi::guarded;

namespace {

std::shared_ptr<UserAgent> userToMove(const GameSession& game) {
    if (!game.game || !game.players) return nullptr;
    const auto found = game.players->find(game.game->currentPlayer);
    if (found == game.players->end()) return nullptr;
    return std::dynamic_pointer_cast<UserAgent>(found->second);
}

const std::shared_ptr<GameState>& position(const GameSession& game) {
    if (!game.game || !game.game->gameState) throw FatalError("the session has no position");
    return game.game->gameState;
}

bool validTau(std::int64_t tau) {
    return tau >= 0 && tau <= TARNWICK_TAU_MAX;
}
bool validSims(std::int64_t sims) {
    return sims >= 1 && sims <= TARNWICK_MCTS_MAX;
}

tarnwick_status noSession() {
    return fail(TARNWICK_INVALID_ARGUMENT, "the session is NULL");
}
tarnwick_status noOutput(const char* name) {
    return fail(TARNWICK_INVALID_ARGUMENT, std::string(name) + " is NULL");
}

} // namespace

extern "C" {

tarnwick_status tarnwick_session_new(const tarnwick_model* model, tarnwick_session** out_session) {
    return guarded([&] {
        if (!out_session) return noOutput("out_session");
        *out_session = nullptr;
        if (model && !model->weights) return fail(TARNWICK_INVALID_ARGUMENT, "the model is empty");
        auto session = std::make_unique<tarnwick_session>();
        if (model) {
            auto network = std::make_shared<platform::TowerNetwork>(*model->weights);
            session->game.setModel(std::make_shared<version0328>(std::move(network)));
        }
        *out_session = session.release();
        return TARNWICK_OK;
    });
}

void tarnwick_session_free(tarnwick_session* session) {
    delete session;
}

tarnwick_status tarnwick_session_new_match(tarnwick_session* session, int32_t self_play,
                                           int64_t tau, int64_t mcts) {
    return guarded([&] {
        if (!session) return noSession();
        if (!validTau(tau))
            return fail(TARNWICK_INVALID_ARGUMENT, "tau " + std::to_string(tau) +
                                                       " is outside 0.." +
                                                       std::to_string(TARNWICK_TAU_MAX));
        if (!validSims(mcts))
            return fail(TARNWICK_INVALID_ARGUMENT, "mcts " + std::to_string(mcts) +
                                                       " is outside 1.." +
                                                       std::to_string(TARNWICK_MCTS_MAX));
        session->game.clear(self_play != 0, tau, mcts);
        session->moves.clear();
        session->userChose = false;
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_set_bot_starts(tarnwick_session* session, int32_t bot_starts) {
    return guarded([&] {
        if (!session) return noSession();
        session->game.setBotStarts(bot_starts != 0);
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_bot_starts(const tarnwick_session* session,
                                            int32_t* out_bot_starts) {
    return guarded([&] {
        if (!session) return noSession();
        if (!out_bot_starts) return noOutput("out_bot_starts");
        *out_bot_starts = session->game.botStarts() ? 1 : 0;
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_user_play(tarnwick_session* session, int32_t column) {
    return guarded([&] {
        if (!session) return noSession();
        if (column < 0 || column >= TARNWICK_COLUMNS)
            return fail(TARNWICK_INVALID_ARGUMENT,
                        "column " + std::to_string(column) + " is outside 0..6");
        if (session->game.done) return fail(TARNWICK_GAME_OVER, "the match is over");
        if (!userToMove(session->game))
            return fail(TARNWICK_ILLEGAL_MOVE, "it is not the user's turn");
        if (!actionOfColumn(*position(session->game), column))
            return fail(TARNWICK_ILLEGAL_MOVE, "column " + std::to_string(column) + " is full");
        if (!session->game.userPlay(column))
            return fail(TARNWICK_INTERNAL_ERROR, "the session refused a legal column");
        session->userChose = true;
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_next_move(tarnwick_session* session, tarnwick_move* out_move) {
    return guarded([&] {
        if (!session) return noSession();
        if (!out_move) return noOutput("out_move");
        auto& game = session->game;
        if (game.done) return fail(TARNWICK_GAME_OVER, "the match is over");
        if (userToMove(game) && !session->userChose)
            return fail(TARNWICK_ILLEGAL_MOVE,
                        "the user has not chosen a column: call tarnwick_session_user_play");
        // GameSession counts the turn before it asks the player; a failed move is undone.
        const auto turnCount = game.turnCount;
        std::optional<PlayedMove> played;
        try {
            played = game.move();
        } catch (...) {
            game.turnCount = turnCount;
            throw;
        }
        if (!played) {
            game.turnCount = turnCount;
            return fail(TARNWICK_INTERNAL_ERROR, "the player to move answered an illegal move");
        }
        session->userChose = false;
        const auto column = played->action % TARNWICK_COLUMNS;
        session->moves += columnCharacter(column);
        *out_move =
            tarnwick_move{static_cast<int32_t>(played->action), static_cast<int32_t>(column),
                          played->color == Color::red ? TARNWICK_RED : TARNWICK_YELLOW,
                          static_cast<int32_t>(played->index)};
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_play_moves(tarnwick_session* session, const char* moves) {
    return guarded([&] {
        if (!session) return noSession();
        if (!moves) return noOutput("moves");
        auto& game = session->game;
        const auto parsed = parseMoves(moves, position(game));
        if (parsed.refusal != MovesRefusal::none) return capi::refuse(parsed);
        // Played as move() plays them, without asking the players.
        for (const auto action : parsed.actions) {
            ++game.turnCount;
            const auto step = game.game->step(action);
            game.done = game.done || step.done;
            game.value = static_cast<std::int64_t>(step.value);
            session->moves += columnCharacter(action % TARNWICK_COLUMNS);
        }
        if (!parsed.actions.empty()) session->userChose = false;
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_moves(const tarnwick_session* session, char* buffer,
                                       size_t capacity, size_t* out_length) {
    return guarded([&] {
        if (!session) return noSession();
        return capi::copyText(session->moves, buffer, capacity, out_length);
    });
}

tarnwick_status tarnwick_session_board(const tarnwick_session* session, int32_t* cells,
                                       size_t capacity) {
    return guarded([&] {
        if (!session) return noSession();
        if (!cells) return noOutput("cells");
        return capi::copyCells(position(session->game)->board, cells, capacity, nullptr);
    });
}

tarnwick_status tarnwick_session_current_player(const tarnwick_session* session,
                                                int32_t* out_player) {
    return guarded([&] {
        if (!session) return noSession();
        if (!out_player) return noOutput("out_player");
        if (!session->game.game) return fail(TARNWICK_INTERNAL_ERROR, "the session has no game");
        *out_player = session->game.game->currentPlayer == 1 ? 1 : -1;
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_is_user_turn(const tarnwick_session* session,
                                              int32_t* out_is_user_turn) {
    return guarded([&] {
        if (!session) return noSession();
        if (!out_is_user_turn) return noOutput("out_is_user_turn");
        *out_is_user_turn = !session->game.done && userToMove(session->game) ? 1 : 0;
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_done(const tarnwick_session* session, int32_t* out_done) {
    return guarded([&] {
        if (!session) return noSession();
        if (!out_done) return noOutput("out_done");
        *out_done = session->game.done ? 1 : 0;
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_turn_count(const tarnwick_session* session,
                                            int64_t* out_turn_count) {
    return guarded([&] {
        if (!session) return noSession();
        if (!out_turn_count) return noOutput("out_turn_count");
        *out_turn_count = session->game.turnCount;
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_value(const tarnwick_session* session, int64_t* out_value) {
    return guarded([&] {
        if (!session) return noSession();
        if (!out_value) return noOutput("out_value");
        *out_value = session->game.value;
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_outcome(const tarnwick_session* session, char* buffer,
                                         size_t capacity, size_t* out_length) {
    return guarded([&] {
        if (!session) return noSession();
        const auto outcome = session->game.outcome();
        if (!outcome) return fail(TARNWICK_GAME_NOT_OVER, "the match is not over");
        return capi::copyText(outcome->message, buffer, capacity, out_length);
    });
}

tarnwick_status tarnwick_session_winning_cells(const tarnwick_session* session, int32_t* cells,
                                               size_t capacity, size_t* out_count) {
    return guarded([&] {
        if (!session) return noSession();
        const auto winning = session->game.winningActions();
        if (!winning) return fail(TARNWICK_INTERNAL_ERROR, "the session has no game");
        return capi::copyCells(*winning, cells, capacity, out_count);
    });
}

tarnwick_status tarnwick_session_tau0(const tarnwick_session* session, int64_t* out_tau0) {
    return guarded([&] {
        if (!session) return noSession();
        if (!out_tau0) return noOutput("out_tau0");
        *out_tau0 = session->game.TAU0();
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_set_tau0(tarnwick_session* session, int64_t tau0) {
    return guarded([&] {
        if (!session) return noSession();
        if (!validTau(tau0))
            return fail(TARNWICK_INVALID_ARGUMENT, "TAU0 " + std::to_string(tau0) +
                                                       " is outside 0.." +
                                                       std::to_string(TARNWICK_TAU_MAX));
        session->game.setTAU0(tau0);
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_mcts_sims(const tarnwick_session* session,
                                           int64_t* out_mcts_sims) {
    return guarded([&] {
        if (!session) return noSession();
        if (!out_mcts_sims) return noOutput("out_mcts_sims");
        *out_mcts_sims = session->game.MCTS_SIMS();
        return TARNWICK_OK;
    });
}

tarnwick_status tarnwick_session_set_mcts_sims(tarnwick_session* session, int64_t mcts_sims) {
    return guarded([&] {
        if (!session) return noSession();
        if (!validSims(mcts_sims))
            return fail(TARNWICK_INVALID_ARGUMENT, "MCTS_SIMS " + std::to_string(mcts_sims) +
                                                       " is outside 1.." +
                                                       std::to_string(TARNWICK_MCTS_MAX));
        session->game.setMCTS_SIMS(mcts_sims);
        return TARNWICK_OK;
    });
}

} // extern "C"
