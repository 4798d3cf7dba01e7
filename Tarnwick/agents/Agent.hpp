#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Tarnwick/rules/GameState.hpp"

namespace tarnwick {

// A player of a match: asked for the action (a cell index) it takes in a position. The three
// properties every player has live here, so reading or writing them through the interface is
// reading or writing the player's own.
class Agent {
public:
    Agent(std::string name, std::int64_t stateSize, std::int64_t actionSize)
        : name(std::move(name)), stateSize(stateSize), actionSize(actionSize) {}
    virtual ~Agent() = default;

    std::string name;
    std::int64_t stateSize;
    std::int64_t actionSize;

    // `stochastic` asks a player that can either sample or take its best move to sample.
    virtual std::int64_t act(const std::shared_ptr<GameState>& state, bool stochastic) = 0;
};

} // namespace tarnwick
