#include "Tarnwick/play/Precision.hpp"

#include <algorithm>

namespace tarnwick {

namespace {

// Appended piece by piece: GCC 12 raises a false -Wrestrict on a chain of string additions.
std::string scientific(bool negative, const std::string& digits, std::int64_t exponent) {
    std::string text = negative ? "-" : "";
    text += digits;
    text += 'e';
    text += std::to_string(exponent);
    return text;
}

} // namespace

std::optional<std::string> roundedDecimal(double value, std::int64_t digits, RoundingMode mode) {
    if (!std::isfinite(value)) return std::nullopt;
    digits = std::clamp<std::int64_t>(digits, 0, 400);
    const bool negative = std::signbit(value);
    const std::string text = shortestScientific(std::fabs(value));
    const auto e = text.find('e');
    std::string mantissa;
    for (std::size_t i = 0; i < e; ++i)
        if (text[i] != '.') mantissa += text[i];
    // value = 0.<mantissa> x 10^point
    std::int64_t point = std::stoll(text.substr(e + 1)) + 1;
    std::int64_t keep = point + digits;
    if (keep < 0) {
        mantissa.insert(0, static_cast<std::size_t>(-keep), '0');
        point -= keep;
        keep = 0;
    }
    if (keep >= static_cast<std::int64_t>(mantissa.size()))
        return scientific(negative, mantissa, point - static_cast<std::int64_t>(mantissa.size()));

    std::string kept = mantissa.substr(0, static_cast<std::size_t>(keep));
    const std::string rest = mantissa.substr(static_cast<std::size_t>(keep));
    const bool restNonZero = rest.find_first_not_of('0') != std::string::npos;
    const bool aboveHalf = rest[0] > '5' || (rest[0] == '5' && rest.find_first_not_of('0', 1) != std::string::npos);
    const bool exactlyHalf = rest[0] == '5' && rest.find_first_not_of('0', 1) == std::string::npos;
    const bool lastOdd = !kept.empty() && (kept.back() - '0') % 2 == 1;
    bool increment = false;
    switch (mode) {
    case RoundingMode::ceiling: increment = restNonZero && !negative; break;
    case RoundingMode::floor: increment = restNonZero && negative; break;
    case RoundingMode::down: increment = false; break;
    case RoundingMode::up: increment = restNonZero; break;
    case RoundingMode::halfEven: increment = aboveHalf || (exactlyHalf && lastOdd); break;
    case RoundingMode::halfDown: increment = aboveHalf; break;
    case RoundingMode::halfUp: increment = aboveHalf || exactlyHalf; break;
    }
    if (increment) {
        std::size_t i = kept.size();
        while (i > 0 && kept[i - 1] == '9') kept[--i] = '0';
        if (i == 0)
            kept.insert(kept.begin(), '1');
        else
            ++kept[i - 1];
    }
    if (kept.empty()) kept.assign(1, '0');
    return scientific(negative, kept, point - keep);
}

} // namespace tarnwick
