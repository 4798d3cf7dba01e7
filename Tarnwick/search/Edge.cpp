#include "Tarnwick/search/Edge.hpp"

#include <stdexcept>

#include "Tarnwick/rules/Errors.hpp"

namespace tarnwick {

Edge::Edge(const std::shared_ptr<Node>& inNode, std::shared_ptr<Node> outNode, double prior,
           std::int64_t action)
    : inNode(inNode), outNode(std::move(outNode)), action(action), stats{0, 0, 0, prior} {
    if (!inNode || !this->outNode) throw std::invalid_argument("Edge: both nodes are required");
    mover = inNode->playerTurn();
}

std::int64_t Edge::playerTurn() const {
    const auto from = inNode.lock();
    return from ? from->playerTurn() : mover;
}

std::string Edge::id() const {
    const auto from = inNode.lock();
    if (!outNode) throw FatalError("Edge.id: the edge has no out-node");
    return (from ? from->id() : std::string()) + "|" + outNode->id();
}

} // namespace tarnwick
