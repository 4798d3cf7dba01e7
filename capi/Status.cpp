#include "capi/Status.hpp"

namespace tarnwick::capi {

namespace {
thread_local std::string lastError;
}

void clearError() noexcept {
    lastError.clear();
}

tarnwick_status fail(tarnwick_status status, const char* text) noexcept {
    try {
        lastError = text;
    } catch (...) {
        // No memory even for the message: an empty text still comes with the status.
        lastError.clear();
    }
    return status;
}

tarnwick_status fail(tarnwick_status status, const std::string& text) noexcept {
    return fail(status, text.c_str());
}

tarnwick_status refuse(const ParsedMoves& parsed) noexcept {
    switch (parsed.refusal) {
    case MovesRefusal::none:
        break;
    case MovesRefusal::badCharacter:
        return fail(TARNWICK_INVALID_ARGUMENT, parsed.error);
    case MovesRefusal::fullColumn:
        return fail(TARNWICK_ILLEGAL_MOVE, parsed.error);
    case MovesRefusal::afterEnd:
        return fail(TARNWICK_GAME_OVER, parsed.error);
    }
    return fail(TARNWICK_INTERNAL_ERROR, "a move sequence refused for no reason");
}

tarnwick_status copyText(const std::string& text, char* buffer, std::size_t capacity,
                         std::size_t* length) {
    if (!buffer && capacity > 0) return fail(TARNWICK_INVALID_ARGUMENT, "the buffer is NULL");
    if (length) *length = text.size();
    if (!buffer) return TARNWICK_OK;
    if (capacity < text.size() + 1)
        return fail(TARNWICK_BUFFER_TOO_SMALL, "the buffer holds " + std::to_string(capacity) +
                                                   " bytes; " + std::to_string(text.size() + 1) +
                                                   " are needed");
    text.copy(buffer, text.size());
    buffer[text.size()] = '\0';
    return TARNWICK_OK;
}

tarnwick_status copyCells(const std::vector<std::int64_t>& cells, std::int32_t* buffer,
                          std::size_t capacity, std::size_t* count) {
    if (!buffer && capacity > 0) return fail(TARNWICK_INVALID_ARGUMENT, "the buffer is NULL");
    if (count) *count = cells.size();
    if (!buffer) return TARNWICK_OK;
    if (capacity < cells.size())
        return fail(TARNWICK_BUFFER_TOO_SMALL, "the buffer holds " + std::to_string(capacity) +
                                                   " cells; " + std::to_string(cells.size()) +
                                                   " are needed");
    for (std::size_t i = 0; i < cells.size(); ++i)
        buffer[i] = static_cast<std::int32_t>(cells[i]);
    return TARNWICK_OK;
}

} // namespace tarnwick::capi

extern "C" const char* tarnwick_last_error(void) {
    return tarnwick::capi::lastError.c_str();
}
