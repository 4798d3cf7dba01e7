// The tree's arena: objects carved from it behave as ordinary shared objects, whoever holds
// them last and on whichever thread, and its chunks are returned once all are gone (the
// address sanitizer build reports a use after the return or a chunk never returned).

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Tarnwick/search/MCTS.hpp"
#include "Tarnwick/search/TreeArena.hpp"

using namespace tarnwick;

namespace {

std::shared_ptr<GameState> emptyBoard() {
    return std::make_shared<GameState>(Shape{6, 7}, 1);
}

// A chain of `count` positions made in the tree, each an edge's out-node from the previous.
std::vector<std::shared_ptr<Edge>> chain(MCTS& tree, int count) {
    std::vector<std::shared_ptr<Edge>> edges;
    auto from = tree.root;
    for (int i = 0; i < count; ++i) {
        auto state = tree.make<GameState>(Shape{6, 7}, i % 2 == 0 ? -1 : 1);
        state->board = from->state->board;
        state->board[static_cast<std::size_t>(i % 42)] = i + 1;
        auto node = tree.make<Node>(state);
        edges.push_back(tree.make<Edge>(from, node, 0.5, i % 42));
        from->edges.push_back(edges.back());
        from = node;
    }
    return edges;
}

} // namespace

TEST(TreeArena, ObjectsSpanChunksAndKeepTheirContents) {
    MCTS tree(std::make_shared<Node>(emptyBoard()), 1.0);
    const auto edges = chain(tree, 2000);
    // 2000 positions, nodes and edges cannot share one chunk.
    EXPECT_GT(2000 * sizeof(Edge), TreeArena::ChunkBytes);
    for (int i = 0; i < 2000; ++i) {
        const auto& edge = edges[static_cast<std::size_t>(i)];
        ASSERT_EQ(edge->action, i % 42);
        ASSERT_EQ(edge->stats.P, 0.5);
        ASSERT_EQ(edge->outNode->state->board[static_cast<std::size_t>(i % 42)], i + 1);
        ASSERT_EQ(edge->outNode->playerTurn(), i % 2 == 0 ? -1 : 1);
    }
}

TEST(TreeArena, WhatACallerKeepsOutlivesTheTree) {
    std::shared_ptr<Edge> kept;
    std::weak_ptr<Node> dropped;
    {
        MCTS tree(std::make_shared<Node>(emptyBoard()), 1.0);
        const auto edges = chain(tree, 500);
        kept = edges[300];
        dropped = edges[10]->outNode;
    }
    // The rest of the tree went with it; the kept edge still holds its out-node and reads.
    EXPECT_TRUE(dropped.expired());
    ASSERT_TRUE(kept->outNode);
    EXPECT_EQ(kept->outNode->state->board[300 % 42], 301);
    // Its in-node is gone: the mover recorded at creation answers.
    EXPECT_EQ(kept->playerTurn(), 1);
    kept->stats.N += 1;
    EXPECT_EQ(kept->stats.N, 1.0);
}

TEST(TreeArena, TheLastObjectMayGoOnAnotherThread) {
    std::shared_ptr<Node> kept;
    {
        MCTS tree(std::make_shared<Node>(emptyBoard()), 1.0);
        kept = chain(tree, 100)[99]->outNode;
    }
    std::thread elsewhere([node = std::move(kept)]() mutable {
        EXPECT_EQ(node->state->board[99 % 42], 100);
        node.reset();
    });
    elsewhere.join();
    EXPECT_FALSE(kept);
}

TEST(TreeArena, ACopiedTreeMakesItsObjectsApart) {
    auto original = std::make_unique<MCTS>(std::make_shared<Node>(emptyBoard()), 1.0);
    chain(*original, 50);
    MCTS copy = *original;
    const auto made = copy.make<GameState>(Shape{6, 7}, 1);
    // The original goes first; the copy shares its nodes and keeps making its own.
    original.reset();
    EXPECT_EQ(copy.root->edges.size(), 1u);
    EXPECT_EQ(copy.root->edges[0]->outNode->state->board[0], 1);
    const auto more = chain(copy, 60);
    EXPECT_EQ(more.back()->outNode->state->board[59 % 42], 60);
    EXPECT_EQ(made->playerTurn, 1);

    MCTS moved = std::move(copy);
    EXPECT_EQ(moved.make<Node>(made)->state, made);
}

TEST(TreeArena, AnObjectThatFailsToConstructGivesItsReferenceBack) {
    MCTS tree(std::make_shared<Node>(emptyBoard()), 1.0);
    // Node refuses a null position after its memory was taken from the arena.
    EXPECT_THROW(tree.make<Node>(nullptr), std::invalid_argument);
    EXPECT_EQ(tree.make<Node>(emptyBoard())->playerTurn(), 1);
}

#if defined(__SANITIZE_ADDRESS__)
TEST(TreeArenaDeathTest, AnObjectFreedWhileTheTreeLivesIsPoisoned) {
    // Its memory stays in the arena's chunk; the sanitizer must still see a later read.
    MCTS tree(std::make_shared<Node>(emptyBoard()), 1.0);
    auto edges = chain(tree, 3);
    const Edge* freed = edges[1].get();
    edges.clear();
    tree.root->edges[0]->outNode->edges.clear();
    EXPECT_DEATH(
        {
            const volatile double visits = freed->stats.N;
            (void)visits;
        },
        "use-after-poison");
}
#endif
