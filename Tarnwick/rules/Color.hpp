#pragma once

#include <cstddef>
#include <functional>

namespace tarnwick {

// Colour of a player's pieces as reported to the host: player -1 is red, player +1 yellow.
enum class Color { red, yellow };

} // namespace tarnwick

template <> struct std::hash<tarnwick::Color> {
    std::size_t operator()(tarnwick::Color color) const noexcept {
        return std::hash<int>{}(color == tarnwick::Color::red ? 0 : 1);
    }
};
