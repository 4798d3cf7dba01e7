#pragma once
// Named playing strengths. The weaker levels err the way a weaker player does, by looking less
// far: fewer simulations, and a move drawn from the search's own visit counts or the network's
// priors with a temperature instead of the most visited move. Never an injected random move.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tarnwick {

struct Level {
    std::int64_t number;
    std::string name;
    // Simulations per move; 0 means the bot's own count (full strength).
    std::int64_t simulations;
    // What the move is drawn from; the designed choice at full strength.
    enum class Choice { priors, visits, designed } choice;
    // Weights are raised to 1 / temperature before the draw: higher is more careless.
    double temperature;
    // Every level above the lowest sees a win in one.
    bool takesWins;
};

constexpr std::int64_t LowestLevel = 1;
constexpr std::int64_t FullStrength = 8;

// Levels 1 (a beginner's opponent) to 8 (the designed bot); empty outside that range.
std::optional<Level> levelNamed(std::int64_t number);

} // namespace tarnwick
