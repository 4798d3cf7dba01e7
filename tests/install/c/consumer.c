/* An installed Tarnwick from plain C, found with pkg-config: the user opens in the middle and
   the bot replies, three times, with the model folder named on the command line. */
#include <stdio.h>

#include <tarnwick/tarnwick.h>

int main(int argc, char** argv) {
    tarnwick_model* model = NULL;
    tarnwick_session* session = NULL;
    tarnwick_move move;
    int turn;
    if (argc < 2 || tarnwick_model_load_file(argv[1], &model) != TARNWICK_OK ||
        tarnwick_session_new(model, &session) != TARNWICK_OK ||
        tarnwick_session_new_match(session, 0, 0, 20) != TARNWICK_OK) {
        fprintf(stderr, "c consumer: %s\n", tarnwick_last_error());
        return 1;
    }
    tarnwick_model_free(model);
    for (turn = 0; turn < 3; ++turn) {
        if (tarnwick_session_user_play(session, 3) != TARNWICK_OK ||
            tarnwick_session_next_move(session, &move) != TARNWICK_OK ||
            tarnwick_session_next_move(session, &move) != TARNWICK_OK) {
            fprintf(stderr, "c consumer: %s\n", tarnwick_last_error());
            return 1;
        }
        printf("bot answered in column %d\n", move.column + 1);
    }
    tarnwick_session_free(session);
    printf("c consumer: tarnwick %s played 6 moves\n", tarnwick_version());
    return 0;
}
