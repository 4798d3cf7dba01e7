#include "Tarnwick/solver/Solver.hpp"

#include <algorithm>

namespace tarnwick::solver {
namespace {

constexpr int W = Position::Width;

// The score of winning with the mover's next stone.
int winNowScore(const Position& position) {
    return (Position::Cells + 1 - position.moves()) / 2;
}

// Centre columns first: they take part in the most lines.
constexpr std::array<int, W> ColumnOrder{3, 2, 4, 1, 5, 0, 6};

// Up to seven moves kept sorted by score; the best (last added among equals) comes out first.
class MoveSorter {
  public:
    void add(std::uint64_t move, int score) {
        int i = size_++;
        for (; i > 0 && entries_[i - 1].score > score; --i)
            entries_[i] = entries_[i - 1];
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

// The clock is read once every this many nodes: reading it costs more than a node.
constexpr std::uint64_t ClockPeriod = 4096;

} // namespace

// Arms the cap for one call and disarms it however the call ends.
class Solver::Cap {
  public:
    Cap(Solver& solver, const Limits& limits) : solver_(solver) {
        solver_.stopAtNode_ = limits.nodes > 0 ? solver_.nodes_ + limits.nodes : 0;
        if (limits.time.count() > 0)
            solver_.deadline_ = std::chrono::steady_clock::now() + limits.time;
    }
    ~Cap() {
        solver_.stopAtNode_ = 0;
        solver_.deadline_.reset();
    }
    Cap(const Cap&) = delete;
    Cap& operator=(const Cap&) = delete;

  private:
    Solver& solver_;
};

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

// Table values: 1..(MaxScore-MinScore+1) hold an upper bound, above that a lower bound. A
// capped call unwinds by throwing before anything unfinished is stored.
int Solver::negamax(const Position& position, int alpha, int beta) {
    ++nodes_;
    if (stopAtNode_ != 0 && nodes_ >= stopAtNode_) throw OutOfBudget{};
    if (deadline_ && nodes_ % ClockPeriod == 0 && std::chrono::steady_clock::now() >= *deadline_)
        throw OutOfBudget{};
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

int Solver::search(const Position& position) {
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

int Solver::solve(const Position& position) {
    return search(position);
}

std::optional<int> Solver::solve(const Position& position, const Limits& limits) {
    Cap cap(*this, limits);
    try {
        return search(position);
    } catch (const OutOfBudget&) {
        return std::nullopt;
    }
}

std::optional<int> Solver::scoreColumn(const Position& position, int column) {
    if (!position.canPlay(column)) return std::nullopt;
    if (position.isWinningMove(column)) return winNowScore(position);
    Position child = position;
    child.play(column);
    return child.moves() == Position::Cells ? 0 : -search(child);
}

std::array<std::optional<int>, Position::Width> Solver::scoreMoves(const Position& position) {
    std::array<std::optional<int>, Position::Width> scores{};
    for (int column = 0; column < W; ++column)
        scores[column] = scoreColumn(position, column);
    return scores;
}

std::array<std::optional<int>, Position::Width> Solver::scoreMoves(const Position& position,
                                                                   const Limits& limits) {
    Cap cap(*this, limits);
    std::array<std::optional<int>, Position::Width> scores{};
    // Centre first: those columns are most often the best, so they get the budget first.
    for (const int column : ColumnOrder) {
        try {
            scores[column] = scoreColumn(position, column);
        } catch (const OutOfBudget&) {
            // Spent for good: the next node of any search stops at once, so the other columns
            // get only what needs no search (a win now, a full board, a move that lets the
            // opponent win at once; scoreColumn and search answer those before searching).
            stopAtNode_ = nodes_ + 1;
        }
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
    best.score = search(position);
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

std::optional<Solver::Best> Solver::bestMoves(const Position& position, const Limits& limits) {
    Cap cap(*this, limits);
    try {
        return bestMoves(position);
    } catch (const OutOfBudget&) {
        return std::nullopt;
    }
}

} // namespace tarnwick::solver
