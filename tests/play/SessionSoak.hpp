#pragma once
// Random host-call sequences through GameSession, as a host written carelessly would make
// them (the designed calls mixed with levels, budgets, exact play, undo and hints), with the session's invariants checked after every call. Shared by the play tests (a
// few hundred sequences) and the session_soak command (as many as asked for).

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::testing {

struct SoakReport {
    std::int64_t sequences = 0;
    std::int64_t calls = 0;
    std::int64_t moves = 0;
    std::int64_t wins = 0;
    std::int64_t draws = 0;
    std::int64_t undos = 0;
    std::int64_t undosAfterTheEnd = 0;
    std::int64_t hints = 0;
    // One line per broken invariant, naming the sequence and the call; empty when all held.
    std::vector<std::string> failures;
};

SoakReport soakSessions(std::int64_t sequences, std::uint64_t seed);

} // namespace tarnwick::testing
