#pragma once
// A number's shortest decimal text and its reading back. A standard library without
// floating-point <charconv> (emscripten's libc++) gets the same texts from the C library.

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace tarnwick {

// The C library's route, kept apart so that tests hold it to <charconv> where both exist.
namespace decimal_fallback {

// As to_chars(chars_format::scientific) without a precision: the fewest digits that read back
// as the same double, written like "1.25e-03". The value must be finite.
std::string shortestScientific(double value);

// The whole text as a T; empty when it is not a plain decimal number or out of T's range.
template <typename T> std::optional<T> parse(std::string_view text) {
    // Plain decimal only: strtod would also take hexadecimal, "inf" and "nan".
    if (text.empty() || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9')) ||
        text.find_first_not_of("0123456789.eE+-") != std::string_view::npos)
        return std::nullopt;
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    T parsed{};
    if constexpr (std::is_same_v<T, float>)
        parsed = std::strtof(copy.c_str(), &end);
    else if constexpr (std::is_same_v<T, double>)
        parsed = std::strtod(copy.c_str(), &end);
    else
        parsed = std::strtold(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size()) return std::nullopt;
    // Out of range, as <charconv> has it: past the largest number, or below the smallest
    // subnormal; a subnormal result itself is a number.
    if (errno == ERANGE && (parsed == 0 || parsed > std::numeric_limits<T>::max() ||
                            parsed < std::numeric_limits<T>::lowest()))
        return std::nullopt;
    return parsed;
}

} // namespace decimal_fallback

inline std::string shortestScientific(double value) {
#if defined(__cpp_lib_to_chars)
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    return std::string(buffer, result.ptr);
#else
    return decimal_fallback::shortestScientific(value);
#endif
}

template <typename T> std::optional<T> parseDecimal(std::string_view text) {
#if defined(__cpp_lib_to_chars)
    T parsed{};
    const auto* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data(), last, parsed);
    if (error != std::errc() || end != last) return std::nullopt;
    return parsed;
#else
    return decimal_fallback::parse<T>(text);
#endif
}

} // namespace tarnwick
