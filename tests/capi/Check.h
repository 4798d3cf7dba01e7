/* What the C test programs share: a check that counts failures and names the library's last
   error, and the number of pieces on a session's board. */
#ifndef TARNWICK_TESTS_CAPI_CHECK_H
#define TARNWICK_TESTS_CAPI_CHECK_H

#include <stdio.h>

#include "tarnwick/tarnwick.h"

static int failures = 0;

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ++failures;                                                                            \
            fprintf(stderr, "%s:%d: CHECK(%s) failed; last error: %s\n", __FILE__, __LINE__,       \
                    #condition, tarnwick_last_error());                                            \
        }                                                                                          \
    } while (0)

static int pieces(const tarnwick_session* session) {
    int32_t cells[TARNWICK_CELLS];
    int count = 0, i;
    CHECK(tarnwick_session_board(session, cells, TARNWICK_CELLS) == TARNWICK_OK);
    for (i = 0; i < TARNWICK_CELLS; ++i)
        count += cells[i] != 0;
    return count;
}

#endif
