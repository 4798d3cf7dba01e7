#pragma once

#include "Tarnwick/agents/Agent.hpp"

namespace tarnwick {

// The human player: returns the action the session last stored on the user's behalf.
class UserAgent : public Agent {
public:
    UserAgent(std::string agent_name, std::int64_t state_size, std::int64_t action_size)
        : Agent(std::move(agent_name), state_size, action_size) {}

    std::int64_t action = 0;

    std::int64_t act(const std::shared_ptr<GameState>&, bool) override { return action; }
};

} // namespace tarnwick
