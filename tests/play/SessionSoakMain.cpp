// session_soak [sequences] [seed]: the random-host soak of GameSession at any length, for runs
// under the sanitizers. Prints the totals and every broken invariant; status 1 if any.

#include <cstdlib>
#include <iostream>
#include <string>

#include "tests/play/SessionSoak.hpp"

int main(int argc, char** argv) {
    const std::int64_t sequences = argc > 1 ? std::stoll(argv[1]) : 10000;
    const std::uint64_t seed = argc > 2 ? std::stoull(argv[2]) : 1;
    const auto report = tarnwick::testing::soakSessions(sequences, seed);
    for (const auto& failure : report.failures)
        std::cout << failure << "\n";
    std::cout << "sequences " << report.sequences << "  calls " << report.calls << "  moves "
              << report.moves << "  wins " << report.wins << "  draws " << report.draws << "  undos " << report.undos << "  hints " << report.hints
              << "  broken " << report.failures.size() << "\n";
    return report.failures.empty() ? 0 : 1;
}
