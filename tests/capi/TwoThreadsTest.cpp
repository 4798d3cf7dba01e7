// Two sessions played at once on two threads, sharing one model: the threading promise of the
// C interface. Built and run under ThreadSanitizer by the tsan preset, which reports any race.

#include <array>
#include <cstdio>
#include <string>
#include <thread>

#include "tarnwick/tarnwick.h"

namespace {

struct Result {
    int failures = 0;
    int matches = 0;
    std::string firstError;
};

void note(Result& result, tarnwick_status status) {
    if (status == TARNWICK_OK) return;
    if (result.failures++ == 0) result.firstError = tarnwick_last_error();
}

// Whole matches, alternating bot against bot and user against bot.
void play(const tarnwick_model* model, int matches, Result& result) {
    tarnwick_session* session = nullptr;
    note(result, tarnwick_session_new(model, &session));
    if (!session) return;
    for (int m = 0; m < matches; ++m) {
        const bool selfPlay = m % 2 == 0;
        note(result, tarnwick_session_new_match(session, selfPlay ? 1 : 0, 2, 3));
        int32_t done = 0;
        int moves = 0;
        while (tarnwick_session_done(session, &done) == TARNWICK_OK && !done && moves < 42) {
            int32_t user = 0;
            note(result, tarnwick_session_is_user_turn(session, &user));
            for (int column = 0; user && column < TARNWICK_COLUMNS; ++column)
                if (tarnwick_session_user_play(session, (column + 3) % TARNWICK_COLUMNS) ==
                    TARNWICK_OK)
                    break;
            tarnwick_move move;
            note(result, tarnwick_session_next_move(session, &move));
            ++moves;
        }
        size_t length = 0;
        note(result, tarnwick_session_outcome(session, nullptr, 0, &length));
        if (done && length > 0) ++result.matches;
    }
    tarnwick_session_free(session);
}

} // namespace

int main() {
    tarnwick_model* model = nullptr;
    if (tarnwick_model_load_default(&model) != TARNWICK_OK) {
        std::fprintf(stderr, "no model: %s\n", tarnwick_last_error());
        return 1;
    }
    constexpr int matches = 2;
    std::array<Result, 2> results;
    std::thread first(play, model, matches, std::ref(results[0]));
    std::thread second(play, model, matches, std::ref(results[1]));
    // The handle may go as soon as the sessions are made; they keep what they need.
    first.join();
    second.join();
    tarnwick_model_free(model);
    int status = 0;
    for (const auto& result : results) {
        if (result.failures || result.matches != matches) {
            std::fprintf(stderr, "%d failed calls (first: %s), %d of %d matches finished\n",
                         result.failures, result.firstError.c_str(), result.matches, matches);
            status = 1;
        }
    }
    if (status == 0) std::printf("two threads played %d matches each\n", matches);
    return status;
}
