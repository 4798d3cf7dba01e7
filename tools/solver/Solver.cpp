#include "tools/solver/Solver.hpp"

#include <bit>

namespace tarnwick::solver {
namespace {

constexpr int W = Position::Width;
constexpr int H = Position::Height;
constexpr int H1 = H + 1;

constexpr std::uint64_t bottomMask() {
    std::uint64_t mask = 0;
    for (int c = 0; c < W; ++c) mask |= std::uint64_t{1} << (c * H1);
    return mask;
}
constexpr std::uint64_t Bottom = bottomMask();
constexpr std::uint64_t Board = Bottom * ((std::uint64_t{1} << H) - 1);

std::uint64_t topCell(int column) { return std::uint64_t{1} << (H - 1 + column * H1); }
std::uint64_t bottomCell(int column) { return std::uint64_t{1} << (column * H1); }

// The score of winning with the mover's next stone.
int winNowScore(const Position& position) { return (Position::Cells + 1 - position.moves()) / 2; }

// Centre columns first: they take part in the most lines.
constexpr std::array<int, W> ColumnOrder{3, 2, 4, 1, 5, 0, 6};

// Up to seven moves kept sorted by score; the best (last added among equals) comes out first.
class MoveSorter {
public:
    void add(std::uint64_t move, int score) {
        int i = size_++;
        for (; i > 0 && entries_[i - 1].score > score; --i) entries_[i] = entries_[i - 1];
        entries_[i] = {move, score};
    }
    std::uint64_t next() { return size_ > 0 ? entries_[--size_].move : 0; }

private:
    struct Entry {
        std::uint64_t move;
        int score;
    };
    std::array<Entry, W> entries_{};
    int size_ = 0;
};

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

bool Position::canPlay(int column) const {
    return column >= 0 && column < W && (mask_ & topCell(column)) == 0;
}

bool Position::isWinningMove(int column) const {
    return (winningCells() & playableCells() & columnMask(column)) != 0;
}

void Position::play(int column) { playCell((mask_ + bottomCell(column)) & columnMask(column)); }

void Position::playCell(std::uint64_t move) {
    current_ ^= mask_;
    mask_ |= move;
    ++moves_;
}

std::uint64_t Position::playableCells() const { return (mask_ + Bottom) & Board; }

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
    for (const int d : {H1, H, H + 2}) {                               // horizontal, diagonals
        std::uint64_t p = (stones << d) & (stones << 2 * d);
        r |= p & (stones << 3 * d);
        r |= p & (stones >> d);
        p = (stones >> d) & (stones >> 2 * d);
        r |= p & (stones << d);
        r |= p & (stones >> 3 * d);
    }
    return r & (Board ^ mask);
}

Solver::Solver(std::size_t tableEntries)
    : keys_(tableEntries == 0 ? 1 : tableEntries), values_(keys_.size()) {}

void Solver::clear() {
    std::fill(keys_.begin(), keys_.end(), 0);
    std::fill(values_.begin(), values_.end(), 0);
    nodes_ = 0;
}

std::uint8_t Solver::lookup(std::uint64_t key) const {
    const auto i = key % keys_.size();
    return keys_[i] == key ? values_[i] : 0;
}

void Solver::store(std::uint64_t key, std::uint8_t value) {
    const auto i = key % keys_.size();
    keys_[i] = key;
    values_[i] = value;
}

// Table values: 1..(MaxScore-MinScore+1) hold an upper bound, above that a lower bound.
int Solver::negamax(const Position& position, int alpha, int beta) {
    ++nodes_;
    const std::uint64_t next = position.nonLosingMoves();
    if (next == 0) return -(Position::Cells - position.moves()) / 2;
    if (position.moves() >= Position::Cells - 2) return 0;

    const int lowest = -(Position::Cells - 2 - position.moves()) / 2;
    if (alpha < lowest) {
        alpha = lowest;
        if (alpha >= beta) return alpha;
    }
    int highest = (Position::Cells - 1 - position.moves()) / 2;
    if (const int value = lookup(position.key())) {
        if (value > MaxScore - MinScore + 1) {
            const int bound = value + 2 * MinScore - MaxScore - 2;
            if (alpha < bound) {
                alpha = bound;
                if (alpha >= beta) return alpha;
            }
        } else {
            highest = value + MinScore - 1;
        }
    }
    if (beta > highest) {
        beta = highest;
        if (alpha >= beta) return beta;
    }

    MoveSorter moves;
    for (int i = W - 1; i >= 0; --i)
        if (const std::uint64_t move = next & Position::columnMask(ColumnOrder[i]))
            moves.add(move, position.moveScore(move));
    while (const std::uint64_t move = moves.next()) {
        Position child = position;
        child.playCell(move);
        const int score = -negamax(child, -beta, -alpha);
        if (score >= beta) {
            store(position.key(), static_cast<std::uint8_t>(score + MaxScore - 2 * MinScore + 2));
            return score;
        }
        if (score > alpha) alpha = score;
    }
    store(position.key(), static_cast<std::uint8_t>(alpha - MinScore + 1));
    return alpha;
}

int Solver::solve(const Position& position) {
    if (position.canWinNext()) return winNowScore(position);
    int lo = -(Position::Cells - position.moves()) / 2;
    int hi = winNowScore(position);
    while (lo < hi) { // null-window probes, biased toward zero where most scores lie
        int mid = lo + (hi - lo) / 2;
        if (mid <= 0 && lo / 2 < mid)
            mid = lo / 2;
        else if (mid >= 0 && hi / 2 > mid)
            mid = hi / 2;
        const int r = negamax(position, mid, mid + 1);
        if (r <= mid)
            hi = r;
        else
            lo = r;
    }
    return lo;
}

std::array<std::optional<int>, Position::Width> Solver::scoreMoves(const Position& position) {
    std::array<std::optional<int>, Position::Width> scores{};
    for (int column = 0; column < W; ++column) {
        if (!position.canPlay(column)) continue;
        if (position.isWinningMove(column)) {
            scores[column] = winNowScore(position);
            continue;
        }
        Position child = position;
        child.play(column);
        scores[column] = child.moves() == Position::Cells ? 0 : -solve(child);
    }
    return scores;
}

Solver::Best Solver::bestMoves(const Position& position) {
    Best best;
    for (int column = 0; column < W; ++column)
        if (position.isWinningMove(column)) best.columns.push_back(column);
    if (!best.columns.empty()) {
        best.score = winNowScore(position);
        return best;
    }
    best.score = solve(position);
    for (int column = 0; column < W; ++column) {
        if (!position.canPlay(column)) continue;
        Position child = position;
        child.play(column);
        bool reaches;
        if (child.moves() == Position::Cells)
            reaches = best.score == 0;
        else if (child.canWinNext())
            reaches = -winNowScore(child) >= best.score;
        else // the column reaches the score when the opponent cannot do better than its negation
            reaches = negamax(child, -best.score, -best.score + 1) <= -best.score;
        if (reaches) best.columns.push_back(column);
    }
    return best;
}

} // namespace tarnwick::solver
