#include <gtest/gtest.h>

#include <limits>
#include <regex>

#include "Tarnwick/agents/UserAgent.hpp"
#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/play/GameSession.hpp"
#include "Tarnwick/rules/Errors.hpp"
#include "Tarnwick/search/Random.hpp"
#include "tests/support/TestModels.hpp"

using namespace tarnwick;
using tarnwick::testing::favourColumn;
using tarnwick::testing::loadBiasModel;

namespace {

std::shared_ptr<ZenfoldAgent> botOf(GameSession& session, std::int64_t key) {
    return std::dynamic_pointer_cast<ZenfoldAgent>(session.players->at(key));
}

// A bot that always plays in `column` while it can.
void giveBotColumn(GameSession& session, int column) {
    botOf(session, -1)->setModel(loadBiasModel(favourColumn(column, 30.0f), 0.0f));
    session.setMCTS_SIMS(12);
}

void userMoves(GameSession& session, std::int64_t column) {
    ASSERT_TRUE(session.userPlay(column)) << column;
    ASSERT_TRUE(session.move());
}

} // namespace

TEST(Session, NewSessionHoldsAUserAgainstBotMatch) {
    GameSession session;
    EXPECT_FALSE(session.done);
    EXPECT_EQ(session.turnCount, 0);
    EXPECT_EQ(session.value, 0);
    EXPECT_FALSE(session.botStarts());
    EXPECT_EQ(session.boardLayout().rows, 6);
    EXPECT_EQ(session.boardLayout().columns, 7);
    EXPECT_EQ(session.TAU0(), 0);
    EXPECT_EQ(session.MCTS_SIMS(), 50);
    EXPECT_EQ(session.players->at(1)->name, "User");
    ASSERT_TRUE(std::dynamic_pointer_cast<UserAgent>(session.players->at(1)));
    EXPECT_EQ(session.players->at(-1)->name, "Tavrick");
    EXPECT_EQ(botOf(session, -1)->mctsSimulations, 50);
    EXPECT_EQ(session.game->currentPlayer, 1);
}

TEST(Session, FirstUserMoveAndTheBotsReply) {
    GameSession session;
    giveBotColumn(session, 0);
    EXPECT_TRUE(session.userPlay(3));
    EXPECT_EQ(std::dynamic_pointer_cast<UserAgent>(session.players->at(1))->action, 38);
    const auto first = session.move();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->action, 38);
    EXPECT_EQ(first->color, Color::yellow);
    EXPECT_EQ(first->index, 1);
    EXPECT_EQ(session.turnCount, 1);
    EXPECT_FALSE(session.done);
    EXPECT_EQ(session.game->currentPlayer, -1);

    EXPECT_FALSE(session.userPlay(3)) << "not the user's turn";
    const auto reply = session.move();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->action, 35);
    EXPECT_EQ(reply->color, Color::red);
    EXPECT_EQ(reply->index, 2);
}

TEST(Session, RefusedColumns) {
    GameSession session;
    EXPECT_FALSE(session.userPlay(7));
    EXPECT_FALSE(session.userPlay(-1));
    for (std::size_t row = 0; row < 6; ++row) session.game->gameState->board[row * 7 + 2] = 1;
    EXPECT_FALSE(session.userPlay(2));
    EXPECT_EQ(std::dynamic_pointer_cast<UserAgent>(session.players->at(1))->action, 0);
}

TEST(Session, BotStartsBeforeAndAfterClear) {
    GameSession session;
    session.setBotStarts(true);
    EXPECT_EQ(session.game->currentPlayer, -1);
    EXPECT_EQ(session.game->gameState->playerTurn, 1);
    session.setBotStarts(false);
    EXPECT_EQ(session.game->currentPlayer, 1);
    session.setBotStarts(true);
    session.clear();
    EXPECT_FALSE(session.botStarts());
    EXPECT_EQ(session.game->currentPlayer, 1);

    session.setBotStarts(true);
    giveBotColumn(session, 6);
    EXPECT_FALSE(session.userPlay(0));
    const auto first = session.move();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->color, Color::red);
    EXPECT_EQ(first->index, 1);
    EXPECT_EQ(first->action, 41);
    EXPECT_TRUE(session.userPlay(0));
}

// Both seats are scripted, so nothing depends on what a search finds.
TEST(Session, UserWinsWithAndWithoutBotStarts) {
    for (bool botStarts : {false, true}) {
        GameSession session;
        (*session.players)[-1] = std::make_shared<UserAgent>("Tavrick", 84, 42);
        session.setBotStarts(botStarts);
        auto botMoves = [&](std::int64_t column) { userMoves(session, column); };
        if (botStarts) botMoves(6);
        EXPECT_FALSE(session.outcome());
        for (int column : {0, 1, 2}) {
            userMoves(session, column);
            botMoves(column < 1 ? 6 : 5);
        }
        EXPECT_EQ(session.winningActions(), std::vector<std::int64_t>{});
        userMoves(session, 3);
        EXPECT_TRUE(session.done);
        EXPECT_EQ(session.value, -1);
        const auto outcome = session.outcome();
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->message, "User wins!") << botStarts;
        EXPECT_EQ(outcome->winningPieces, (std::vector<std::int64_t>{35, 36, 37, 38}));
        EXPECT_FALSE(session.move()) << "nothing is played after the end";
        EXPECT_EQ(session.game->gameState->winningActions().size(), 4u);
    }
}

// The winner is whoever moved last, whatever the host writes to botStarts in between: a write
// that leaves the turn where it was, or any write after the end.
TEST(Session, OutcomeNamesTheLastMoverWhateverBotStartsSays) {
    for (bool late : {false, true}) {
        GameSession session;
        (*session.players)[-1] = std::make_shared<UserAgent>("Tavrick", 84, 42);
        userMoves(session, 0);
        if (!late) session.setBotStarts(true); // the bot is to move already: no turn changes
        EXPECT_EQ(session.game->currentPlayer, -1);
        for (int column : {1, 2}) {
            userMoves(session, 6);
            userMoves(session, column);
        }
        userMoves(session, 6);
        userMoves(session, 3);
        ASSERT_TRUE(session.done);
        for (bool flag : {false, true, false}) {
            if (late) session.setBotStarts(flag);
            ASSERT_TRUE(session.outcome());
            EXPECT_EQ(session.outcome()->message, "User wins!") << late << flag;
        }
    }
}

// Hosts may write any value into the public counters; none of them leads to undefined
// behaviour, and each is refused as documented.
TEST(Session, ExtremeHandWrittenValuesAreRefused) {
    constexpr auto lowest = std::numeric_limits<std::int64_t>::min();
    constexpr auto highest = std::numeric_limits<std::int64_t>::max();
    GameSession session;
    giveBotColumn(session, 6);
    session.turnCount = highest;
    ASSERT_TRUE(session.userPlay(0));
    EXPECT_FALSE(session.move()) << "no next move number";
    EXPECT_EQ(session.turnCount, highest);

    session.clear();
    session.game->currentPlayer = lowest;
    EXPECT_FALSE(session.userPlay(0));
    EXPECT_FALSE(session.move());
    session.game->currentPlayer = 1;
    session.game->gameState->playerTurn = lowest;
    ASSERT_TRUE(session.userPlay(0));
    EXPECT_FALSE(session.move()) << "a turn with no opposite is not stepped";
    EXPECT_EQ(session.game->gameState->board, std::vector<std::int64_t>(42, 0));

    for (const auto value : {lowest, highest, std::int64_t{1}, std::int64_t{-1}}) {
        session.done = true;
        session.value = value;
        const auto outcome = session.outcome();
        ASSERT_TRUE(outcome);
        EXPECT_FALSE(outcome->message.empty());
    }

    session.config = nullptr;
    EXPECT_THROW(session.boardLayout(), FatalError);
    EXPECT_TRUE(session.game);
    session.game->config = nullptr;
    EXPECT_EQ(session.game->reset(), nullptr);
    session.game->currentPlayer = lowest;
    EXPECT_THROW(session.game->step(38), FatalError);
}

TEST(Session, BotWins) {
    for (bool botStarts : {false, true}) {
        GameSession session;
        giveBotColumn(session, 6);
        session.setBotStarts(botStarts);
        if (botStarts) {
            ASSERT_TRUE(session.move());
        }
        // The user stacks column 0 while the bot fills column 6.
        while (!session.done) {
            userMoves(session, 0);
            if (!session.done) {
                ASSERT_TRUE(session.move());
            }
        }
        const auto outcome = session.outcome();
        ASSERT_TRUE(outcome);
        ASSERT_EQ(outcome->winningPieces.size(), 4u);
        // Root noise may let the bot block column 0 when the user starts; the message must
        // name whoever made the line.
        const bool botLine = outcome->winningPieces.front() % 7 == 6;
        if (botStarts) {
            EXPECT_TRUE(botLine) << "the first to stack a column wins it";
        }
        EXPECT_EQ(outcome->message, botLine ? "Tavrick wins!" : "User wins!") << botStarts;
    }
}

TEST(Session, FullBoardDrawNamesTheBotFirst) {
    // Columns played in an order that fills the board without a line for either side.
    const std::string order = "656173566152215676422337377473141445425321";
    for (bool botStarts : {false, true}) {
        GameSession session;
        // Both seats replay the scripted columns: the bot's seat is taken by a user too.
        (*session.players)[-1] = std::make_shared<UserAgent>("Tavrick", 84, 42);
        session.setBotStarts(botStarts);
        for (char c : order) {
            ASSERT_TRUE(session.userPlay(c - '1'));
            ASSERT_TRUE(session.move());
        }
        ASSERT_TRUE(session.done);
        EXPECT_EQ(session.value, 0);
        const auto outcome = session.outcome();
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->message, "Tavrick & User draw!") << botStarts;
        EXPECT_TRUE(outcome->winningPieces.empty());
    }
}

TEST(Session, MoveWithoutAnAcceptedUserPlayPlaysNothingIllegal) {
    GameSession session;
    giveBotColumn(session, 6);
    userMoves(session, 0);
    ASSERT_TRUE(session.move());
    // The stored cell 35 is taken now: the read counts but plays nothing.
    const auto board = session.game->gameState->board;
    EXPECT_FALSE(session.move());
    EXPECT_EQ(session.turnCount, 3);
    EXPECT_EQ(session.game->gameState->board, board);
}

TEST(Session, ClearSetsStaticsAndSelfPlayNames) {
    GameSession session;
    session.clear(false, 3, 10);
    EXPECT_EQ(session.TAU0(), 3);
    EXPECT_EQ(Config::TAU0, 3);
    EXPECT_EQ(session.MCTS_SIMS(), 10);
    EXPECT_EQ(botOf(session, -1)->mctsSimulations, 10);
    session.setMCTS_SIMS(7);
    EXPECT_EQ(botOf(session, -1)->mctsSimulations, 7);

    seedRandom(4);
    const std::regex first(R"(SP \((\d+)\) vs NSP \((\d+)\))");
    for (auto [mcts, low, high] : {std::tuple{50, 51, 70}, {295, 296, 300}, {-30, 1, 1}}) {
        session.clear(true, 0, mcts);
        const auto p1 = botOf(session, 1);
        const auto p2 = botOf(session, -1);
        ASSERT_TRUE(p1 && p2);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(p1->name, m, first)) << p1->name;
        const auto a = std::stoll(m[1]);
        const auto b = std::stoll(m[2]);
        EXPECT_EQ(p2->name, "NSP (" + std::to_string(b) + ") vs SP (" + std::to_string(a) + ")");
        EXPECT_EQ(p1->mctsSimulations, a);
        EXPECT_EQ(p2->mctsSimulations, b);
        EXPECT_GE(std::min(a, b), low);
        EXPECT_LE(std::max(a, b), high);
        EXPECT_FALSE(session.userPlay(3));
    }
    session.setMCTS_SIMS(7);
    EXPECT_EQ(botOf(session, 1)->mctsSimulations, 7);
    EXPECT_EQ(botOf(session, -1)->mctsSimulations, 7);
}

TEST(Session, ClearDuringAMatchResetsIt) {
    GameSession session;
    giveBotColumn(session, 6);
    userMoves(session, 0);
    session.clear();
    EXPECT_EQ(session.turnCount, 0);
    EXPECT_FALSE(session.done);
    EXPECT_EQ(session.game->gameState->board, std::vector<std::int64_t>(42, 0));
    EXPECT_EQ(session.outcome(), std::nullopt);
    EXPECT_EQ(session.winningActions(), std::vector<std::int64_t>{});
}
