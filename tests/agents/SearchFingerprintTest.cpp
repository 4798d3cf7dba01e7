// The search's results pinned down: with a seeded generator and a fixed random tower, the
// visits, values and tree size after a run of moves are those the search gave before its
// bookkeeping was made cheaper. Any change in what the search computes shows up here.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "Platform/TowerNetwork.hpp"
#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/search/Random.hpp"
#include "tests/support/ModelWriter.hpp"

using namespace tarnwick;

namespace {

std::shared_ptr<version0328> randomTower() {
    const platform::TowerArchitecture arch{1, 8, 2, 1, 16};
    return std::make_shared<version0328>(
        std::make_shared<platform::TowerNetwork>(platform::TowerWeights{
            arch, tarnwick::testing::randomTensors(arch, 11), "fingerprint tower"}));
}

// Each root edge as action:N:W, then N and W summed over the whole tree, and its size.
std::string fingerprint(const ZenfoldAgent& agent) {
    std::string out;
    char buffer[64];
    for (const auto& edge : agent.mcts->root->edges) {
        std::snprintf(buffer, sizeof buffer, "%lld:%.0f:%.6f ",
                      static_cast<long long>(edge->action), edge->stats.N, edge->stats.W);
        out += buffer;
    }
    double visits = 0, values = 0;
    for (const auto& [key, node] : agent.mcts->tree)
        for (const auto& edge : node->edges) {
            visits += edge->stats.N;
            values += edge->stats.W;
        }
    std::snprintf(buffer, sizeof buffer, "tree %.0f:%.4f ", visits, values);
    return out + buffer + "nodes " + std::to_string(agent.mcts->length());
}

} // namespace

TEST(SearchFingerprint, SeededSelfPlayKeepsItsVisitsAndValues) {
    seedRandom(20261210);
    auto agent = std::make_shared<ZenfoldAgent>("fingerprint", 84, 42, 200, 1.0);
    agent->setModel(randomTower());
    auto state = std::make_shared<GameState>(Shape{6, 7}, 1);
    std::string moves;
    for (int ply = 0; ply < 9 && !state->isEndGame(); ++ply) {
        const auto action = agent->act(state, ply < 2);
        moves += std::to_string(action) + " ";
        state = state->take(action).gameState;
    }
    const std::string got = moves + "| " + fingerprint(*agent);
    // Recorded from the search as it was before it stopped building a position for every
    // step of the descent and a key for every child.
    EXPECT_EQ(got, "39 35 38 31 40 41 37 | 24:3:0.111044 28:3:0.111044 32:3:0.111044 33:4:0.222087 "
                   "34:4:0.222087 36:3:0.111044 37:268:268.000000 tree 3652:313.1481 nodes 4537");
}
