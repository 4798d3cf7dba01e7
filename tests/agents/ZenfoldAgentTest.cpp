#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <numeric>
#include <random>
#include <set>

#include "Tarnwick/agents/UserAgent.hpp"
#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/search/Random.hpp"
#include "tests/support/TestModels.hpp"

using namespace tarnwick;
using tarnwick::testing::favourColumn;
using tarnwick::testing::loadBiasModel;

namespace {

std::shared_ptr<GameState> after(const std::vector<std::int64_t>& actions) {
    auto state = std::make_shared<GameState>(Shape{6, 7}, 1);
    for (auto a : actions) state = state->take(a).gameState;
    return state;
}

std::shared_ptr<ZenfoldAgent> bot(std::int64_t sims, std::shared_ptr<version0328> model) {
    auto agent = std::make_shared<ZenfoldAgent>("bot", 84, 42, sims, 1.0);
    agent->setModel(std::move(model));
    return agent;
}

double rootVisits(const ZenfoldAgent& agent) {
    double total = 0;
    for (const auto& edge : agent.mcts->root->edges) total += edge->stats.N;
    return total;
}

std::shared_ptr<Edge> rootEdge(const ZenfoldAgent& agent, std::int64_t action) {
    for (const auto& edge : agent.mcts->root->edges)
        if (edge->action == action) return edge;
    return nullptr;
}

// A position of a derived class: the search must take the general path for it, through
// take and id, and list of actions as the class gives them.
class DerivedState : public GameState {
  public:
    DerivedState(std::vector<std::int64_t> actions = {}) : GameState({6, 7}, 1), listed(actions) {}
    std::vector<std::int64_t> listed;
    std::vector<std::int64_t> allowedActions() const override {
        return listed.empty() ? GameState::allowedActions() : listed;
    }
    StepResult take(std::int64_t action) const override {
        auto step = GameState::take(action);
        auto next = std::make_shared<DerivedState>();
        next->board = step.gameState->board;
        next->playerTurn = step.gameState->playerTurn;
        return {next, step.value, step.done};
    }
};

} // namespace

TEST(UserAgent, ReturnsItsStoredActionWhateverThePosition) {
    UserAgent user("User", 84, 42);
    EXPECT_EQ(user.act(after({}), false), 0);
    user.action = 17;
    EXPECT_EQ(user.act(after({38}), true), 17);
    EXPECT_EQ(user.act(after({38}), true), 17);
    Agent& asAgent = user;
    EXPECT_EQ(asAgent.name, "User");
    asAgent.stateSize = 5;
    EXPECT_EQ(user.stateSize, 5);
}

TEST(Search, OneSimulationExpandsTheRootAndChoosesUniformly) {
    seedRandom(1);
    auto model = loadBiasModel(favourColumn(3, 4.0f), 0.0f);
    std::set<std::int64_t> seen;
    for (int i = 0; i < 200; ++i) {
        auto agent = bot(1, model);
        const auto action = agent->act(after({}), false);
        ASSERT_EQ(agent->mcts->root->edges.size(), 7u);
        EXPECT_EQ(rootVisits(*agent), 0.0);
        seen.insert(action);
    }
    EXPECT_EQ(seen, (std::set<std::int64_t>{35, 36, 37, 38, 39, 40, 41}));
}

TEST(Search, SecondSimulationFollowsTheRootsFirstEdge) {
    auto agent = bot(2, loadBiasModel(favourColumn(3, 4.0f), std::atanh(0.5f)));
    EXPECT_EQ(agent->act(after({}), false), 35);
    const auto first = agent->mcts->root->edges[0];
    EXPECT_EQ(first->stats.N, 1.0);
    // The child's value 0.5 is seen by player -1; the edge's mover is +1.
    EXPECT_NEAR(first->stats.Q, -0.5, 1e-6);
}

TEST(Search, PriorsComeFromTheNetworkAtTheLegalActions) {
    auto agent = bot(1, loadBiasModel(favourColumn(3, 5.0f), 0.0f));
    agent->act(after({38, 31}), false);
    const auto& edges = agent->mcts->root->edges;
    std::vector<std::int64_t> actions;
    double total = 0;
    for (const auto& e : edges) {
        actions.push_back(e->action);
        total += e->stats.P;
    }
    EXPECT_EQ(actions, (std::vector<std::int64_t>{24, 35, 36, 37, 39, 40, 41}));
    const double expected = std::exp(5.0) / (std::exp(5.0) + 6.0);
    EXPECT_NEAR(rootEdge(*agent, 24)->stats.P, expected, 1e-6);
    EXPECT_NEAR(total, 1.0, 1e-9);
}

TEST(Search, HugeScoresStayFinite) {
    auto agent = bot(3, loadBiasModel(favourColumn(2, 1e30f), 0.0f));
    agent->act(after({}), false);
    for (const auto& e : agent->mcts->root->edges) ASSERT_TRUE(std::isfinite(e->stats.P));
    EXPECT_NEAR(rootEdge(*agent, 37)->stats.P, 1.0, 1e-12);
}

TEST(Search, FinishedLeavesAreNotExpandedAndBackUpTheGamesValue) {
    // +1 to move holds 35, 36, 37: playing 38 wins.
    auto agent = bot(30, loadBiasModel(favourColumn(3, 3.0f), 0.0f));
    EXPECT_EQ(agent->act(after({35, 28, 36, 29, 37, 30}), false), 38);
    const auto win = rootEdge(*agent, 38);
    EXPECT_GT(win->stats.N, 1.0);
    EXPECT_DOUBLE_EQ(win->stats.Q, 1.0);
    EXPECT_TRUE(win->outNode->isLeaf());
}

TEST(Search, ReRootingKeepsVisitCountsAndSamePositionContinues) {
    seedRandom(2);
    auto agent = bot(60, loadBiasModel(favourColumn(3, 1.0f), 0.1f));
    auto start = after({});
    const auto action = agent->act(start, false);
    EXPECT_EQ(rootVisits(*agent), 59.0);
    agent->act(start, false);
    EXPECT_EQ(rootVisits(*agent), 119.0) << "the same position continues one search";

    // The most visited reply two plies down is an expanded node of the tree.
    auto mine = start->take(action).gameState;
    const auto& replies = agent->mcts->tree.at(mine->id())->edges;
    ASSERT_FALSE(replies.empty());
    auto reply = *std::max_element(replies.begin(), replies.end(), [](auto& a, auto& b) {
        return a->stats.N < b->stats.N;
    });
    auto next = mine->take(reply->action).gameState;
    auto node = agent->mcts->tree.at(next->id());
    double before = 0;
    for (auto& e : node->edges) before += e->stats.N;
    ASSERT_GT(before, 0.0);
    const auto length = agent->mcts->length();
    agent->act(next, false);
    EXPECT_EQ(agent->mcts->root, node);
    EXPECT_EQ(rootVisits(*agent), before + 60.0);
    EXPECT_GE(agent->mcts->length(), length) << "re-rooting drops nothing";

    // A position that is not in the tree starts from a fresh tree.
    agent->mctsSimulations = 1;
    auto unreachable = std::make_shared<GameState>(Shape{6, 7}, -1);
    unreachable->board[0] = 1; // a floating piece: no search of a real game meets it
    agent->act(unreachable, false);
    EXPECT_EQ(agent->mcts->length(), 8);
}

TEST(Search, TreeHoldsOneNodePerPositionAndLinksTranspositions) {
    auto agent = bot(400, loadBiasModel(std::vector<float>(42, 0.f), 0.0f));
    agent->act(after({}), false);
    std::set<const Node*> distinct;
    for (const auto& [key, node] : agent->mcts->tree) {
        ASSERT_EQ(key, node->id());
        distinct.insert(node.get());
        for (const auto& e : node->edges) ASSERT_EQ(agent->mcts->tree.at(e->outNode->id()), e->outNode);
    }
    EXPECT_EQ(distinct.size(), agent->mcts->tree.size());
    // 35, 41, 36 and 36, 41, 35 reach one position: its node is the out-node of two edges.
    const auto shared = agent->mcts->tree.at(after({35, 41, 36})->id());
    int inEdges = 0;
    for (const auto& [key, node] : agent->mcts->tree)
        for (const auto& e : node->edges) inEdges += e->outNode == shared;
    EXPECT_EQ(inEdges, 2);
}

TEST(Search, SimulationCountsBelowOneStillPlayLegalMoves) {
    auto model = loadBiasModel(favourColumn(3, 2.0f), 0.0f);
    for (std::int64_t sims : {0, -5}) {
        auto agent = bot(sims, model);
        const auto state = after({38});
        const auto legal = state->allowedActions();
        const auto action = agent->act(state, true);
        EXPECT_NE(std::find(legal.begin(), legal.end(), action), legal.end());
    }
}

TEST(Search, NoLegalActionIsALogicError) {
    auto full = std::make_shared<GameState>(Shape{6, 7}, 1);
    for (std::size_t i = 0; i < 42; ++i) full->board[i] = (i % 3) ? 1 : -1;
    EXPECT_THROW(bot(5, loadBiasModel(favourColumn(0, 1.0f), 0.0f))->act(full, false), std::logic_error);
}

TEST(Search, MissingModelFolderIsALoadErrorNamingIt) {
    try {
        version0328 model(std::filesystem::path("/nonexistent/elsewhere.mlmodelc"));
        ADD_FAILURE() << "a missing model loaded";
    } catch (const std::exception& error) {
        EXPECT_NE(std::string(error.what()).find("elsewhere.mlmodelc"), std::string::npos) << error.what();
    }
}

TEST(Search, ShippedModelIsLoadedLazilyAndPlays) {
    ZenfoldAgent agent("Tavrick", 84, 42, 10, 1.0);
    const auto state = after({38, 31, 37});
    const auto legal = state->allowedActions();
    const auto action = agent.act(state, false);
    EXPECT_NE(std::find(legal.begin(), legal.end(), action), legal.end());
}

// Many random matches, bots with 0, 1 and a few simulations, sampling or not.
TEST(Search, BotsPlayLegalMovesThroughoutRandomMatches) {
    seedRandom(3);
    std::mt19937 rng(3);
    auto model = loadBiasModel(favourColumn(3, 1.5f), 0.2f);
    for (int match = 0; match < 60; ++match) {
        auto first = bot(match % 4 == 0 ? 0 : match % 4 == 1 ? 1 : 8, model);
        auto second = bot(match % 3 + 1, model);
        auto state = after({});
        bool done = false;
        for (int ply = 0; !done; ++ply) {
            const auto legal = state->allowedActions();
            std::int64_t action;
            if (rng() % 4 == 0)
                action = legal[rng() % legal.size()];
            else
                action = (ply % 2 ? second : first)->act(state, rng() % 2);
            ASSERT_NE(std::find(legal.begin(), legal.end(), action), legal.end());
            const auto step = state->take(action);
            state = step.gameState;
            done = step.done;
        }
    }
}

namespace {

// A network that answers the same value and scores for every position.
class ConstantModel : public platform::MLModel {
public:
    ConstantModel(double value, double score) : value(value), score(score) {}
    std::shared_ptr<platform::MLFeatureProvider>
    prediction(const platform::MLFeatureProvider&, const platform::MLPredictionOptions&) override {
        using platform::MLFeatureValue;
        auto output1 = platform::MLMultiArray::create({1}, platform::MLMultiArrayDataType::Double);
        auto output2 = platform::MLMultiArray::create({42}, platform::MLMultiArrayDataType::Double);
        output1->set(0, value);
        for (std::int64_t i = 0; i < 42; ++i)
            output2->set(i, i == 38 ? score : 0.0);
        return std::make_shared<platform::MLDictionaryFeatureProvider>(
            std::map<std::string, std::shared_ptr<MLFeatureValue>>{
                {"output1", MLFeatureValue::featureValueWithMultiArray(output1)},
                {"output2", MLFeatureValue::featureValueWithMultiArray(output2)}});
    }
    std::shared_ptr<platform::MLBatchProvider>
    predictions(const platform::MLBatchProvider&, const platform::MLPredictionOptions&) override {
        throw std::logic_error("not used");
    }
    double value, score;
};

} // namespace

// A bot never plays on an answer that is not a number: the prediction fails, naming the model.
TEST(Search, NonFiniteAnswersStopTheSearch) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (auto [value, score] : {std::pair{nan, 0.0}, {inf, 0.0}, {0.0, nan}, {0.0, -inf}}) {
        auto agent =
            bot(5, std::make_shared<version0328>(std::make_shared<ConstantModel>(value, score)));
        try {
            agent->act(after({}), false);
            ADD_FAILURE() << "played on " << value << ", " << score;
        } catch (const FatalError& error) {
            EXPECT_NE(std::string(error.what()).find("the model version0328 answered"),
                      std::string::npos)
                << error.what();
        }
    }
    auto fine = bot(5, std::make_shared<version0328>(std::make_shared<ConstantModel>(0.5, -1e300)));
    EXPECT_NO_THROW(fine->act(after({}), false));
}

// Public members written to null: refused with FatalError, or rebuilt where the agent can.
TEST(Search, NullsWrittenIntoTheTreeOrModel) {
    auto agent = bot(5, loadBiasModel(favourColumn(3, 1.0f), 0.0f));
    const auto start = after({});
    agent->act(start, false);
    agent->mcts->tree[start->id()] = nullptr;
    EXPECT_NO_THROW(agent->act(start, false)) << "the tree is built afresh";
    agent->mcts->root->edges.front() = nullptr;
    EXPECT_THROW(agent->mcts->moveToLeaf(), FatalError);
    agent->mcts->root->edges.clear();
    agent->mcts->root->state = nullptr;
    EXPECT_THROW(agent->mcts->moveToLeaf(), FatalError);
    agent->mcts->root = nullptr;
    EXPECT_THROW(agent->mcts->moveToLeaf(), FatalError);
    const auto leaf = std::make_shared<Node>(start);
    EXPECT_THROW(agent->mcts->backFill(leaf, 1.0, {nullptr}), FatalError);

    version0328 model(std::make_shared<ConstantModel>(0.0, 0.0));
    model.model = nullptr;
    EXPECT_THROW(model.prediction(start->binary()), FatalError);
}

TEST(Search, ADerivedPositionIsSearchedAsThePlainOne) {
    const auto model = loadBiasModel(favourColumn(3, 1.0f), 0.0f);
    auto plain = bot(60, model);
    seedRandom(7);
    const auto plainMove = plain->act(after({}), true);
    auto derived = bot(60, model);
    seedRandom(7);
    EXPECT_EQ(derived->act(std::make_shared<DerivedState>(), true), plainMove);
    EXPECT_EQ(derived->mcts->length(), plain->mcts->length());
    for (const auto action : {35, 38, 41})
        EXPECT_EQ(rootEdge(*derived, action)->stats.N, rootEdge(*plain, action)->stats.N);
    for (const auto& [key, node] : derived->mcts->tree) {
        EXPECT_EQ(key, node->id());
        EXPECT_NE(dynamic_cast<const DerivedState*>(node->state.get()), nullptr);
    }
}

TEST(Search, ActionsOutsideTheScoresAreRefused) {
    // Listed out of order, the actions are fine; one the network has no score for is not.
    auto agent = bot(20, loadBiasModel(favourColumn(3, 1.0f), 0.0f));
    const auto action =
        agent->act(std::make_shared<DerivedState>(std::vector<std::int64_t>{41, 35}), false);
    EXPECT_TRUE(action == 41 || action == 35);
    for (const std::int64_t wrong : {42, -1}) {
        auto fresh = bot(20, loadBiasModel(favourColumn(3, 1.0f), 0.0f));
        EXPECT_THROW(
            fresh->act(std::make_shared<DerivedState>(std::vector<std::int64_t>{38, wrong}), false),
            FatalError);
    }
}
