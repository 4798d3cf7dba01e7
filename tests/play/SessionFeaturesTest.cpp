// Levels, time budget, exact play, undo and hints on the session, beside the designed members.

#include <gtest/gtest.h>

#include "Tarnwick/agents/UserAgent.hpp"
#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/play/GameSession.hpp"
#include "Tarnwick/rules/Notation.hpp"
#include "Tarnwick/search/Random.hpp"
#include "tests/support/TestModels.hpp"

using namespace tarnwick;
using tarnwick::testing::favourColumn;
using tarnwick::testing::loadBiasModel;

namespace {

std::shared_ptr<ZenfoldAgent> botOf(GameSession& session, std::int64_t key) {
    return std::dynamic_pointer_cast<ZenfoldAgent>(session.players->at(key));
}

void giveBotColumn(GameSession& session, int column, std::int64_t key = -1) {
    botOf(session, key)->setModel(loadBiasModel(favourColumn(column, 30.0f), 0.0f));
}

void userMoves(GameSession& session, std::int64_t column) {
    ASSERT_TRUE(session.userPlay(column)) << column;
    ASSERT_TRUE(session.move());
}


std::vector<std::int64_t> boardAfter(const std::string& moves) {
    return parseMoves(moves).state->board;
}

} // namespace

TEST(SessionLevels, NamedOneToEightWithTheDesignedBotAtEight) {
    GameSession session;
    EXPECT_EQ(session.level(), FullStrength);
    EXPECT_FALSE(session.setLevel(0));
    EXPECT_FALSE(session.setLevel(9));
    EXPECT_EQ(session.level(), FullStrength);
    for (std::int64_t n = LowestLevel; n <= FullStrength; ++n) {
        ASSERT_TRUE(levelNamed(n)) << n;
        EXPECT_EQ(levelNamed(n)->takesWins, n > LowestLevel) << n;
    }

    // Level 8 set explicitly plays exactly the moves of a session that never heard of levels.
    auto play = [](bool explicitLevel) {
        seedRandom(77);
        GameSession session;
        session.clear(false, 4, 6);
        if (explicitLevel) session.setLevel(8);
        std::vector<std::int64_t> actions;
        for (int column : {3, 2, 4, 1, 5}) {
            if (!session.userPlay(column) || !session.move()) break;
            const auto reply = session.move();
            if (!reply) break;
            actions.push_back(reply->action);
            EXPECT_EQ(session.lastSimulations(), 6);
        }
        return actions;
    };
    const auto designed = play(false);
    EXPECT_EQ(play(true), designed);
    EXPECT_FALSE(designed.empty());
}

// Full strength is the designed bot, left to its own search; the network is what finds wins there.
TEST(SessionLevels, EveryWeakerLevelAboveTheLowestTakesAWinInOne) {
    for (std::int64_t level = 2; level < FullStrength; ++level) {
        seedRandom(static_cast<std::uint64_t>(level));
        GameSession session;
        session.setBotStarts(true);
        giveBotColumn(session, 0); // the network wants column 1 whatever happens
        session.setMCTS_SIMS(3);
        ASSERT_TRUE(session.setLevel(level));
        // The bot's three pieces in column 4 (it is the first player), the user's elsewhere.
        auto& board = session.game->gameState->board;
        for (int row : {5, 4, 3})
            board[static_cast<std::size_t>(row * 7 + 3)] = 1;
        for (int cell : {35, 36, 41})
            board[static_cast<std::size_t>(cell)] = -1;
        const auto played = session.move();
        ASSERT_TRUE(played) << level;
        EXPECT_EQ(played->action, 2 * 7 + 3) << "level " << level;
        EXPECT_TRUE(session.done) << level;
    }
}

TEST(SessionLevels, WeakLevelsDrawFromTheirOwnSearchAndKeepTheBotsCount) {
    seedRandom(5);
    GameSession session;
    session.setBotStarts(true);
    giveBotColumn(session, 5);
    ASSERT_TRUE(session.setLevel(3));
    ASSERT_TRUE(session.move());
    // Column 6 holds nearly all the prior; the level's temperature below 1 sharpens it further.
    EXPECT_EQ(session.game->gameState->board[40], 1);
    EXPECT_EQ(session.lastSimulations(), 1);
    EXPECT_EQ(botOf(session, -1)->mctsSimulations, 50) << "the level's count is lent, not kept";
    ASSERT_TRUE(session.setLevel(5));
    userMoves(session, 0);
    ASSERT_TRUE(session.move());
    EXPECT_EQ(session.lastSimulations(), levelNamed(5)->simulations);
}

TEST(SessionBudget, RunsUntilSpentAtLeastOnceAndReportsTheCount) {
    seedRandom(9);
    GameSession session;
    giveBotColumn(session, 2);
    session.setMoveBudget(MoveBudget{std::chrono::milliseconds(0), 1000});
    userMoves(session, 3);
    ASSERT_TRUE(session.move());
    EXPECT_EQ(session.lastSimulations(), 1);

    // A huge budget stops at the simulation cap that bounds the tree.
    session.setMoveBudget(MoveBudget{std::chrono::hours(24), 300});
    userMoves(session, 3);
    ASSERT_TRUE(session.move());
    EXPECT_EQ(session.lastSimulations(), 300);
    EXPECT_EQ(botOf(session, -1)->mctsSimulations, 50);

    session.setMoveBudget(MoveBudget{std::chrono::milliseconds(-5), 0});
    ASSERT_TRUE(session.moveBudget());
    EXPECT_EQ(session.moveBudget()->time.count(), 0);
    userMoves(session, 3);
    ASSERT_TRUE(session.move());
    EXPECT_EQ(session.lastSimulations(), 1);

    session.setMoveBudget(std::nullopt);
    userMoves(session, 0);
    ASSERT_TRUE(session.move());
    EXPECT_EQ(session.lastSimulations(), 50);
}

TEST(SessionExact, PlaysTheSolversMoveWhereItSettles) {
    seedRandom(3);
    GameSession session;
    giveBotColumn(session, 6); // column 7 loses here; only column 3 wins
    session.setMCTS_SIMS(4);
    session.setBotStarts(true);
    session.game->gameState = parseMoves("6522455545435634").state;
    ASSERT_EQ(session.game->gameState->playerTurn, 1);

    session.setExactPlay(true, solver::Limits{1'000'000, {}});
    EXPECT_TRUE(session.exactPlay());
    const auto played = session.move();
    ASSERT_TRUE(played);
    EXPECT_EQ(played->action % 7, 2);
    EXPECT_EQ(session.lastSimulations(), 0);

    // Past its cap the solver has no answer and the search plays, as designed.
    GameSession capped;
    giveBotColumn(capped, 6);
    capped.setMCTS_SIMS(4);
    capped.setExactPlay(true, solver::Limits{10, {}});
    userMoves(capped, 3);
    ASSERT_TRUE(capped.move());
    EXPECT_EQ(capped.lastSimulations(), 4);
}

TEST(SessionUndo, TakesBackTheUsersMoveAndTheBotsReply) {
    seedRandom(21);
    GameSession session;
    giveBotColumn(session, 6);
    session.setMCTS_SIMS(4);
    EXPECT_FALSE(session.undo()) << "nothing played yet";
    userMoves(session, 3);
    ASSERT_TRUE(session.move()); // the bot answers in column 7
    userMoves(session, 2);
    ASSERT_TRUE(session.move());
    EXPECT_EQ(session.game->gameState->board, boardAfter("4737"));
    const auto tree = botOf(session, -1)->mcts;

    ASSERT_TRUE(session.undo());
    EXPECT_EQ(session.game->gameState->board, boardAfter("47"));
    EXPECT_EQ(session.turnCount, 2);
    EXPECT_EQ(session.game->currentPlayer, 1);
    EXPECT_EQ(session.game->gameState->playerTurn, 1);
    EXPECT_EQ(botOf(session, -1)->mcts, tree) << "the tree is left for the bot to re-root";

    // Only the user's move pending a reply: that one move goes.
    userMoves(session, 0);
    ASSERT_TRUE(session.undo());
    EXPECT_EQ(session.game->gameState->board, boardAfter("47"));
    ASSERT_TRUE(session.undo());
    EXPECT_EQ(session.game->gameState->board, boardAfter(""));
    EXPECT_EQ(session.turnCount, 0);
    EXPECT_FALSE(session.undo());

    // Play on after taking back: the bot searches the earlier position again.
    userMoves(session, 3);
    ASSERT_TRUE(session.move());
    EXPECT_EQ(session.game->gameState->board, boardAfter("47"));
}

TEST(SessionUndo, AfterTheEndTheMatchIsOpenAgain) {
    seedRandom(4);
    GameSession session;
    giveBotColumn(session, 6);
    session.setMCTS_SIMS(12); // enough for the prior to lead the visits
    // The user fills column 1 from the bottom while the bot stacks column 7: the user wins.
    for (int i = 0; i < 4 && !session.done; ++i) {
        userMoves(session, 0);
        if (!session.done) {
            ASSERT_TRUE(session.move());
        }
    }
    ASSERT_TRUE(session.done);
    ASSERT_TRUE(session.outcome());
    EXPECT_EQ(session.outcome()->message, "User wins!");
    EXPECT_FALSE(session.move()) << "a finished match has no next move";
    const auto turns = session.turnCount;

    ASSERT_TRUE(session.undo());
    EXPECT_FALSE(session.done);
    EXPECT_FALSE(session.outcome());
    EXPECT_EQ(session.value, 0);
    EXPECT_EQ(session.turnCount, 6) << "back to just before the winning move, not " << turns;
    EXPECT_EQ(session.game->gameState->board, boardAfter("171717"));
    userMoves(session, 1);
    EXPECT_FALSE(session.done);
}

TEST(SessionUndo, OneMoveWhenBotsPlayEachOtherAndNothingAfterClear) {
    seedRandom(8);
    GameSession session;
    session.clear(true, 0, 2);
    giveBotColumn(session, 1, 1);
    giveBotColumn(session, 5, -1);
    ASSERT_TRUE(session.move());
    ASSERT_TRUE(session.move());
    ASSERT_TRUE(session.undo());
    EXPECT_EQ(session.game->gameState->board, boardAfter("2"));
    EXPECT_EQ(session.game->currentPlayer, -1);
    ASSERT_TRUE(session.undo());
    EXPECT_EQ(session.game->gameState->board, boardAfter(""));
    EXPECT_FALSE(session.undo());

    ASSERT_TRUE(session.move());
    session.clear(true, 0, 2);
    EXPECT_FALSE(session.undo()) << "the moves of the old match are gone with it";

    // The bot opened for the user: taking it back leaves the bot to move at the start.
    GameSession botFirst;
    giveBotColumn(botFirst, 3);
    botFirst.setMCTS_SIMS(2);
    botFirst.setBotStarts(true);
    ASSERT_TRUE(botFirst.move());
    ASSERT_TRUE(botFirst.undo());
    EXPECT_EQ(botFirst.game->currentPlayer, -1);
    EXPECT_EQ(botFirst.game->gameState->board, boardAfter(""));
}

TEST(SessionHint, RanksEveryColumnAndLeavesTheBotAlone) {
    seedRandom(12);
    GameSession session;
    giveBotColumn(session, 6);
    session.setMCTS_SIMS(3);
    // The user has 1 2 3 on the bottom row; column 4 wins at once.
    for (int column : {0, 1, 2}) {
        userMoves(session, column);
        ASSERT_TRUE(session.move());
    }
    const auto tree = botOf(session, -1)->mcts;
    const auto treeSize = tree->tree.size();
    const auto hint = session.hint(HintOptions{30, solver::Limits{1'000'000, {}}});
    ASSERT_TRUE(hint);
    EXPECT_EQ(hint->player, 1);
    EXPECT_EQ(hint->simulations, 30);
    EXPECT_EQ(hint->columns.size(), 7u);
    // The win in one settles at once and goes first, whatever the network thinks of it.
    EXPECT_EQ(hint->columns.front().column, 3);
    ASSERT_TRUE(hint->columns.front().verdict);
    EXPECT_EQ(hint->columns.front().verdict->result, Verdict::Result::win);
    EXPECT_EQ(hint->columns.front().verdict->moves, 1);
    double shares = 0;
    for (const auto& c : hint->columns) {
        shares += c.visitShare;
        EXPECT_EQ(c.action % 7, c.column);
        if (c.winChance) {
            EXPECT_GE(*c.winChance, 0.0);
            EXPECT_LE(*c.winChance, 1.0);
        }
    }
    EXPECT_NEAR(shares, 1.0, 1e-9);
    EXPECT_EQ(botOf(session, -1)->mcts, tree);
    EXPECT_EQ(tree->tree.size(), treeSize);
    EXPECT_EQ(botOf(session, -1)->mctsSimulations, 3);

    userMoves(session, 3);
    ASSERT_TRUE(session.done);
    EXPECT_FALSE(session.hint()) << "nothing to advise in a finished match";
}

TEST(SessionHint, VerdictCountsTheMovesOfTheOneWhoWinsOrLoses) {
    // 112233: the first player wins with its 4th stone, its first move from here.
    EXPECT_EQ(verdictOf(18, 6).result, Verdict::Result::win);
    EXPECT_EQ(verdictOf(18, 6).moves, 1);
    // 11223: the second player, 5 stones down, loses to the first player's next stone.
    EXPECT_EQ(verdictOf(-18, 5).result, Verdict::Result::loss);
    EXPECT_EQ(verdictOf(-18, 5).moves, 1);
    // From the empty board the first player wins with its 21st stone: its 21st move.
    EXPECT_EQ(verdictOf(1, 0).moves, 21);
    EXPECT_EQ(verdictOf(0, 12).result, Verdict::Result::draw);
}
