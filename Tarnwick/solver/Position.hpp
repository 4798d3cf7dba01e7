#pragma once
// A position as the exact solver sees it: bitboards, one 7-bit column each (the top bit a
// sentinel), the stones of the player to move and every stone.

#include <cstdint>
#include <optional>
#include <string>

namespace tarnwick {
class GameState;
}

namespace tarnwick::solver {

class Position {
  public:
    static constexpr int Width = 7;
    static constexpr int Height = 6;
    static constexpr int Cells = Width * Height;

    // Reads the common notation ("4453": columns 1 to 7 from the empty board). Empty when a
    // character is not a column, a column is full or a move follows a won game.
    static std::optional<Position> fromMoves(const std::string& moves);
    // The library's position. Empty for a board that play cannot reach: a cell other than
    // -1, 0, +1, a piece above a hole, stone counts that do not fit the player to move, or a
    // line already completed.
    static std::optional<Position> fromState(const GameState& state);

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
    bool hasLine(std::uint64_t stones) const;

    std::uint64_t current_ = 0; // the stones of the player to move
    std::uint64_t mask_ = 0;    // every stone
    int moves_ = 0;
};

} // namespace tarnwick::solver
