#include "Tarnwick/search/MCTS.hpp"

#include <cmath>
#include <stdexcept>

#include "Tarnwick/rules/Config.hpp"
#include "Tarnwick/rules/Errors.hpp"
#include "Tarnwick/search/Random.hpp"

namespace tarnwick {

MCTS::MCTS(std::shared_ptr<Node> root, double cpuct) : root(std::move(root)), cpuct(cpuct) {
    if (!this->root) throw std::invalid_argument("MCTS: a tree needs a root");
    add(this->root);
}

void MCTS::add(const std::shared_ptr<Node>& node) {
    if (!node) throw std::invalid_argument("MCTS.add: null node");
    tree.insert_or_assign(node->id(), node);
}

LeafResult MCTS::moveToLeaf() {
    // The tree's members are public; a null written into them is a broken tree, refused
    // before it is followed.
    if (!root || !root->state) throw FatalError("MCTS.moveToLeaf: the tree has no root position");
    LeafResult result{root, 0.0, false, {}};
    // Plain pointers while descending: the tree owns every node and edge on the path, and
    // reference counts would be touched at every comparison. The buffers are kept from one
    // descent to the next so that a descent allocates only its returned path.
    thread_local std::vector<const std::shared_ptr<Edge>*> path;
    thread_local std::vector<double> noise;
    path.clear();
    Node* current = root.get();
    Node* parent = nullptr;
    std::int64_t lastAction = 0;
    while (!current->isLeaf()) {
        const auto& edges = current->edges;
        for (const auto& edge : edges)
            if (!edge) throw FatalError("MCTS.moveToLeaf: a null edge in the tree");
        double best = -99999.0;
        std::size_t chosen = 0;
        // Below the root the noise is 0, so no vector of zeros is needed for it.
        const bool atRoot = current == root.get();
        const double epsilon = atRoot ? Config::EPSILON : 0.0;
        if (atRoot) dirichlet(Config::ALPHA, edges.size(), noise);
        double total = 0.0;
        for (const auto& edge : edges) total += edge->stats.N;
        const double root2 = std::sqrt(total);
        for (std::size_t i = 0; i < edges.size(); ++i) {
            const auto& stats = edges[i]->stats;
            const double u = cpuct *
                             ((1 - epsilon) * stats.P + epsilon * (atRoot ? noise[i] : 0.0)) *
                             root2 / (1 + stats.N);
            if (stats.Q + u > best) {
                best = stats.Q + u;
                chosen = i;
            }
        }
        // Only the chosen edge's node is followed, so only it must be whole: looking into
        // every edge's node would cost a cache miss for each.
        Node* next = edges[chosen]->outNode.get();
        if (!next || !next->state) throw FatalError("MCTS.moveToLeaf: a null node in the tree");
        parent = current;
        lastAction = edges[chosen]->action;
        current = next;
        path.push_back(&edges[chosen]);
    }
    // Only the last step's outcome is the leaf's, so the position is made once a descent.
    if (parent) {
        const auto step = parent->state->take(lastAction);
        result.value = step.value;
        result.done = step.done;
        result.breadcrumbs.reserve(path.size());
        for (const auto* edge : path)
            result.breadcrumbs.push_back(*edge);
        result.leaf = result.breadcrumbs.back()->outNode;
    }
    return result;
}

void MCTS::backFill(const std::shared_ptr<Node>& leaf, double value,
                    const std::vector<std::shared_ptr<Edge>>& breadcrumbs) {
    if (!leaf) throw std::invalid_argument("MCTS.backFill: null leaf");
    const auto leafPlayer = leaf->playerTurn();
    for (const auto& edge : breadcrumbs)
        if (!edge) throw FatalError("MCTS.backFill: a null edge in the path");
    for (const auto& edge : breadcrumbs) {
        const double direction = edge->playerTurn() == leafPlayer ? 1.0 : -1.0;
        edge->stats.N = edge->stats.N + 1;
        edge->stats.W = edge->stats.W + value * direction;
        edge->stats.Q = edge->stats.W / edge->stats.N;
    }
}

} // namespace tarnwick
