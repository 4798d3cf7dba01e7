#pragma once
// The exact solver of 7 x 6 four-in-a-row: negamax with alpha-beta, a transposition table and
// an iterative null-window search. The referee and the training labels use it unbounded with
// a large table; hints and exact play use it with a phone-sized table and a cap on the work,
// after which the answer is simply absent.
//
// Scores follow the usual convention: 0 is a draw; a win with the mover's k-th stone scores
// 22 - k, a loss the negative. So a quicker win scores higher and a later loss less badly.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "Tarnwick/solver/Position.hpp"

namespace tarnwick::solver {

// How much one capped call may spend. Zero nodes or a zero time means no cap of that kind.
struct Limits {
    std::uint64_t nodes = 0;
    std::chrono::milliseconds time{0};
};

class Solver {
  public:
    static constexpr int MinScore = -Position::Cells / 2 + 3;
    static constexpr int MaxScore = (Position::Cells + 1) / 2 - 3;
    // About 4.7 MB (9 bytes an entry); a prime, so keys spread over the whole table.
    static constexpr std::size_t PhoneTableEntries = 524287;
    // About 75 MB, for the tools that solve early positions.
    static constexpr std::size_t LargeTableEntries = 8388593;

    explicit Solver(std::size_t tableEntries = PhoneTableEntries);

    // The exact score of the position for the player to move. The position must not be won.
    int solve(const Position& position);
    // The score of each column for the player to move; empty for a full column.
    std::array<std::optional<int>, Position::Width> scoreMoves(const Position& position);

    // The position's score and every column that reaches it. Much cheaper than scoreMoves
    // early in the game: the other columns are refuted by one null-window probe each.
    struct Best {
        int score = 0;
        std::vector<int> columns;
    };
    Best bestMoves(const Position& position);

    // The same within `limits`: empty when the cap is reached first. scoreMoves leaves out
    // the columns it could not settle. What the table learnt stays sound for later calls.
    std::optional<int> solve(const Position& position, const Limits& limits);
    std::array<std::optional<int>, Position::Width> scoreMoves(const Position& position,
                                                               const Limits& limits);
    std::optional<Best> bestMoves(const Position& position, const Limits& limits);

    std::uint64_t nodes() const { return nodes_; }
    std::size_t tableEntries() const { return keys_.size(); }
    void clear();

  private:
    struct OutOfBudget {};
    class Cap;

    int negamax(const Position& position, int alpha, int beta);
    int search(const Position& position);
    std::optional<int> scoreColumn(const Position& position, int column);
    std::uint8_t lookup(std::uint64_t key) const;
    void store(std::uint64_t key, std::uint8_t value);

    std::vector<std::uint64_t> keys_;
    std::vector<std::uint8_t> values_;
    std::uint64_t nodes_ = 0;
    // Set while a capped call runs: negamax throws OutOfBudget past either.
    std::uint64_t stopAtNode_ = 0;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
};

} // namespace tarnwick::solver
