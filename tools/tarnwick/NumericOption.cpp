#include "tools/tarnwick/NumericOption.hpp"

namespace tarnwick::cli {

std::optional<std::uint64_t> parseDecimal(const std::string& text, std::uint64_t low,
                                          std::uint64_t high) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        if (__builtin_mul_overflow(value, 10u, &value) ||
            __builtin_add_overflow(value, static_cast<std::uint64_t>(c - '0'), &value))
            return std::nullopt;
    }
    if (value < low || value > high) return std::nullopt;
    return value;
}

} // namespace tarnwick::cli
