#include "Tarnwick/search/Node.hpp"

#include <stdexcept>

namespace tarnwick {

Node::Node(std::shared_ptr<GameState> state) : state(std::move(state)) {
    if (!this->state) throw std::invalid_argument("Node: a node needs a position");
}

} // namespace tarnwick
