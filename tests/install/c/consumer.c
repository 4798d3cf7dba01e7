/* A whole match from C against an installed Tarnwick (the README's example): the model folder
   is named on the command line, the user takes the first column that is not full. */
#include <stdio.h>
#include <tarnwick/tarnwick.h>

int main(int argc, char** argv) {
    tarnwick_model* model = NULL;
    tarnwick_session* session = NULL;
    tarnwick_move move;
    int32_t done = 0, user = 0, column = 3;
    char outcome[64] = "";
    if (argc < 2 || tarnwick_model_load_file(argv[1], &model) != TARNWICK_OK ||
        tarnwick_session_new(model, &session) != TARNWICK_OK) {
        fprintf(stderr, "%s\n", tarnwick_last_error());
        return 1;
    }
    tarnwick_model_free(model); /* the session keeps what it needs */
    while (tarnwick_session_done(session, &done) == TARNWICK_OK && !done) {
        tarnwick_session_is_user_turn(session, &user);
        while (user && tarnwick_session_user_play(session, column) != TARNWICK_OK)
            column = (column + 1) % 7; /* an app asks its user instead */
        if (tarnwick_session_next_move(session, &move) != TARNWICK_OK) break;
        printf("move %d: column %d\n", move.number, move.column + 1);
    }
    tarnwick_session_outcome(session, outcome, sizeof outcome, NULL);
    printf("%s\n", outcome);
    tarnwick_session_free(session);
    return done ? 0 : 1;
}
