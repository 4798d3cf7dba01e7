#include <gtest/gtest.h>

#include "Tarnwick/play/GameSession.hpp"
#include "tests/support/TestModels.hpp"

using namespace tarnwick;
using tarnwick::testing::favourColumn;
using tarnwick::testing::loadBiasModel;

namespace {

std::int64_t botColumn(GameSession& session) {
    const auto played = session.move();
    EXPECT_TRUE(played);
    return played ? played->action % 7 : -1;
}

} // namespace

TEST(SessionModel, TheHostsModelReachesTheBotsOfThisAndLaterMatches) {
    GameSession session;
    EXPECT_FALSE(session.model());
    const auto model = loadBiasModel(favourColumn(0, 30.0f), 0.0f);
    session.setModel(model);
    EXPECT_EQ(session.model(), model);

    session.setBotStarts(true);
    session.setMCTS_SIMS(8);
    EXPECT_EQ(botColumn(session), 0);

    // A new match makes new bots: they get the same model, both of them in self-play.
    session.clear(true, 0, 8);
    EXPECT_EQ(botColumn(session), 0);
    EXPECT_EQ(botColumn(session), 0);
}

TEST(SessionModel, NullReturnsTheBotsToTheShippedModel) {
    GameSession session;
    session.setModel(loadBiasModel(favourColumn(0, 30.0f), 0.0f));
    session.setModel(nullptr);
    EXPECT_FALSE(session.model());
    session.setBotStarts(true);
    session.setMCTS_SIMS(50);
    // The shipped network never opens in the corner column.
    EXPECT_NE(botColumn(session), 0);
}
