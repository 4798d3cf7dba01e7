#pragma once
// Board size (per instance) and the process-wide constants of search and play.

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

namespace tarnwick {

class Config {
public:
    Config();
    virtual ~Config() = default;

    const std::int64_t columns = 7;
    const std::int64_t rows = 6;
    virtual std::int64_t size() const { return columns * rows; }

    static constexpr double CPUCT = 1.0;
    static constexpr double EPSILON = 0.2;
    static constexpr double ALPHA = 0.8;
    // Opening turns in which the bot samples its move; every Config() resets it to 0, so the
    // initial 10 is only seen before the first Config exists.
    // Both are process-wide and written by every session: atomic, so that sessions on
    // different threads do not race on them (each read or write is whole).
    static inline std::atomic<std::int64_t> TAU0 = 10;
    static inline std::atomic<std::int64_t> MCTS_SIMS = 50;
    // Console letter of each cell value.
    static const std::map<std::int64_t, std::string>& pieces();
};

} // namespace tarnwick
