#include "Tarnwick/play/DecimalText.hpp"

#include <cstdio>
#include <cstring>

namespace tarnwick::decimal_fallback {

namespace {

bool readsBackAs(const char* text, double value) {
    return std::strtod(text, nullptr) == value;
}

// The text one unit higher in the last mantissa digit; false when that needs another digit.
bool nextUp(char* text) {
    char* digit = std::strchr(text, 'e');
    while (--digit >= text) {
        if (*digit == '.') continue;
        if (*digit == '-') break;
        if (*digit != '9') {
            ++*digit;
            return true;
        }
        *digit = '0';
    }
    return false;
}

} // namespace

std::string shortestScientific(double value) {
    // printf rounds correctly, so at each length its text is the nearest; just above a power
    // of two the gap to the next double is twice the gap below, and the decimal one unit
    // higher may read back where the nearest does not.
    char buffer[64];
    for (int digits = 0; digits < 17; ++digits) {
        std::snprintf(buffer, sizeof buffer, "%.*e", digits, value);
        if (readsBackAs(buffer, value)) return buffer;
        if (nextUp(buffer) && readsBackAs(buffer, value)) return buffer;
    }
    std::snprintf(buffer, sizeof buffer, "%.16e", value);
    return buffer;
}

} // namespace tarnwick::decimal_fallback
