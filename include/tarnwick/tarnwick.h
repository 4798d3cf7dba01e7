/*
 * Tarnwick C interface: a four-in-a-row bot (7 columns x 6 rows) that a host in any language
 * drives with a few calls. C99; usable from C and C++.
 *
 * Handles. Two opaque handles, both made by a *_new / *_load_* call and released by the
 * matching *_free call (which accepts NULL):
 *   tarnwick_model    a loaded, checked network. Read-only once made: one model may be handed
 *                     to any number of sessions, on any threads. A session keeps what it needs,
 *                     so the host may free the model as soon as its sessions are made.
 *   tarnwick_session  one match, user (+1) against bot (-1) or bot against bot.
 *
 * Status and errors. Every call that can fail returns a tarnwick_status; TARNWICK_OK is 0.
 * On failure no output is written (except the *_length and *_count results of a buffer that
 * is too small) and the session is left as it was. tarnwick_last_error() gives a text about
 * the last call made on the calling thread: "" after a success. No C++ exception and no
 * signal ever leaves the library; a NULL handle or pointer is refused with
 * TARNWICK_INVALID_ARGUMENT.
 *
 * Buffers. The caller passes a buffer and its capacity (in elements; for text, in bytes with
 * room for the terminating NUL). The number written or needed is returned through the
 * *_length or *_count pointer. A buffer too small gives TARNWICK_BUFFER_TOO_SMALL with the
 * needed length set, so the caller can allocate and call again; a NULL buffer with capacity 0
 * asks only for the length and succeeds.
 *
 * Threads. The library starts no threads and every call runs to completion on the caller's
 * thread; a bot move blocks its caller for the whole search. One session is used by one
 * thread at a time (the host serialises calls on it); different sessions may be used on
 * different threads at once, sharing models. TAU0 and MCTS_SIMS are process-wide settings, as
 * in the C++ interface: reading and writing them from several threads is safe, but a value
 * set through one session is seen by all (a new match or session writes both).
 *
 * The model. A session made with a NULL model finds the shipped network the way the C++
 * library does (beside the executable or the library, then the installed share/tarnwick
 * folder), loading it on the bot's first move; a missing model then gives TARNWICK_MODEL_ERROR
 * from tarnwick_session_next_move. An app that ships the model as an asset loads it itself
 * with tarnwick_model_load_file or tarnwick_model_load_memory and passes it to the session.
 *
 * Cells and columns. A cell is an index 0..41 = row * 7 + column, row 0 at the top, row 5 at
 * the bottom; a column is 0..6 from the left. A cell holds 0 (empty), +1 (the user's or first
 * bot's piece) or -1 (the bot's piece). The move notation is the columns played from the
 * empty board as digits 1..7, first player first ("4453").
 */
#ifndef TARNWICK_TARNWICK_H
#define TARNWICK_TARNWICK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && defined(TARNWICK_SHARED)
#ifdef TARNWICK_BUILDING
#define TARNWICK_API __declspec(dllexport)
#else
#define TARNWICK_API __declspec(dllimport)
#endif
#elif defined(__GNUC__) || defined(__clang__)
#define TARNWICK_API __attribute__((visibility("default")))
#else
#define TARNWICK_API
#endif

/* Version of this header; compare with tarnwick_version_number() at run time. */
#define TARNWICK_VERSION_MAJOR 0
#define TARNWICK_VERSION_MINOR 1
#define TARNWICK_VERSION_PATCH 0
#define TARNWICK_VERSION_NUMBER                                                                    \
    (TARNWICK_VERSION_MAJOR * 10000 + TARNWICK_VERSION_MINOR * 100 + TARNWICK_VERSION_PATCH)
/* The model resource format this library reads. */
#define TARNWICK_MODEL_FORMAT_VERSION 1

#define TARNWICK_COLUMNS 7
#define TARNWICK_ROWS 6
#define TARNWICK_CELLS 42
/* Bounds on a new match's settings: a larger search would block the caller for minutes. */
#define TARNWICK_MCTS_MAX 100000
#define TARNWICK_TAU_MAX 1000

typedef enum tarnwick_status {
    TARNWICK_OK = 0,
    TARNWICK_INVALID_ARGUMENT = 1, /* NULL handle or pointer, value out of range */
    TARNWICK_ILLEGAL_MOVE = 2,     /* full column, not the user's turn, no column chosen */
    TARNWICK_GAME_OVER = 3,        /* the match has ended: no further move */
    TARNWICK_MODEL_ERROR = 4,      /* a model that is missing, unreadable or fails its checks */
    TARNWICK_OUT_OF_MEMORY = 5,
    TARNWICK_INTERNAL_ERROR = 6,   /* a fault inside the library; the text says which */
    TARNWICK_BUFFER_TOO_SMALL = 7, /* the needed length was written; call again */
    TARNWICK_GAME_NOT_OVER = 8     /* an outcome asked for before the match has ended */
} tarnwick_status;

/* The colour reported with each move. */
typedef enum tarnwick_color { TARNWICK_RED = 0, TARNWICK_YELLOW = 1 } tarnwick_color;

typedef struct tarnwick_model tarnwick_model;
typedef struct tarnwick_session tarnwick_session;

/* One played move. */
typedef struct tarnwick_move {
    int32_t cell;   /* 0..41, where the piece came to rest */
    int32_t column; /* 0..6 */
    int32_t color;  /* a tarnwick_color */
    int32_t number; /* the session's turn count after this move */
} tarnwick_move;

/* ---- Library ---------------------------------------------------------------------------- */

/* "MAJOR.MINOR.PATCH"; static storage. */
TARNWICK_API const char* tarnwick_version(void);
/* MAJOR * 10000 + MINOR * 100 + PATCH of the linked library. */
TARNWICK_API int32_t tarnwick_version_number(void);
/* The model format version the linked library reads. */
TARNWICK_API int32_t tarnwick_model_format_version(void);
/* What went wrong in the last call on this thread; "" after a success. Owned by the library,
   valid until the next tarnwick_ call on this thread. Never NULL. */
TARNWICK_API const char* tarnwick_last_error(void);
/* A fixed English name of a status ("ok", "invalid argument", ...); static storage. */
TARNWICK_API const char* tarnwick_status_text(tarnwick_status status);

/* ---- Models ----------------------------------------------------------------------------- */

/* Loads a model folder ("<name>.mlmodelc" holding model.json and weights.bin). */
TARNWICK_API tarnwick_status tarnwick_model_load_file(const char* folder_path,
                                                      tarnwick_model** out_model);
/* Loads a model from its two files' bytes in memory, checked exactly as files are. The bytes
   are copied; the caller keeps ownership of both buffers. */
TARNWICK_API tarnwick_status tarnwick_model_load_memory(const void* manifest, size_t manifest_size,
                                                        const void* weights, size_t weights_size,
                                                        tarnwick_model** out_model);
/* Loads the shipped model from where the library looks for it by default. */
TARNWICK_API tarnwick_status tarnwick_model_load_default(tarnwick_model** out_model);
TARNWICK_API void tarnwick_model_free(tarnwick_model* model);

/* ---- Sessions --------------------------------------------------------------------------- */

/* Makes a session holding a user-against-bot match (TAU0 0, MCTS_SIMS 50). `model` may be
   NULL: the default lookup, as described above. The session keeps its own reference. */
TARNWICK_API tarnwick_status tarnwick_session_new(const tarnwick_model* model,
                                                  tarnwick_session** out_session);
TARNWICK_API void tarnwick_session_free(tarnwick_session* session);

/* Starts a new match: user against bot (self_play 0) or bot against bot (self_play 1). `tau`
   (0..TARNWICK_TAU_MAX) opening turns are sampled; `mcts` (1..TARNWICK_MCTS_MAX) simulations
   a bot move. Writes the process-wide TAU0 and MCTS_SIMS. */
TARNWICK_API tarnwick_status tarnwick_session_new_match(tarnwick_session* session,
                                                        int32_t self_play, int64_t tau,
                                                        int64_t mcts);

/* Who opens: 1 hands the next move to the bot (player -1); set before the first move. */
TARNWICK_API tarnwick_status tarnwick_session_set_bot_starts(tarnwick_session* session,
                                                             int32_t bot_starts);
TARNWICK_API tarnwick_status tarnwick_session_bot_starts(const tarnwick_session* session,
                                                         int32_t* out_bot_starts);

/* Stores the user's choice of `column` (0..6) for the next move; plays nothing.
   TARNWICK_ILLEGAL_MOVE when the column is full or it is not the user's turn. */
TARNWICK_API tarnwick_status tarnwick_session_user_play(tarnwick_session* session, int32_t column);
/* Plays the next move: the user's stored column, or the bot's search result.
   TARNWICK_GAME_OVER after the end; TARNWICK_ILLEGAL_MOVE when it is the user's turn and no
   column has been chosen since the last move. */
TARNWICK_API tarnwick_status tarnwick_session_next_move(tarnwick_session* session,
                                                        tarnwick_move* out_move);

/* Plays the columns of `moves` (notation "4453") as the next moves of the match, whoever is
   to move, without asking the players: a saved match is restored this way. All or nothing:
   TARNWICK_INVALID_ARGUMENT for a character that is not 1..7, TARNWICK_ILLEGAL_MOVE for a
   full column, TARNWICK_GAME_OVER for a move after the end. */
TARNWICK_API tarnwick_status tarnwick_session_play_moves(tarnwick_session* session,
                                                         const char* moves);
/* The moves of the match so far in notation, NUL-terminated. */
TARNWICK_API tarnwick_status tarnwick_session_moves(const tarnwick_session* session, char* buffer,
                                                    size_t capacity, size_t* out_length);

/* The 42 cells (capacity >= TARNWICK_CELLS). */
TARNWICK_API tarnwick_status tarnwick_session_board(const tarnwick_session* session, int32_t* cells,
                                                    size_t capacity);
/* Which player moves next: +1 (the user, or the first bot) or -1 (the bot). */
TARNWICK_API tarnwick_status tarnwick_session_current_player(const tarnwick_session* session,
                                                             int32_t* out_player);
/* 1 when the next move is the user's to choose (call tarnwick_session_user_play). */
TARNWICK_API tarnwick_status tarnwick_session_is_user_turn(const tarnwick_session* session,
                                                           int32_t* out_is_user_turn);
TARNWICK_API tarnwick_status tarnwick_session_done(const tarnwick_session* session,
                                                   int32_t* out_done);
TARNWICK_API tarnwick_status tarnwick_session_turn_count(const tarnwick_session* session,
                                                         int64_t* out_turn_count);
/* The value of the last move's position for the player to move: -1 after a winning move,
   0 otherwise. */
TARNWICK_API tarnwick_status tarnwick_session_value(const tarnwick_session* session,
                                                    int64_t* out_value);

/* The result text ("Tavrick wins!", "Tavrick & User draw!"), NUL-terminated.
   TARNWICK_GAME_NOT_OVER before the end. */
TARNWICK_API tarnwick_status tarnwick_session_outcome(const tarnwick_session* session, char* buffer,
                                                      size_t capacity, size_t* out_length);
/* The cells of every completed line (none before a win); at most TARNWICK_CELLS. */
TARNWICK_API tarnwick_status tarnwick_session_winning_cells(const tarnwick_session* session,
                                                            int32_t* cells, size_t capacity,
                                                            size_t* out_count);

/* The process-wide TAU0 and MCTS_SIMS, read and written through a session as in C++.
   Writing MCTS_SIMS (1..TARNWICK_MCTS_MAX) also retunes this session's bots. */
TARNWICK_API tarnwick_status tarnwick_session_tau0(const tarnwick_session* session,
                                                   int64_t* out_tau0);
TARNWICK_API tarnwick_status tarnwick_session_set_tau0(tarnwick_session* session, int64_t tau0);
TARNWICK_API tarnwick_status tarnwick_session_mcts_sims(const tarnwick_session* session,
                                                        int64_t* out_mcts_sims);
TARNWICK_API tarnwick_status tarnwick_session_set_mcts_sims(tarnwick_session* session,
                                                            int64_t mcts_sims);

/* ---- Levels, time budget, exact play, undo, hints ---------------------------------------- */
/* Beside the calls above: a session that never makes these plays exactly as described there. */

#define TARNWICK_LEVEL_MIN 1
#define TARNWICK_LEVEL_MAX 8 /* full strength: the bot as above */

/* The strength of the session's bots from their next move: 1 (a beginner's opponent) to 8. */
TARNWICK_API tarnwick_status tarnwick_session_set_level(tarnwick_session* session, int32_t level);
TARNWICK_API tarnwick_status tarnwick_session_level(const tarnwick_session* session,
                                                    int32_t* out_level);
/* At level 8, play the exact solver's move wherever it settles the position within its cap. */
TARNWICK_API tarnwick_status tarnwick_session_set_exact_play(tarnwick_session* session,
                                                             int32_t exact);
/* A bot move thinks for `milliseconds` (0 or more) instead of MCTS_SIMS simulations: at least
   one simulation, at most `max_simulations` (1..TARNWICK_MCTS_MAX), which bounds the tree's
   memory. A negative `milliseconds` goes back to the simulation count. */
TARNWICK_API tarnwick_status tarnwick_session_set_move_budget(tarnwick_session* session,
                                                              int64_t milliseconds,
                                                              int64_t max_simulations);
/* Simulations the last bot move ran (0 for a move of the solver or a win in one). */
TARNWICK_API tarnwick_status tarnwick_session_last_simulations(const tarnwick_session* session,
                                                               int64_t* out_simulations);
/* Takes back the user's last move and the bot's reply after it (one move when bots play each
   other); the board, turn count, value, done and outcome are as before them, and the moves
   text is shortened to match. TARNWICK_ILLEGAL_MOVE when there is no move to take back (moves
   placed with tarnwick_session_play_moves are not taken back one by one). */
TARNWICK_API tarnwick_status tarnwick_session_undo(tarnwick_session* session);

typedef enum tarnwick_verdict {
    TARNWICK_VERDICT_UNKNOWN = 0, /* the solver did not settle it within its cap */
    TARNWICK_VERDICT_WIN = 1,
    TARNWICK_VERDICT_DRAW = 2,
    TARNWICK_VERDICT_LOSS = 3
} tarnwick_verdict;

/* One column of a hint, for the player to move. */
typedef struct tarnwick_hint_column {
    int32_t column;        /* 0..6 */
    int32_t verdict;       /* a tarnwick_verdict: the exact result with perfect play after */
    int32_t verdict_moves; /* wins in this many own moves, or loses in this many of the
                              opponent's; 0 for a draw or unknown */
    double visit_share;    /* of the hint search's visits, 0..1 */
    double win_chance;     /* the search's value as a chance of winning 0..1; -1 if untried */
} tarnwick_hint_column;

/* Every legal column, best first, searched with `simulations` (1..TARNWICK_MCTS_MAX) in a tree
   of its own; the bots are left as they were. TARNWICK_GAME_OVER after the end. */
TARNWICK_API tarnwick_status tarnwick_session_hint(tarnwick_session* session, int64_t simulations,
                                                   tarnwick_hint_column* columns, size_t capacity,
                                                   size_t* out_count);

/* ---- Notation --------------------------------------------------------------------------- */

/* The board after `moves` (notation) from the empty board, into `cells` (capacity >=
   TARNWICK_CELLS). Refusals as in tarnwick_session_play_moves; *out_error_index (may be
   NULL) receives the index of the refused character, or -1. */
TARNWICK_API tarnwick_status tarnwick_notation_board(const char* moves, int32_t* cells,
                                                     size_t capacity, int64_t* out_error_index);

#ifdef __cplusplus
}
#endif

#endif /* TARNWICK_TARNWICK_H */
