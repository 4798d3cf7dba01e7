// The C interface's calls that need no handle: versions, status names and the notation.

#include "Platform/ModelResource.hpp"
#include "Tarnwick/rules/Notation.hpp"
#include "capi/Status.hpp"

using namespace tarnwick;
using tarnwick::capi::fail;
using tarnwick::capi::guarded;

static_assert(TARNWICK_VERSION_MAJOR == TARNWICK_PROJECT_VERSION_MAJOR &&
                  TARNWICK_VERSION_MINOR == TARNWICK_PROJECT_VERSION_MINOR &&
                  TARNWICK_VERSION_PATCH == TARNWICK_PROJECT_VERSION_PATCH,
              "the header's version must be the project's");
static_assert(TARNWICK_MODEL_FORMAT_VERSION == platform::modelFormatVersion,
              "the header's model format version must follow the reader's");

#define TARNWICK_TEXT(x) #x
#define TARNWICK_VERSION_TEXT(a, b, c) TARNWICK_TEXT(a) "." TARNWICK_TEXT(b) "." TARNWICK_TEXT(c)

extern "C" {

const char* tarnwick_version(void) {
    return TARNWICK_VERSION_TEXT(TARNWICK_VERSION_MAJOR, TARNWICK_VERSION_MINOR,
                                 TARNWICK_VERSION_PATCH);
}

int32_t tarnwick_version_number(void) {
    return TARNWICK_VERSION_NUMBER;
}

int32_t tarnwick_model_format_version(void) {
    return static_cast<int32_t>(platform::modelFormatVersion);
}

const char* tarnwick_status_text(tarnwick_status status) {
    switch (status) {
    case TARNWICK_OK:
        return "ok";
    case TARNWICK_INVALID_ARGUMENT:
        return "invalid argument";
    case TARNWICK_ILLEGAL_MOVE:
        return "illegal move";
    case TARNWICK_GAME_OVER:
        return "game over";
    case TARNWICK_MODEL_ERROR:
        return "model error";
    case TARNWICK_OUT_OF_MEMORY:
        return "out of memory";
    case TARNWICK_INTERNAL_ERROR:
        return "internal error";
    case TARNWICK_BUFFER_TOO_SMALL:
        return "buffer too small";
    case TARNWICK_GAME_NOT_OVER:
        return "game not over";
    }
    return "unknown status";
}

tarnwick_status tarnwick_notation_board(const char* moves, int32_t* cells, size_t capacity,
                                        int64_t* out_error_index) {
    return guarded([&] {
        if (out_error_index) *out_error_index = -1;
        if (!moves) return fail(TARNWICK_INVALID_ARGUMENT, "moves is NULL");
        if (!cells) return fail(TARNWICK_INVALID_ARGUMENT, "cells is NULL");
        if (capacity < TARNWICK_CELLS)
            return fail(TARNWICK_BUFFER_TOO_SMALL,
                        "the buffer holds " + std::to_string(capacity) + " cells; 42 are needed");
        const auto parsed = parseMoves(moves);
        if (out_error_index) *out_error_index = parsed.errorIndex;
        if (parsed.refusal != MovesRefusal::none) return capi::refuse(parsed);
        return capi::copyCells(parsed.state->board, cells, capacity, nullptr);
    });
}

} // extern "C"
