// A host that does anything in any order: the new calls mixed with the designed ones, from a
// seed. After every call the session must agree with a replay of the moves it has kept.

#include <random>

#include <gtest/gtest.h>

#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/play/GameSession.hpp"
#include "Tarnwick/search/Random.hpp"
#include "Tarnwick/solver/Position.hpp"
#include "tests/support/TestModels.hpp"

using namespace tarnwick;

namespace {

struct Shadow {
    std::vector<std::int64_t> actions; // the moves the session has not taken back
    std::vector<std::int64_t> movers;  // the currentPlayer each was asked of
};

std::vector<std::int64_t> replay(const std::vector<std::int64_t>& actions) {
    auto state = std::make_shared<GameState>(Shape{6, 7}, 1);
    for (const auto a : actions)
        state = state->take(a).gameState;
    return state->board;
}

void giveModels(GameSession& session, std::mt19937& rng) {
    for (const auto key : {1, -1})
        if (auto bot = std::dynamic_pointer_cast<ZenfoldAgent>(session.players->at(key))) {
            std::vector<float> bias(42);
            for (auto& b : bias)
                b = std::uniform_real_distribution<float>(-2.f, 2.f)(rng);
            bot->setModel(tarnwick::testing::loadBiasModel(bias, 0.1f));
        }
}

} // namespace

TEST(SessionSoak, RandomHostKeepsTheSessionConsistent) {
    std::mt19937 rng(2027);
    seedRandom(2027);
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    GameSession session;
    session.setMCTS_SIMS(3);
    giveModels(session, rng);
    bool selfPlay = false;
    Shadow shadow;
    int moves = 0, undos = 0, hints = 0, finished = 0;

    for (int step = 0; step < 2500; ++step) {
        switch (pick(14)) {
        case 0:
            if (pick(8) == 0) {
                selfPlay = pick(2) == 0;
                session.clear(selfPlay, pick(4), 1 + pick(4));
                giveModels(session, rng);
                if (!selfPlay && pick(2) == 0) session.setBotStarts(true);
                shadow = {};
            }
            break;
        case 1:
            session.setLevel(pick(10)); // 0 and 9 are refused and change nothing
            break;
        case 2: {
            const int kind = pick(3);
            if (kind == 0) session.setMoveBudget(std::nullopt);
            if (kind == 1) session.setMoveBudget(MoveBudget{std::chrono::milliseconds(0), 5});
            if (kind == 2)
                session.setMoveBudget(MoveBudget{std::chrono::hours(1000), 1 + pick(20)});
            break;
        }
        case 3:
            session.setExactPlay(pick(2) == 0,
                                 solver::Limits{static_cast<std::uint64_t>(pick(20000)), {}});
            break;
        case 4: {
            const bool was = session.done;
            const auto before = shadow.actions.size();
            const bool undone = session.undo();
            EXPECT_EQ(undone, before > 0) << step;
            if (undone) {
                ++undos;
                // One move, then more until a user is to move (none when bots play each other).
                std::int64_t mover;
                do {
                    mover = shadow.movers.back();
                    shadow.actions.pop_back();
                    shadow.movers.pop_back();
                } while (!selfPlay && !shadow.movers.empty() && mover != 1);
                EXPECT_EQ(session.game->currentPlayer, mover) << step;
                EXPECT_FALSE(session.done) << step;
                finished += was;
            }
            break;
        }
        case 5: {
            const auto hint = session.hint(HintOptions{1 + pick(8), solver::Limits{5000, {}}});
            EXPECT_EQ(hint.has_value(), !session.done) << step;
            if (!hint) break;
            ++hints;
            EXPECT_EQ(hint->columns.size(), session.game->gameState->allowedActions().size());
            double shares = 0;
            for (const auto& c : hint->columns)
                shares += c.visitShare;
            EXPECT_NEAR(shares, 1.0, 1e-9);
            if (hint->exact && hint->columns.size() > 1) {
                const auto& a = hint->columns[0].verdict;
                const auto& b = hint->columns[1].verdict;
                ASSERT_TRUE(a && b);
                EXPECT_GE(static_cast<int>(b->result), static_cast<int>(a->result)) << step;
            }
            break;
        }
        case 6:
            session.setMCTS_SIMS(pick(5) - 1); // 0 and -1 still run one simulation
            break;
        default: {
            // Most of the time: what a host does to play.
            if (!selfPlay && !session.done && session.game->currentPlayer == 1)
                session.userPlay(pick(9) - 1); // -1 and 7 are refused
            const auto mover = session.game->currentPlayer;
            const auto played = session.move();
            if (played) {
                ++moves;
                shadow.actions.push_back(played->action);
                shadow.movers.push_back(mover);
                EXPECT_EQ(played->index, session.turnCount);
                EXPECT_GE(session.lastSimulations(), 0);
            }
            break;
        }
        }
        // Invariants after every call.
        const auto& state = *session.game->gameState;
        ASSERT_EQ(state.board, replay(shadow.actions)) << "step " << step;
        EXPECT_EQ(session.done, state.isEndGame()) << step;
        EXPECT_EQ(session.outcome().has_value(), session.done) << step;
        EXPECT_TRUE(session.game->currentPlayer == 1 || session.game->currentPlayer == -1);
        if (!state.isEndGame()) {
            EXPECT_TRUE(solver::Position::fromState(state)) << step;
        }
        if (session.done) {
            EXPECT_FALSE(session.move()) << step;
        }
    }
    // The soak reached every corner it is meant to.
    EXPECT_GT(moves, 300);
    EXPECT_GT(undos, 50);
    EXPECT_GT(hints, 50);
    EXPECT_GT(finished, 0) << "undo after the end";
}
