#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Tarnwick/rules/GameState.hpp"

namespace tarnwick {

class Edge;

// One position of the search tree. Owns its outgoing edges; empty until expanded.
class Node {
public:
    explicit Node(std::shared_ptr<GameState> state);

    std::shared_ptr<GameState> state;
    std::vector<std::shared_ptr<Edge>> edges;

    // Throw FatalError when `state` has been set to null.
    std::int64_t playerTurn() const { return position().playerTurn; }
    std::string id() const { return position().id(); }
    bool isLeaf() const { return edges.empty(); }

private:
    const GameState& position() const;
};

} // namespace tarnwick
