/* Levels, time budget, undo and hints through the C interface, from plain C. */
#include <stdio.h>
#include <string.h>

#include "tarnwick/tarnwick.h"

#include "Check.h"

static void levelsAndBudget(tarnwick_model* model) {
    tarnwick_session* session = NULL;
    tarnwick_move move;
    int32_t level = 0;
    int64_t simulations = -1;
    CHECK(tarnwick_session_new(model, &session) == TARNWICK_OK);
    CHECK(tarnwick_session_level(session, &level) == TARNWICK_OK && level == 8);
    CHECK(tarnwick_session_set_level(session, 0) == TARNWICK_INVALID_ARGUMENT);
    CHECK(tarnwick_session_set_level(session, 9) == TARNWICK_INVALID_ARGUMENT);
    CHECK(tarnwick_session_set_level(session, 5) == TARNWICK_OK);
    CHECK(tarnwick_session_level(session, &level) == TARNWICK_OK && level == 5);
    CHECK(tarnwick_session_user_play(session, 3) == TARNWICK_OK);
    CHECK(tarnwick_session_next_move(session, &move) == TARNWICK_OK);
    CHECK(tarnwick_session_next_move(session, &move) == TARNWICK_OK);
    CHECK(tarnwick_session_last_simulations(session, &simulations) == TARNWICK_OK);
    CHECK(simulations == 13); /* level 5 searches 13 simulations */

    CHECK(tarnwick_session_set_move_budget(session, 0, 0) == TARNWICK_INVALID_ARGUMENT);
    CHECK(tarnwick_session_set_move_budget(session, 0, 10) == TARNWICK_OK);
    CHECK(tarnwick_session_user_play(session, 3) == TARNWICK_OK);
    CHECK(tarnwick_session_next_move(session, &move) == TARNWICK_OK);
    CHECK(tarnwick_session_next_move(session, &move) == TARNWICK_OK);
    CHECK(tarnwick_session_last_simulations(session, &simulations) == TARNWICK_OK);
    CHECK(simulations == 1);
    CHECK(tarnwick_session_set_move_budget(session, -1, 0) == TARNWICK_OK);
    CHECK(tarnwick_session_set_exact_play(session, 1) == TARNWICK_OK);
    CHECK(tarnwick_session_set_level(NULL, 3) == TARNWICK_INVALID_ARGUMENT);
    CHECK(tarnwick_session_last_simulations(session, NULL) == TARNWICK_INVALID_ARGUMENT);
    tarnwick_session_free(session);
}

static void undoAndHints(tarnwick_model* model) {
    tarnwick_session* session = NULL;
    tarnwick_move move;
    tarnwick_hint_column columns[TARNWICK_COLUMNS];
    size_t count = 0, length = 0;
    char moves[64];
    int64_t turns = -1;
    int32_t done = 1;
    CHECK(tarnwick_session_new(model, &session) == TARNWICK_OK);
    CHECK(tarnwick_session_undo(session) == TARNWICK_ILLEGAL_MOVE);
    CHECK(tarnwick_session_user_play(session, 0) == TARNWICK_OK);
    CHECK(tarnwick_session_next_move(session, &move) == TARNWICK_OK);
    CHECK(tarnwick_session_next_move(session, &move) == TARNWICK_OK);
    CHECK(pieces(session) == 2);
    CHECK(tarnwick_session_undo(session) == TARNWICK_OK);
    CHECK(pieces(session) == 0);
    CHECK(tarnwick_session_turn_count(session, &turns) == TARNWICK_OK && turns == 0);
    CHECK(tarnwick_session_moves(session, moves, sizeof moves, &length) == TARNWICK_OK);
    CHECK(length == 0 && moves[0] == '\0');

    /* The user has three on the bottom row: column 4 wins at once and comes first. */
    CHECK(tarnwick_session_play_moves(session, "112233") == TARNWICK_OK);
    CHECK(tarnwick_session_hint(session, 0, columns, TARNWICK_COLUMNS, &count) ==
          TARNWICK_INVALID_ARGUMENT);
    CHECK(tarnwick_session_hint(session, 20, columns, 2, &count) == TARNWICK_BUFFER_TOO_SMALL);
    CHECK(count == 7);
    CHECK(tarnwick_session_hint(session, 20, NULL, 0, &count) == TARNWICK_OK && count == 7);
    CHECK(tarnwick_session_hint(session, 20, columns, TARNWICK_COLUMNS, &count) == TARNWICK_OK);
    CHECK(count == 7);
    CHECK(columns[0].column == 3);
    CHECK(columns[0].verdict == TARNWICK_VERDICT_WIN && columns[0].verdict_moves == 1);
    CHECK(columns[0].visit_share >= 0.0 && columns[0].visit_share <= 1.0);

    /* The user takes the win; undo opens the match again. */
    CHECK(tarnwick_session_user_play(session, 3) == TARNWICK_OK);
    CHECK(tarnwick_session_next_move(session, &move) == TARNWICK_OK);
    CHECK(tarnwick_session_done(session, &done) == TARNWICK_OK && done == 1);
    CHECK(tarnwick_session_hint(session, 20, columns, TARNWICK_COLUMNS, &count) ==
          TARNWICK_GAME_OVER);
    CHECK(tarnwick_session_undo(session) == TARNWICK_OK);
    CHECK(tarnwick_session_done(session, &done) == TARNWICK_OK && done == 0);
    CHECK(tarnwick_session_moves(session, moves, sizeof moves, &length) == TARNWICK_OK);
    CHECK(strcmp(moves, "112233") == 0);
    CHECK(tarnwick_session_undo(session) == TARNWICK_ILLEGAL_MOVE);
    tarnwick_session_free(session);
}

int main(void) {
    tarnwick_model* model = NULL;
    if (tarnwick_model_load_file(TARNWICK_TEST_RESOURCES "/version0328.mlmodelc", &model) !=
        TARNWICK_OK) {
        fprintf(stderr, "cannot load the model: %s\n", tarnwick_last_error());
        return 1;
    }
    levelsAndBudget(model);
    undoAndHints(model);
    tarnwick_model_free(model);
    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
