#pragma once
// Rounding to a number of fraction digits as a number formatter does it: the number's shortest
// decimal text is rounded in decimal, then read back into the number's own type.

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

#include "Tarnwick/play/DecimalText.hpp"

namespace tarnwick {

// The rounding modes of the platform's number formatter, with its raw values.
enum class RoundingMode : int {
    ceiling = 0,
    floor = 1,
    down = 2, // toward zero
    up = 3,   // away from zero
    halfEven = 4,
    halfDown = 5,
    halfUp = 6,
};

// The decimal text of |value| rounded to `digits` fraction digits, as "<integer>e<exponent>";
// empty for a value that has no decimal text (not finite).
std::optional<std::string> roundedDecimal(double value, std::int64_t digits, RoundingMode mode);

template <typename T>
    requires std::is_arithmetic_v<T>
std::optional<T> precision(T value, std::int64_t digits, RoundingMode mode = RoundingMode::halfUp) {
    if constexpr (std::is_integral_v<T>) {
        // Whole numbers have no fraction digits to round away.
        (void)digits;
        (void)mode;
        return value;
    } else {
        const auto text = roundedDecimal(static_cast<double>(value), digits, mode);
        if (!text) return std::nullopt;
        const auto parsed = parseDecimal<T>(*text);
        if (!parsed || !std::isfinite(*parsed)) return std::nullopt;
        return parsed;
    }
}

} // namespace tarnwick
