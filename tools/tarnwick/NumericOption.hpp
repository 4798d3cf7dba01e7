#pragma once
// Numeric command-line options: decimal digits only, within a range stated in the help text.
// Anything else (a sign, a fraction, hex or octal, an empty word, a value out of range or too
// large for 64 bits) is refused by the parser, which then exits with status 2.

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

#include <CLI/CLI.hpp>

namespace tarnwick::cli {

// The value of `text` when it is decimal digits (leading zeros read as decimal) between `low`
// and `high`; empty otherwise.
std::optional<std::uint64_t> parseDecimal(const std::string& text, std::uint64_t low,
                                          std::uint64_t high);

template <typename T> void assignNumber(T& target, std::uint64_t value) {
    target = static_cast<T>(value);
}
template <typename T> void assignNumber(std::optional<T>& target, std::uint64_t value) {
    target = static_cast<T>(value);
}

// `high` must fit in the target's type.
template <typename T>
CLI::Option* addNumber(CLI::App* command, const std::string& name, T& target, std::uint64_t low,
                       std::uint64_t high, const std::string& help) {
    auto* option = command->add_option_function<std::string>(
        name,
        [&target, name, low, high](const std::string& text) {
            const auto value = parseDecimal(text, low, high);
            if (!value)
                throw CLI::ValidationError(name, "\"" + text + "\" is not a whole number from " +
                                                     std::to_string(low) + " to " +
                                                     std::to_string(high));
            assignNumber(target, *value);
        },
        help + " (" + std::to_string(low) + ".." + std::to_string(high) + ")");
    if constexpr (std::is_arithmetic_v<T>) option->default_str(std::to_string(target));
    return option;
}

} // namespace tarnwick::cli
