#include "Tarnwick/agents/Level.hpp"

namespace tarnwick {

std::optional<Level> levelNamed(std::int64_t number) {
    using enum Level::Choice;
    static const std::array<Level, FullStrength> levels{{
        {1, "Beginner", 1, priors, 2.0, false},
        {2, "Novice", 1, priors, 1.25, true},
        {3, "Casual", 1, priors, 0.7, true},
        {4, "Club", 1, priors, 0.1, true},
        {5, "Intermediate", 13, visits, 0.25, true},
        {6, "Advanced", 25, visits, 0.1, true},
        {7, "Expert", 40, visits, 0.3, true},
        {8, "Master", 0, designed, 1.0, true},
    }};
    if (number < LowestLevel || number > FullStrength) return std::nullopt;
    return levels[static_cast<std::size_t>(number - 1)];
}

} // namespace tarnwick
