#pragma once
// The computer player: Monte-Carlo tree search with PUCT selection guided by the network.
// The tree survives between move requests and is re-rooted at the requested position when an
// earlier search reached it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DerivedSources/CoreMLGenerated/version0328/version0328.hpp"
#include "Tarnwick/agents/Agent.hpp"
#include "Tarnwick/search/MCTS.hpp"

namespace tarnwick {

class ZenfoldAgent : public Agent {
public:
    ZenfoldAgent(std::string agent_name, std::int64_t state_size, std::int64_t action_size,
                 std::int64_t mcts_simulations, double cpuct);

    std::int64_t mctsSimulations;
    double cpuct;
    std::shared_ptr<MCTS> mcts;

    // Runs at least one simulation whatever mctsSimulations says; throws std::logic_error
    // when the position has no legal action.
    std::int64_t act(const std::shared_ptr<GameState>& state, bool stochastic) override;

    // Hands the agent a network instead of the shipped one (tests, benchmarks, other models).
    void setModel(std::shared_ptr<version0328> model) { zenfoldModel_ = std::move(model); }

private:
    struct Evaluation {
        double value;
        std::vector<std::shared_ptr<Edge>> breadcums;
    };
    struct Predictions {
        double value;
        std::vector<double> probabilites;
        std::vector<std::int64_t> allowedActions;
    };
    struct ActionValues {
        std::vector<double> pi;
        std::vector<double> values;
    };
    struct Choice {
        std::int64_t action;
        double value;
    };

    // Loaded on first use from the library's resource; throws ModelLoadError.
    version0328& zenfoldModel();
    void buildMCTS(const std::shared_ptr<GameState>& state);
    void changeRootMCTS(const std::shared_ptr<GameState>& state);
    void simulate();
    Evaluation evaluateLeaf(const std::shared_ptr<Node>& leaf, double value, bool done,
                            std::vector<std::shared_ptr<Edge>> breadcrumbs);
    Predictions predictions(const GameState& state);
    ActionValues getActionValues(std::int64_t tau) const;
    Choice chooseAction(const std::vector<double>& pi, const std::vector<double>& values,
                        bool stochastic) const;

    std::shared_ptr<version0328> zenfoldModel_;
};

} // namespace tarnwick
