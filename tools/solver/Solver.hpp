#pragma once
// A perfect player for 7 x 6 four-in-a-row, used to judge and to teach the bot; not part of
// the library. Bitboards (one 7-bit column each, the top bit a sentinel), negamax with
// alpha-beta, a transposition table and an iterative null-window search.
//
// Scores follow the usual convention: 0 is a draw; a win with the mover's k-th stone scores
// 22 - k, a loss the negative. So a quicker win scores higher and a later loss less badly.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::solver {

class Position {
public:
    static constexpr int Width = 7;
    static constexpr int Height = 6;
    static constexpr int Cells = Width * Height;

    // Reads the common notation ("4453": columns 1 to 7 from the empty board). Empty when a
    // character is not a column, a column is full or a move follows a won game.
    static std::optional<Position> fromMoves(const std::string& moves);

    bool canPlay(int column) const;
    bool isWinningMove(int column) const;
    void play(int column);
    int moves() const { return moves_; }
    std::uint64_t key() const { return current_ + mask_; }

    // Where the player to move / the opponent would complete four on an empty cell.
    std::uint64_t winningCells() const { return winningCells(current_, mask_); }
    std::uint64_t opponentWinningCells() const { return winningCells(current_ ^ mask_, mask_); }
    std::uint64_t playableCells() const;
    bool canWinNext() const { return (winningCells() & playableCells()) != 0; }
    // Playable cells that do not hand the opponent an immediate win (0: every move loses).
    std::uint64_t nonLosingMoves() const;
    int moveScore(std::uint64_t move) const;
    void playCell(std::uint64_t move);

    static std::uint64_t columnMask(int column);

private:
    static std::uint64_t winningCells(std::uint64_t stones, std::uint64_t mask);

    std::uint64_t current_ = 0; // the stones of the player to move
    std::uint64_t mask_ = 0;    // every stone
    int moves_ = 0;
};

class Solver {
public:
    static constexpr int MinScore = -Position::Cells / 2 + 3;
    static constexpr int MaxScore = (Position::Cells + 1) / 2 - 3;

    // tableEntries: transposition table size (about 9 bytes each).
    explicit Solver(std::size_t tableEntries = 8388593);

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

    std::uint64_t nodes() const { return nodes_; }
    void clear();

private:
    int negamax(const Position& position, int alpha, int beta);
    std::uint8_t lookup(std::uint64_t key) const;
    void store(std::uint64_t key, std::uint8_t value);

    std::vector<std::uint64_t> keys_;
    std::vector<std::uint8_t> values_;
    std::uint64_t nodes_ = 0;
};

} // namespace tarnwick::solver
