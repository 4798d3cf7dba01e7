#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Tarnwick/search/Node.hpp"
#include "Tarnwick/search/Stats.hpp"

namespace tarnwick {

// One move between two nodes of the same tree. The in-node owns the edge, so the edge only
// observes it; the out-node is deeper in the tree, so holding it cannot form a cycle.
class Edge {
public:
    Edge(const std::shared_ptr<Node>& inNode, std::shared_ptr<Node> outNode, double prior,
         std::int64_t action);

    std::weak_ptr<Node> inNode;
    std::shared_ptr<Node> outNode;
    std::int64_t action;
    Stats stats;

    std::string id() const;
    // The player who makes this move. Falls back to the mover at creation once the in-node
    // is gone, so an edge kept by a caller stays readable.
    std::int64_t playerTurn() const;

private:
    std::int64_t mover;
};

} // namespace tarnwick
