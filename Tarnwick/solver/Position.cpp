#include "Tarnwick/solver/Position.hpp"

#include <bit>

#include "Tarnwick/rules/GameState.hpp"

namespace tarnwick::solver {
namespace {

constexpr int W = Position::Width;
constexpr int H = Position::Height;
constexpr int H1 = H + 1;

constexpr std::uint64_t bottomMask() {
    std::uint64_t mask = 0;
    for (int c = 0; c < W; ++c)
        mask |= std::uint64_t{1} << (c * H1);
    return mask;
}
constexpr std::uint64_t Bottom = bottomMask();
constexpr std::uint64_t Board = Bottom * ((std::uint64_t{1} << H) - 1);

std::uint64_t topCell(int column) {
    return std::uint64_t{1} << (H - 1 + column * H1);
}
std::uint64_t bottomCell(int column) {
    return std::uint64_t{1} << (column * H1);
}

} // namespace

std::uint64_t Position::columnMask(int column) {
    return ((std::uint64_t{1} << H) - 1) << (column * H1);
}

std::optional<Position> Position::fromMoves(const std::string& moves) {
    Position position;
    for (const char ch : moves) {
        const int column = ch - '1';
        if (column < 0 || column >= W || !position.canPlay(column) ||
            position.isWinningMove(column))
            return std::nullopt;
        position.play(column);
    }
    return position;
}

std::optional<Position> Position::fromState(const GameState& state) {
    if (state.board.size() != static_cast<std::size_t>(Cells) || state.shape.rows != H ||
        state.shape.columns != W || (state.playerTurn != 1 && state.playerTurn != -1))
        return std::nullopt;
    std::uint64_t mover = 0, other = 0;
    int moverCount = 0, otherCount = 0;
    for (int column = 0; column < W; ++column) {
        bool hole = false;
        // Bottom row first: bit 0 of a column is row 5 of the board.
        for (int height = 0; height < H; ++height) {
            const auto v = state.board[static_cast<std::size_t>((H - 1 - height) * W + column)];
            if (v != 0 && v != 1 && v != -1) return std::nullopt;
            if (v == 0) {
                hole = true;
                continue;
            }
            if (hole) return std::nullopt;
            const auto bit = std::uint64_t{1} << (column * H1 + height);
            if (v == state.playerTurn) {
                mover |= bit;
                ++moverCount;
            } else {
                other |= bit;
                ++otherCount;
            }
        }
    }
    // Player +1 always moves first, so the mover has as many stones as the other or, when the
    // mover is -1, one fewer.
    const int lead = state.playerTurn == 1 ? 0 : 1;
    if (otherCount - moverCount != lead) return std::nullopt;
    Position position;
    position.current_ = mover;
    position.mask_ = mover | other;
    position.moves_ = moverCount + otherCount;
    if (position.hasLine(mover) || position.hasLine(other)) return std::nullopt;
    return position;
}

bool Position::hasLine(std::uint64_t stones) const {
    for (const int d : {1, H1, H, H + 2}) {
        const std::uint64_t pairs = stones & (stones >> d);
        if (pairs & (pairs >> 2 * d)) return true;
    }
    return false;
}

bool Position::canPlay(int column) const {
    return column >= 0 && column < W && (mask_ & topCell(column)) == 0;
}

bool Position::isWinningMove(int column) const {
    return canPlay(column) && (winningCells() & playableCells() & columnMask(column)) != 0;
}

void Position::play(int column) {
    playCell((mask_ + bottomCell(column)) & columnMask(column));
}

void Position::playCell(std::uint64_t move) {
    current_ ^= mask_;
    mask_ |= move;
    ++moves_;
}

std::uint64_t Position::playableCells() const {
    return (mask_ + Bottom) & Board;
}

std::uint64_t Position::nonLosingMoves() const {
    std::uint64_t possible = playableCells();
    const std::uint64_t threats = opponentWinningCells();
    const std::uint64_t forced = possible & threats;
    if (forced) {
        if (forced & (forced - 1)) return 0; // two threats to block at once
        possible = forced;
    }
    return possible & ~(threats >> 1); // never play just below an opponent's winning cell
}

int Position::moveScore(std::uint64_t move) const {
    return std::popcount(winningCells(current_ | move, mask_));
}

std::uint64_t Position::winningCells(std::uint64_t stones, std::uint64_t mask) {
    std::uint64_t r = (stones << 1) & (stones << 2) & (stones << 3); // vertical
    for (const int d : {H1, H, H + 2}) {                             // horizontal, diagonals
        std::uint64_t p = (stones << d) & (stones << 2 * d);
        r |= p & (stones << 3 * d);
        r |= p & (stones >> d);
        p = (stones >> d) & (stones >> 2 * d);
        r |= p & (stones << d);
        r |= p & (stones >> 3 * d);
    }
    return r & (Board ^ mask);
}

} // namespace tarnwick::solver
