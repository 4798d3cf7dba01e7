#include <gtest/gtest.h>

#include "tests/play/SessionSoak.hpp"

// A few hundred random host sequences on every run; tools: session_soak for thousands.
TEST(Soak, RandomHostSequencesKeepEveryInvariant) {
    const auto report = tarnwick::testing::soakSessions(300, 20261210);
    EXPECT_EQ(report.sequences, 300);
    EXPECT_GT(report.moves, 5000) << "the sequences play real games";
    EXPECT_GT(report.wins, 100);
    EXPECT_GT(report.undos, 1000) << "undo at every point";
    EXPECT_GT(report.undosAfterTheEnd, 20);
    EXPECT_GT(report.hints, 500);
    for (const auto& failure : report.failures)
        ADD_FAILURE() << failure;
}
