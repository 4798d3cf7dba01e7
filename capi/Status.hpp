#pragma once
// The boundary between the C interface and the C++ library: every entry runs its body inside
// guarded(), which turns any exception into a status and a per-thread error text.

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "DerivedSources/CoreMLGenerated/version0328/version0328.hpp"
#include "Platform/MLModel.hpp"
#include "Tarnwick/rules/Notation.hpp"
#include "include/tarnwick/tarnwick.h"

namespace tarnwick::capi {

void clearError() noexcept;
// Records `text` as this thread's last error and returns `status`.
tarnwick_status fail(tarnwick_status status, const char* text) noexcept;
tarnwick_status fail(tarnwick_status status, const std::string& text) noexcept;

template <class Body> tarnwick_status guarded(Body&& body) noexcept {
    try {
        clearError();
        return body();
    } catch (const std::bad_alloc&) {
        return fail(TARNWICK_OUT_OF_MEMORY, "out of memory");
    } catch (const platform::MLModelError& error) {
        return fail(TARNWICK_MODEL_ERROR, error.what());
    } catch (const ModelLoadError& error) {
        return fail(TARNWICK_MODEL_ERROR, error.what());
    } catch (const std::exception& error) {
        return fail(TARNWICK_INTERNAL_ERROR, error.what());
    } catch (...) {
        return fail(TARNWICK_INTERNAL_ERROR, "an unknown failure inside the library");
    }
}

// The status and text of a refused move sequence.
tarnwick_status refuse(const ParsedMoves& parsed) noexcept;

// Copies `text` and its NUL into the caller's buffer under the header's buffer rules.
tarnwick_status copyText(const std::string& text, char* buffer, std::size_t capacity,
                         std::size_t* length);
// Copies cells into the caller's buffer; `count` receives how many there are.
tarnwick_status copyCells(const std::vector<std::int64_t>& cells, std::int32_t* buffer,
                          std::size_t capacity, std::size_t* count);

} // namespace tarnwick::capi
