#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "Tarnwick/search/MCTS.hpp"
#include "Tarnwick/search/Random.hpp"

using namespace tarnwick;

namespace {

std::shared_ptr<Node> nodeAfter(const std::vector<std::int64_t>& actions) {
    auto state = std::make_shared<GameState>(Shape{6, 7}, 1);
    for (auto a : actions) state = state->take(a).gameState;
    return std::make_shared<Node>(state);
}

// Expands a node with one edge per legal action, priors as given (uniform if empty).
void expand(MCTS& tree, const std::shared_ptr<Node>& node, std::vector<double> priors = {}) {
    const auto actions = node->state->allowedActions();
    if (priors.empty()) priors.assign(actions.size(), 1.0 / actions.size());
    for (std::size_t k = 0; k < actions.size(); ++k) {
        auto child = std::make_shared<Node>(node->state->take(actions[k]).gameState);
        tree.add(child);
        node->edges.push_back(std::make_shared<Edge>(node, child, priors[k], actions[k]));
    }
}

} // namespace

TEST(Tree, NewTreeHoldsOnlyItsRootWhichIsALeaf) {
    MCTS tree(nodeAfter({}), 1.0);
    EXPECT_EQ(tree.length(), 1);
    EXPECT_TRUE(tree.root->isLeaf());
    const auto [leaf, value, done, path] = tree.moveToLeaf();
    EXPECT_EQ(leaf, tree.root);
    EXPECT_EQ(value, 0.0);
    EXPECT_FALSE(done);
    EXPECT_TRUE(path.empty());
}

TEST(Tree, AddingAnExistingIdReplacesTheNode) {
    MCTS tree(nodeAfter({}), 1.0);
    auto other = nodeAfter({});
    tree.add(other);
    EXPECT_EQ(tree.length(), 1);
    EXPECT_EQ(tree.tree.at(other->id()), other);
}

TEST(Tree, EdgeIdAndMoverComeFromItsNodes) {
    MCTS tree(nodeAfter({}), 1.0);
    expand(tree, tree.root);
    const auto& edge = tree.root->edges[3];
    EXPECT_EQ(edge->action, 38);
    EXPECT_EQ(edge->playerTurn(), 1);
    EXPECT_EQ(edge->id(), tree.root->id() + "|" + edge->outNode->id());
    EXPECT_EQ(edge->stats.N, 0.0);
    EXPECT_DOUBLE_EQ(edge->stats.P, 1.0 / 7);
}

TEST(Descent, FreshlyExpandedRootTakesItsFirstEdgeWhateverThePriors) {
    seedRandom(1);
    for (int i = 0; i < 50; ++i) {
        MCTS tree(nodeAfter({}), 1.0);
        expand(tree, tree.root, {0.01, 0.01, 0.01, 0.9, 0.03, 0.02, 0.02});
        const auto [leaf, value, done, path] = tree.moveToLeaf();
        ASSERT_EQ(path.size(), 1u);
        EXPECT_EQ(path[0], tree.root->edges[0]);
        EXPECT_EQ(leaf, tree.root->edges[0]->outNode);
    }
}

TEST(Descent, BelowTheRootSelectionIsPlainPuct) {
    MCTS tree(nodeAfter({}), 1.0);
    expand(tree, tree.root);
    auto child = tree.root->edges[0]->outNode;
    // Two hand-made edges: P 0.2/0.8, N 1/0, Q 0.1/0 -> Q+U 0.2 and 0.8.
    auto a = std::make_shared<Edge>(child, nodeAfter({35, 36}), 0.2, 36);
    auto b = std::make_shared<Edge>(child, nodeAfter({35, 37}), 0.8, 37);
    a->stats = {1, 0.1, 0.1, 0.2};
    child->edges = {a, b};
    // Make the root always pick its first edge: it alone has a large Q.
    tree.root->edges[0]->stats = {1, 10, 10, 1.0 / 7};
    const auto result = tree.moveToLeaf();
    ASSERT_EQ(result.breadcrumbs.size(), 2u);
    EXPECT_EQ(result.breadcrumbs[1], b);
}

TEST(Descent, EqualScoresGoToTheEarlierEdgeAndNaNNeverWins) {
    MCTS tree(nodeAfter({}), 1.0);
    expand(tree, tree.root);
    auto child = tree.root->edges[0]->outNode;
    auto a = std::make_shared<Edge>(child, nodeAfter({35, 36}), 0.5, 36);
    auto b = std::make_shared<Edge>(child, nodeAfter({35, 37}), 0.5, 37);
    child->edges = {a, b};
    tree.root->edges[0]->stats = {1, 10, 10, 1.0 / 7};
    EXPECT_EQ(tree.moveToLeaf().breadcrumbs[1], a);

    // Every score below the -99999.0 start, or not a number: the first edge by default.
    a->stats = {1, -200000, -200000, 0.5};
    b->stats = {1, std::nan(""), std::nan(""), 0.5};
    EXPECT_EQ(tree.moveToLeaf().breadcrumbs[1], a);
    a->stats.Q = std::nan("");
    b->stats.Q = -100000;
    EXPECT_EQ(tree.moveToLeaf().breadcrumbs[1], a);
}

TEST(Descent, PathIntoAFinishedGameReportsItsValue) {
    // +1 holds 35, 36, 37; -1 holds 28, 29, 30; +1 to move: action 38 wins.
    auto root = nodeAfter({35, 28, 36, 29, 37, 30});
    MCTS tree(root, 1.0);
    expand(tree, root);
    for (auto& edge : root->edges) edge->stats = {1, -1, -1, 0.1};
    auto win = *std::find_if(root->edges.begin(), root->edges.end(),
                             [](const auto& e) { return e->action == 38; });
    win->stats = {1, 5, 5, 0.1};
    const auto [leaf, value, done, path] = tree.moveToLeaf();
    EXPECT_EQ(path.back(), win);
    EXPECT_TRUE(done);
    EXPECT_EQ(value, -1.0);
}

TEST(BackFill, SignsFollowTheMoverOfEachEdge) {
    MCTS tree(nodeAfter({}), 1.0);
    expand(tree, tree.root);
    auto n1 = tree.root->edges[0]->outNode;
    expand(tree, n1);
    auto n2 = n1->edges[0]->outNode;
    expand(tree, n2);
    auto leaf = n2->edges[0]->outNode;
    const std::vector<std::shared_ptr<Edge>> path{tree.root->edges[0], n1->edges[0], n2->edges[0]};
    ASSERT_EQ(leaf->playerTurn(), -1);
    tree.backFill(leaf, 1.0, path);
    EXPECT_EQ(path[0]->stats.W, -1.0);
    EXPECT_EQ(path[1]->stats.W, 1.0);
    EXPECT_EQ(path[2]->stats.W, -1.0);
    tree.backFill(leaf, 0.5, path);
    for (const auto& edge : path) {
        EXPECT_EQ(edge->stats.N, 2.0);
        EXPECT_DOUBLE_EQ(edge->stats.Q, edge->stats.W / 2.0);
        EXPECT_DOUBLE_EQ(edge->stats.P, 1.0 / 7);
    }
    EXPECT_DOUBLE_EQ(path[0]->stats.W, -1.5);

    const auto before = path[0]->stats.N;
    tree.backFill(leaf, 1.0, {});
    EXPECT_EQ(path[0]->stats.N, before);
}

TEST(Tree, EdgesDoNotKeepTheirInNodeAlive) {
    std::weak_ptr<Node> watched;
    {
        MCTS tree(nodeAfter({}), 1.0);
        expand(tree, tree.root);
        watched = tree.root;
    }
    EXPECT_TRUE(watched.expired());
}

TEST(Tree, KeysOfManyPositionsSpreadOverTheMap) {
    // Every position five moves deep: the keys differ in a few characters each, in the
    // 8-byte words and in the short tail alike.
    MCTS tree(nodeAfter({}), 1.0);
    std::vector<std::shared_ptr<Node>> frontier{tree.root};
    for (int ply = 0; ply < 5; ++ply) {
        std::vector<std::shared_ptr<Node>> next;
        for (const auto& node : frontier) {
            expand(tree, node);
            for (const auto& edge : node->edges)
                next.push_back(edge->outNode);
        }
        frontier = std::move(next);
    }
    ASSERT_GT(tree.length(), 4000);
    std::set<std::size_t> hashes;
    for (const auto& [key, node] : tree.tree)
        hashes.insert(KeyHash{}(key));
    EXPECT_EQ(static_cast<std::int64_t>(hashes.size()), tree.length());
    std::size_t longest = 0;
    for (std::size_t b = 0; b < tree.tree.bucket_count(); ++b)
        longest = std::max(longest, tree.tree.bucket_size(b));
    EXPECT_LE(longest, 8u);
}
