#include "Tarnwick/search/Node.hpp"

#include <stdexcept>

#include "Tarnwick/rules/Errors.hpp"

namespace tarnwick {

Node::Node(std::shared_ptr<GameState> state) : state(std::move(state)) {
    if (!this->state) throw std::invalid_argument("Node: a node needs a position");
}

const GameState& Node::position() const {
    if (!state) throw FatalError("Node: the node has no position");
    return *state;
}

} // namespace tarnwick
