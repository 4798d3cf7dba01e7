/* The C interface driven from plain C: whole matches, and every refusal with its status. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tarnwick/tarnwick.h"

#include "Check.h"

/* The status is the one expected and, for a refusal, comes with a text. */
#define EXPECT_STATUS(call, expected)                                                              \
    do {                                                                                           \
        tarnwick_status status_ = (call);                                                          \
        if (status_ != (expected)) {                                                               \
            ++failures;                                                                            \
            fprintf(stderr, "%s:%d: %s gave \"%s\", expected \"%s\" (%s)\n", __FILE__, __LINE__,   \
                    #call, tarnwick_status_text(status_), tarnwick_status_text(expected),          \
                    tarnwick_last_error());                                                        \
        } else if ((expected) != TARNWICK_OK && tarnwick_last_error()[0] == '\0') {                \
            ++failures;                                                                            \
            fprintf(stderr, "%s:%d: %s refused without a text\n", __FILE__, __LINE__, #call);      \
        }                                                                                          \
    } while (0)

static char* slurp(const char* path, size_t* size) {
    FILE* file = fopen(path, "rb");
    char* bytes;
    long length;
    if (!file) return NULL;
    fseek(file, 0, SEEK_END);
    length = ftell(file);
    fseek(file, 0, SEEK_SET);
    bytes = malloc(length > 0 ? (size_t)length : 1);
    *size = fread(bytes, 1, (size_t)length, file);
    fclose(file);
    return bytes;
}


/* Plays to the end, the user taking the first column that is not full from the middle out. */
static void playMatch(tarnwick_session* session) {
    static const int order[TARNWICK_COLUMNS] = {3, 2, 4, 1, 5, 0, 6};
    int32_t done = 0, user = 0, moves = 0;
    while (tarnwick_session_done(session, &done) == TARNWICK_OK && !done && moves < 42) {
        tarnwick_move move;
        int i;
        CHECK(tarnwick_session_is_user_turn(session, &user) == TARNWICK_OK);
        for (i = 0; user && i < TARNWICK_COLUMNS; ++i)
            if (tarnwick_session_user_play(session, order[i]) == TARNWICK_OK) break;
        EXPECT_STATUS(tarnwick_session_next_move(session, &move), TARNWICK_OK);
        ++moves;
        CHECK(move.number == moves);
        CHECK(move.column == move.cell % 7);
        CHECK(pieces(session) == moves);
    }
    CHECK(done);
}

static void checkFinished(tarnwick_session* session, const char* names) {
    char text[64], moves[64];
    int32_t cells[TARNWICK_CELLS], board[TARNWICK_CELLS], replay[TARNWICK_CELLS];
    size_t length = 0, count = 0;
    tarnwick_move move;
    EXPECT_STATUS(tarnwick_session_outcome(session, text, sizeof text, &length), TARNWICK_OK);
    CHECK(length == strlen(text));
    CHECK(strstr(text, " wins!") || strstr(text, " draw!"));
    /* A user match names User or Tavrick; a bot match its bots, "SP (n) vs NSP (m)". */
    if (names)
        CHECK(strstr(names, text) != NULL || strstr(text, "draw!") != NULL);
    else
        CHECK(strncmp(text, "SP (", 4) == 0 || strncmp(text, "NSP (", 5) == 0);
    EXPECT_STATUS(tarnwick_session_winning_cells(session, cells, TARNWICK_CELLS, &count),
                  TARNWICK_OK);
    CHECK(strstr(text, "wins") ? count >= 4 : count == 0);
    /* The notation of the match rebuilds its board. */
    EXPECT_STATUS(tarnwick_session_moves(session, moves, sizeof moves, &length), TARNWICK_OK);
    CHECK((int)length == pieces(session));
    EXPECT_STATUS(tarnwick_notation_board(moves, replay, TARNWICK_CELLS, NULL), TARNWICK_OK);
    CHECK(tarnwick_session_board(session, board, TARNWICK_CELLS) == TARNWICK_OK);
    CHECK(memcmp(board, replay, sizeof board) == 0);
    /* Nothing follows the end. */
    EXPECT_STATUS(tarnwick_session_next_move(session, &move), TARNWICK_GAME_OVER);
    EXPECT_STATUS(tarnwick_session_user_play(session, 3), TARNWICK_GAME_OVER);
    EXPECT_STATUS(tarnwick_session_play_moves(session, "1"), TARNWICK_GAME_OVER);
}

static void testLibrary(void) {
    char expected[32];
    snprintf(expected, sizeof expected, "%d.%d.%d", TARNWICK_VERSION_MAJOR, TARNWICK_VERSION_MINOR,
             TARNWICK_VERSION_PATCH);
    CHECK(strcmp(tarnwick_version(), expected) == 0);
    CHECK(tarnwick_version_number() == TARNWICK_VERSION_NUMBER);
    CHECK(tarnwick_model_format_version() == TARNWICK_MODEL_FORMAT_VERSION);
    CHECK(strcmp(tarnwick_status_text(TARNWICK_ILLEGAL_MOVE), "illegal move") == 0);
    CHECK(strcmp(tarnwick_status_text((tarnwick_status)99), "unknown status") == 0);
}

static void testNullHandles(void) {
    int32_t flag;
    int64_t number;
    size_t length;
    char text[8];
    int32_t cells[TARNWICK_CELLS];
    tarnwick_move move;
    tarnwick_model* model = NULL;
    EXPECT_STATUS(tarnwick_session_new(NULL, NULL), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_new_match(NULL, 0, 0, 50), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_set_bot_starts(NULL, 1), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_bot_starts(NULL, &flag), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_user_play(NULL, 3), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_next_move(NULL, &move), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_play_moves(NULL, "4"), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_moves(NULL, text, sizeof text, &length),
                  TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_board(NULL, cells, TARNWICK_CELLS), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_current_player(NULL, &flag), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_is_user_turn(NULL, &flag), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_done(NULL, &flag), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_turn_count(NULL, &number), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_value(NULL, &number), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_outcome(NULL, text, sizeof text, &length),
                  TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_winning_cells(NULL, cells, TARNWICK_CELLS, &length),
                  TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_tau0(NULL, &number), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_set_tau0(NULL, 1), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_mcts_sims(NULL, &number), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_set_mcts_sims(NULL, 10), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_model_load_file(NULL, &model), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_model_load_file("x", NULL), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_model_load_memory(NULL, 10, NULL, 0, &model), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_model_load_default(NULL), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_notation_board(NULL, cells, TARNWICK_CELLS, NULL),
                  TARNWICK_INVALID_ARGUMENT);
    CHECK(model == NULL);
    tarnwick_session_free(NULL);
    tarnwick_model_free(NULL);
}

static tarnwick_model* testModels(void) {
    const char* folder = TARNWICK_TEST_RESOURCES "/version0328.mlmodelc";
    size_t manifestSize = 0, weightsSize = 0;
    char* manifest =
        slurp(TARNWICK_TEST_RESOURCES "/version0328.mlmodelc/model.json", &manifestSize);
    char* weights =
        slurp(TARNWICK_TEST_RESOURCES "/version0328.mlmodelc/weights.bin", &weightsSize);
    tarnwick_model* model = NULL;
    tarnwick_model* fromMemory = NULL;
    CHECK(manifest && weights);

    EXPECT_STATUS(tarnwick_model_load_file("/nonexistent/version0328.mlmodelc", &model),
                  TARNWICK_MODEL_ERROR);
    CHECK(strstr(tarnwick_last_error(), "/nonexistent/") != NULL);
    EXPECT_STATUS(tarnwick_model_load_memory("{}", 2, "", 0, &model), TARNWICK_MODEL_ERROR);
    EXPECT_STATUS(
        tarnwick_model_load_memory(manifest, manifestSize, weights, weightsSize - 4, &model),
        TARNWICK_MODEL_ERROR);
    weights[weightsSize / 2] ^= 0x10;
    EXPECT_STATUS(tarnwick_model_load_memory(manifest, manifestSize, weights, weightsSize, &model),
                  TARNWICK_MODEL_ERROR);
    weights[weightsSize / 2] ^= 0x10;
    CHECK(model == NULL);

    EXPECT_STATUS(
        tarnwick_model_load_memory(manifest, manifestSize, weights, weightsSize, &fromMemory),
        TARNWICK_OK);
    CHECK(tarnwick_last_error()[0] == '\0');
    free(manifest); /* the model keeps its own copy */
    free(weights);
    EXPECT_STATUS(tarnwick_model_load_file(folder, &model), TARNWICK_OK);
    tarnwick_model_free(model);
    EXPECT_STATUS(tarnwick_model_load_default(&model), TARNWICK_OK);
    tarnwick_model_free(model);
    return fromMemory;
}

static void testUserAgainstBot(const tarnwick_model* model) {
    tarnwick_session* session = NULL;
    int32_t player = 0, flag = 0;
    int64_t number = 0;
    EXPECT_STATUS(tarnwick_session_new(model, &session), TARNWICK_OK);
    CHECK(session != NULL);
    CHECK(tarnwick_session_current_player(session, &player) == TARNWICK_OK && player == 1);
    CHECK(tarnwick_session_tau0(session, &number) == TARNWICK_OK && number == 0);
    CHECK(tarnwick_session_mcts_sims(session, &number) == TARNWICK_OK && number == 50);
    EXPECT_STATUS(tarnwick_session_new_match(session, 0, 2, 6), TARNWICK_OK);
    CHECK(tarnwick_session_tau0(session, &number) == TARNWICK_OK && number == 2);
    CHECK(tarnwick_session_mcts_sims(session, &number) == TARNWICK_OK && number == 6);
    EXPECT_STATUS(tarnwick_session_set_bot_starts(session, 1), TARNWICK_OK);
    CHECK(tarnwick_session_bot_starts(session, &flag) == TARNWICK_OK && flag == 1);
    CHECK(tarnwick_session_current_player(session, &player) == TARNWICK_OK && player == -1);
    CHECK(tarnwick_session_is_user_turn(session, &flag) == TARNWICK_OK && flag == 0);
    playMatch(session);
    checkFinished(session, "User wins! Tavrick wins!");
    tarnwick_session_free(session);
}

static void testBotAgainstBot(void) {
    tarnwick_session* session = NULL;
    int32_t flag = 1;
    /* No model: the default lookup, on the first bot move. */
    EXPECT_STATUS(tarnwick_session_new(NULL, &session), TARNWICK_OK);
    EXPECT_STATUS(tarnwick_session_new_match(session, 1, 4, 3), TARNWICK_OK);
    CHECK(tarnwick_session_is_user_turn(session, &flag) == TARNWICK_OK && flag == 0);
    EXPECT_STATUS(tarnwick_session_user_play(session, 3), TARNWICK_ILLEGAL_MOVE);
    playMatch(session);
    checkFinished(session, NULL);
    tarnwick_session_free(session);
}

static void testRefusals(const tarnwick_model* model) {
    tarnwick_session* session = NULL;
    tarnwick_move move;
    int32_t cells[TARNWICK_CELLS];
    char text[4];
    size_t length = 99;
    int64_t number = 0, index = 0;
    EXPECT_STATUS(tarnwick_session_new(model, &session), TARNWICK_OK);
    EXPECT_STATUS(tarnwick_session_new_match(session, 0, 0, 4), TARNWICK_OK);

    /* Settings out of range change nothing. */
    EXPECT_STATUS(tarnwick_session_new_match(session, 0, -1, 4), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_new_match(session, 0, TARNWICK_TAU_MAX + 1, 4),
                  TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_new_match(session, 0, 0, 0), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_new_match(session, 0, 0, TARNWICK_MCTS_MAX + 1),
                  TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_set_mcts_sims(session, -5), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_set_tau0(session, -1), TARNWICK_INVALID_ARGUMENT);
    CHECK(tarnwick_session_mcts_sims(session, &number) == TARNWICK_OK && number == 4);
    EXPECT_STATUS(tarnwick_session_set_tau0(session, 3), TARNWICK_OK);
    CHECK(tarnwick_session_tau0(session, &number) == TARNWICK_OK && number == 3);
    EXPECT_STATUS(tarnwick_session_set_tau0(session, 0), TARNWICK_OK);

    /* The user's column. */
    EXPECT_STATUS(tarnwick_session_user_play(session, -1), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_user_play(session, 7), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_next_move(session, &move), TARNWICK_ILLEGAL_MOVE);
    CHECK(tarnwick_session_turn_count(session, &number) == TARNWICK_OK && number == 0);
    EXPECT_STATUS(tarnwick_session_next_move(session, NULL), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_play_moves(session, "111111"), TARNWICK_OK);
    EXPECT_STATUS(tarnwick_session_user_play(session, 0), TARNWICK_ILLEGAL_MOVE);
    CHECK(strstr(tarnwick_last_error(), "full") != NULL);
    EXPECT_STATUS(tarnwick_session_user_play(session, 1), TARNWICK_OK);
    EXPECT_STATUS(tarnwick_session_next_move(session, &move), TARNWICK_OK);
    CHECK(move.cell == 36 && move.column == 1 && move.number == 7);
    /* Now the bot's turn. */
    EXPECT_STATUS(tarnwick_session_user_play(session, 3), TARNWICK_ILLEGAL_MOVE);

    /* The notation: all or nothing. */
    EXPECT_STATUS(tarnwick_session_play_moves(session, "34x"), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_play_moves(session, "11"), TARNWICK_ILLEGAL_MOVE);
    EXPECT_STATUS(tarnwick_session_play_moves(session, NULL), TARNWICK_INVALID_ARGUMENT);
    CHECK(tarnwick_session_turn_count(session, &number) == TARNWICK_OK && number == 7);
    CHECK(pieces(session) == 7);
    EXPECT_STATUS(tarnwick_notation_board("4449", cells, TARNWICK_CELLS, &index),
                  TARNWICK_INVALID_ARGUMENT);
    CHECK(index == 3);
    EXPECT_STATUS(tarnwick_notation_board("3333333", cells, TARNWICK_CELLS, &index),
                  TARNWICK_ILLEGAL_MOVE);
    CHECK(index == 6);
    EXPECT_STATUS(tarnwick_notation_board("12121212", cells, TARNWICK_CELLS, &index),
                  TARNWICK_GAME_OVER);
    CHECK(index == 7);
    EXPECT_STATUS(tarnwick_notation_board("4", cells, TARNWICK_CELLS - 1, NULL),
                  TARNWICK_BUFFER_TOO_SMALL);

    /* Buffers and the outcome before the end. */
    EXPECT_STATUS(tarnwick_session_board(session, cells, TARNWICK_CELLS - 1),
                  TARNWICK_BUFFER_TOO_SMALL);
    EXPECT_STATUS(tarnwick_session_board(session, NULL, TARNWICK_CELLS), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_outcome(session, text, sizeof text, &length),
                  TARNWICK_GAME_NOT_OVER);
    EXPECT_STATUS(tarnwick_session_moves(session, text, sizeof text, &length),
                  TARNWICK_BUFFER_TOO_SMALL);
    CHECK(length == 7);
    EXPECT_STATUS(tarnwick_session_moves(session, NULL, 0, &length), TARNWICK_OK);
    CHECK(length == 7);
    EXPECT_STATUS(tarnwick_session_moves(session, NULL, 5, &length), TARNWICK_INVALID_ARGUMENT);
    EXPECT_STATUS(tarnwick_session_winning_cells(session, NULL, 0, &length), TARNWICK_OK);
    CHECK(length == 0);

    /* The first player completes column 1: a win, with its cells. */
    EXPECT_STATUS(tarnwick_session_new_match(session, 0, 0, 4), TARNWICK_OK);
    EXPECT_STATUS(tarnwick_session_play_moves(session, "1212121"), TARNWICK_OK);
    CHECK(tarnwick_session_value(session, &number) == TARNWICK_OK && number == -1);
    EXPECT_STATUS(tarnwick_session_outcome(session, text, sizeof text, &length),
                  TARNWICK_BUFFER_TOO_SMALL);
    CHECK(length == strlen("User wins!"));
    EXPECT_STATUS(tarnwick_session_winning_cells(session, cells, 3, &length),
                  TARNWICK_BUFFER_TOO_SMALL);
    CHECK(length == 4);
    checkFinished(session, "User wins!");
    tarnwick_session_free(session);
}

int main(void) {
    tarnwick_model* model;
    testLibrary();
    testNullHandles();
    model = testModels();
    testUserAgainstBot(model);
    testBotAgainstBot();
    testRefusals(model);
    tarnwick_model_free(model);
    if (failures)
        fprintf(stderr, "%d checks failed\n", failures);
    else
        printf("all checks passed\n");
    return failures ? 1 : 0;
}
