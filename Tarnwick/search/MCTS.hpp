#pragma once
// The search tree: one node per distinct position, keyed by the position's id. Every move adds
// a piece, so paths never revisit a position and the structure is a DAG rooted at `root`.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Tarnwick/search/Edge.hpp"
#include "Tarnwick/search/KeyHash.hpp"
#include "Tarnwick/search/Node.hpp"
#include "Tarnwick/search/TreeArena.hpp"

namespace tarnwick {

struct LeafResult {
    std::shared_ptr<Node> leaf;
    double value; // from the point of view of the player to move at the leaf
    bool done;
    std::vector<std::shared_ptr<Edge>> breadcrumbs;
};

class MCTS {
public:
    MCTS(std::shared_ptr<Node> root, double cpuct);

    std::shared_ptr<Node> root;
    std::unordered_map<std::string, std::shared_ptr<Node>, KeyHash> tree;
    double cpuct;

    std::int64_t length() const { return static_cast<std::int64_t>(tree.size()); }

    // PUCT descent from the root to a leaf, with Dirichlet noise mixed into the root's priors.
    LeafResult moveToLeaf();
    // Adds `value` (seen by the leaf's player to move) to every edge of the path, signed for
    // the player who made that edge's move.
    void backFill(const std::shared_ptr<Node>& leaf, double value,
                  const std::vector<std::shared_ptr<Edge>>& breadcrumbs);
    // Stores the node under its id, replacing any node stored there.
    void add(const std::shared_ptr<Node>& node);

    // make_shared for the nodes, edges and positions the search adds to this tree: they are
    // carved from the tree's own chunks (TreeArena), which go once the tree and they are gone.
    template <typename T, typename... Args> std::shared_ptr<T> make(Args&&... args) {
        return arena_.make<T>(std::forward<Args>(args)...);
    }

  private:
    TreeArena arena_;
};

} // namespace tarnwick
