#include "Tarnwick/agents/ZenfoldAgent.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <typeinfo>

#include "Tarnwick/search/Random.hpp"

namespace tarnwick {

ZenfoldAgent::ZenfoldAgent(std::string agent_name, std::int64_t state_size,
                           std::int64_t action_size, std::int64_t mcts_simulations, double cpuct)
    : Agent(std::move(agent_name), state_size, action_size), mctsSimulations(mcts_simulations),
      cpuct(cpuct) {}

version0328& ZenfoldAgent::zenfoldModel() {
    if (!zenfoldModel_) zenfoldModel_ = std::make_shared<version0328>();
    return *zenfoldModel_;
}

std::int64_t ZenfoldAgent::act(const std::shared_ptr<GameState>& state, bool stochastic) {
    if (!state) throw std::invalid_argument("ZenfoldAgent.act: no position");
    if (state->allowedActions().empty())
        throw std::logic_error("ZenfoldAgent.act: the position has no legal action");
    // A tree whose node for this position was nulled by a caller is built afresh.
    std::shared_ptr<Node> known;
    if (mcts)
        if (const auto found = mcts->tree.find(state->id()); found != mcts->tree.end())
            known = found->second;
    if (!known || !known->state)
        buildMCTS(state);
    else
        changeRootMCTS(state);
    // A host may write a count below 1; one simulation is the least that expands the root.
    const auto n = std::max<std::int64_t>(1, mctsSimulations);
    for (std::int64_t i = 1; i <= n; ++i) simulate();
    const auto [pi, values] = getActionValues(1);
    return chooseAction(pi, values, stochastic).action;
}

void ZenfoldAgent::buildMCTS(const std::shared_ptr<GameState>& state) {
    mcts = std::make_shared<MCTS>(std::make_shared<Node>(state), cpuct);
    // A simulation adds at most one node a legal move; room for the first search's nodes
    // spares the map its rehashes (capped, for a host that asks for millions).
    const auto sims = std::clamp<std::int64_t>(mctsSimulations, 1, 20000);
    mcts->tree.reserve(static_cast<std::size_t>(sims) * 7);
}

void ZenfoldAgent::changeRootMCTS(const std::shared_ptr<GameState>& state) {
    mcts->root = mcts->tree.at(state->id());
}

void ZenfoldAgent::simulate() {
    if (!mcts) return;
    auto [leaf, value, done, breadcrumbs] = mcts->moveToLeaf();
    auto evaluation = evaluateLeaf(leaf, value, done, std::move(breadcrumbs));
    mcts->backFill(leaf, evaluation.value, evaluation.breadcums);
}

ZenfoldAgent::Evaluation ZenfoldAgent::evaluateLeaf(const std::shared_ptr<Node>& leaf,
                                                    double value, bool done,
                                                    std::vector<std::shared_ptr<Edge>> breadcrumbs) {
    // A finished game is not expanded: its own result is what gets backed up.
    if (done) return {value, std::move(breadcrumbs)};
    const auto [networkValue, probabilites, allowedActions] = predictions(*leaf->state);
    leaf->edges.reserve(allowedActions.size());
    const auto& state = *leaf->state;
    // On a plain position a child's key is the leaf's with the mover's piece added, so a
    // known child is linked without being built; only a new one is made, and without the
    // win check of `take`, whose verdict the descent asks for when it reaches the child.
    const bool plain = typeid(state) == typeid(GameState) &&
                       state.playerTurn != std::numeric_limits<std::int64_t>::min();
    auto& tree = *mcts;
    const auto successor = [&state, &tree, plain](std::int64_t action) {
        if (!plain) return state.take(action).gameState;
        auto next = tree.make<GameState>(state.shape, -state.playerTurn);
        next->board = state.board;
        next->board[static_cast<std::size_t>(action)] = state.playerTurn;
        return next;
    };
    // One key buffer: each child's two characters are set, looked up and reset, so a known
    // child costs no string.
    auto key = plain ? state.id() : std::string();
    const auto cells = state.board.size();
    const char mine = state.playerTurn == 1 ? '1' : '0';
    const char theirs = state.playerTurn == -1 ? '1' : '0';
    for (const auto action : allowedActions) {
        std::shared_ptr<Node> node;
        if (plain) {
            const auto at = static_cast<std::size_t>(action);
            key[at] = mine;
            key[cells + at] = theirs;
            const auto [found, inserted] = tree.tree.try_emplace(key);
            if (inserted) {
                try {
                    found->second = tree.make<Node>(successor(action));
                } catch (...) {
                    tree.tree.erase(found); // no keyless node left behind
                    throw;
                }
            } else if (!found->second || !found->second->state) {
                // A node a caller nulled is made again.
                found->second = tree.make<Node>(successor(action));
            }
            key[at] = '0';
            key[cells + at] = '0';
            node = found->second;
        } else {
            const auto next = successor(action);
            // The key is built once: a known position is linked, a new one goes in under it.
            auto nextKey = next->id();
            auto found = tree.tree.find(nextKey);
            if (found == tree.tree.end())
                found = tree.tree.emplace(std::move(nextKey), tree.make<Node>(next)).first;
            else if (!found->second || !found->second->state)
                found->second = tree.make<Node>(next);
            node = found->second;
        }
        leaf->edges.push_back(tree.make<Edge>(
            leaf, std::move(node), probabilites[static_cast<std::size_t>(action)], action));
    }
    return {networkValue, std::move(breadcrumbs)};
}

ZenfoldAgent::Predictions ZenfoldAgent::predictions(const GameState& state) {
    const auto input = state.binary();
    if (!input) throw FatalError("ZenfoldAgent: the position's input tensor cannot be made");
    const auto output = zenfoldModel().prediction(input);
    const auto output1 = output->output1();
    const auto output2 = output->output2();
    if (!output1 || output1->count() < 1)
        throw FatalError("ZenfoldAgent: the model's \"output1\" holds no value");
    auto allowedActions = state.allowedActions();
    const auto count = output2 ? output2->count() : 0;
    // A position of a derived class may list its actions in any order: each is checked, since
    // each indexes the scores.
    const bool inRange = std::all_of(allowedActions.begin(), allowedActions.end(),
                                     [count](std::int64_t a) { return a >= 0 && a < count; });
    if (!output2 || output2->dataType() != platform::MLMultiArrayDataType::Double || !inRange)
        throw FatalError("ZenfoldAgent: the model's \"output2\" must hold one double per action");

    const double value = (*output1)[0];
    const auto* raw = static_cast<const double*>(output2->dataPointer());
    // A bot never plays on an answer that is not a number: it is a failed prediction.
    const auto& model = zenfoldModel();
    if (!std::isfinite(value))
        throw FatalError("ZenfoldAgent: the model " + model.resourceName() +
                         " answered a value that is not a finite number");
    for (std::int64_t i = 0; i < count; ++i)
        if (!std::isfinite(raw[i]))
            throw FatalError("ZenfoldAgent: the model " + model.resourceName() +
                             " answered a score for action " + std::to_string(i) +
                             " that is not a finite number");
    // The scores become the probabilities in place; the legal cells are marked in a buffer
    // kept from call to call.
    std::vector<double> probabilites(raw, raw + count);
    thread_local std::vector<char> legal;
    legal.assign(probabilites.size(), 0);
    for (const auto a : allowedActions)
        legal[static_cast<std::size_t>(a)] = 1;
    for (std::size_t i = 0; i < probabilites.size(); ++i)
        if (!legal[i]) probabilites[i] = -100.0;

    // Shifting by the largest score leaves the probabilities unchanged and keeps exp finite.
    const double top = *std::max_element(probabilites.begin(), probabilites.end());
    double sum = 0.0;
    // Every masked score is the same, so one exponential serves them all.
    const double masked = std::exp(-100.0 - top);
    for (std::size_t i = 0; i < probabilites.size(); ++i) {
        probabilites[i] = legal[i] ? std::exp(probabilites[i] - top) : masked;
        sum += probabilites[i];
    }
    for (auto& p : probabilites) p /= sum;
    return {value, std::move(probabilites), std::move(allowedActions)};
}

ZenfoldAgent::ActionValues ZenfoldAgent::getActionValues(std::int64_t tau) const {
    const auto& edges = mcts->root->edges;
    // Sized to hold every root action even if a caller shrank actionSize.
    std::int64_t size = std::max<std::int64_t>(0, actionSize);
    for (const auto& edge : edges) size = std::max(size, edge->action + 1);
    std::vector<double> pi(static_cast<std::size_t>(size), 0.0);
    std::vector<double> values(static_cast<std::size_t>(size), 0.0);
    for (const auto& edge : edges) {
        pi[static_cast<std::size_t>(edge->action)] =
            std::pow(edge->stats.N, 1.0 / static_cast<double>(tau));
        values[static_cast<std::size_t>(edge->action)] = edge->stats.Q;
    }
    double sum = 0.0;
    for (double p : pi) sum += p;
    if (sum == 0.0) {
        const double share = 1.0 / static_cast<double>(edges.size());
        for (const auto& edge : edges) pi[static_cast<std::size_t>(edge->action)] = share;
    } else {
        for (double& p : pi) p /= sum;
    }
    return {std::move(pi), std::move(values)};
}

ZenfoldAgent::Choice ZenfoldAgent::chooseAction(const std::vector<double>& pi,
                                                const std::vector<double>& values,
                                                bool stochastic) const {
    std::optional<std::int64_t> chosen =
        stochastic ? argmax(multinomial(pi, 1)) : argmax(pi);
    if (!chosen) {
        if (pi.empty()) throw std::logic_error("ZenfoldAgent: no action to choose from");
        chosen = uniformInt(0, static_cast<std::int64_t>(pi.size()) - 1);
    }
    const auto index = static_cast<std::size_t>(*chosen);
    return {*chosen, index < values.size() ? values[index] : 0.0};
}

} // namespace tarnwick
