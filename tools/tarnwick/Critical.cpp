// The critical positions: where at least one legal move changes the outcome (win, draw or
// loss), so that a wrong move shows. Reached by players of several strengths from random,
// casual and perfect openings, an equal number in each phase of the game, each with the
// perfect score of every column, and none of them (nor its mirror image) a position the
// network was trained on.

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <random>
#include <unordered_map>
#include <unordered_set>

#include "Tarnwick/solver/Solver.hpp"
#include "tools/tarnwick/Commands.hpp"

namespace tarnwick::cli {

using solver::Position;
using solver::Solver;
using Scores = std::array<std::optional<int>, Position::Width>;

namespace {

constexpr std::array<CriticalPhase, 4> Phases{{{4, 9}, {10, 16}, {17, 24}, {25, 34}}};

std::string mirrored(const std::string& moves) {
    std::string m = moves;
    for (auto& c : m)
        c = static_cast<char>('1' + '7' - c);
    return m;
}

// The keys of a position and of its mirror image.
std::array<std::uint64_t, 2> keysOf(const std::string& moves) {
    const auto p = Position::fromMoves(moves);
    const auto m = Position::fromMoves(mirrored(moves));
    return {p ? p->key() : 0, m ? m->key() : 0};
}

int sign(int x) {
    return (x > 0) - (x < 0);
}

enum class Player { Random, Casual, Sloppy, Careful, Perfect };
constexpr std::array<Player, 5> Players{Player::Random, Player::Casual, Player::Sloppy,
                                        Player::Careful, Player::Perfect};

double blunderRate(Player player) {
    switch (player) {
    case Player::Random:
    case Player::Casual:
        return 1.0;
    case Player::Sloppy:
        return 0.3;
    case Player::Careful:
        return 0.1;
    case Player::Perfect:
        return 0.0;
    }
    return 1.0;
}

// Uniform, or centre-weighted and, as a person would, not handing the opponent a win on the
// next move when another column avoids it.
int casualColumn(const Position& position, std::mt19937_64& rng, bool uniform) {
    const auto safe = uniform ? 0 : position.nonLosingMoves();
    std::array<double, 7> w{};
    for (int c = 0; c < 7; ++c) {
        const bool allowed = safe ? (safe & Position::columnMask(c)) != 0 : position.canPlay(c);
        w[c] = allowed ? (uniform ? 1.0 : 4.0 - std::abs(c - 3)) : 0.0;
    }
    return std::discrete_distribution<int>(w.begin(), w.end())(rng);
}

class Generator {
  public:
    Generator(const CriticalOptions& options, std::ostream& log)
        : options_(options), log_(log), solver_(options.tableEntries) {}

    void exclude(const std::string& path) {
        std::ifstream in(path);
        if (!in) throw std::runtime_error("cannot read \"" + path + "\"");
        std::size_t lines = 0;
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '#') continue;
            const auto moves = line.substr(0, line.find('\t'));
            for (const auto& m : {moves, mirrored(moves)}) {
                const auto p = Position::fromMoves(m);
                if (!p) continue;
                excluded_.insert(p->key());
                // A trained line also teaches the value of each of its children.
                for (int c = 0; c < Position::Width; ++c) {
                    if (!p->canPlay(c) || p->isWinningMove(c)) continue;
                    Position child = *p;
                    child.play(c);
                    excluded_.insert(child.key());
                }
            }
            ++lines;
        }
        log_ << "excluded: " << path << ", " << lines << " lines\n";
    }

    // Exact scores already known: label lines (every column) and book lines (the best score).
    void know(const std::string& path) {
        std::ifstream in(path);
        if (!in) throw std::runtime_error("cannot read \"" + path + "\"");
        for (std::string line; std::getline(in, line);) {
            if (const auto label = parseLabelLine(line)) {
                remember(label->moves, bestScore(label->scores));
                continue;
            }
            const auto tab = line.find('\t');
            if (tab == std::string::npos) continue;
            const auto rest = line.substr(tab + 1);
            try {
                std::size_t used = 0;
                const int score = std::stoi(rest, &used);
                if (used < rest.size() && rest[used] == '\t') remember(line.substr(0, tab), score);
            } catch (const std::exception&) {
            }
        }
    }

    // Lines of an earlier run into the same file: kept, and its games not played again.
    std::int64_t resume(const std::string& path) {
        std::ifstream in(path);
        std::int64_t games = 0;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("# games ", 0) == 0) {
                games = std::stoll(line.substr(8));
                continue;
            }
            const auto label = parseLabelLine(line);
            if (!label) continue;
            const auto keys = keysOf(label->moves);
            if (!seen_.insert(keys[0]).second) continue;
            seen_.insert(keys[1]);
            if (const auto phase = phaseOf(static_cast<int>(label->moves.size())))
                ++counts_[*phase];
        }
        return games;
    }

    bool done() const {
        return std::all_of(counts_.begin(), counts_.end(),
                           [&, i = 0](std::int64_t n) mutable { return n >= quota(i++); });
    }

    // One game towards the phase `game` stands for; the critical line found, if any.
    std::optional<std::string> play(std::int64_t game) {
        std::mt19937_64 rng(options_.seed * 0x9E3779B97F4A7C15ull +
                            static_cast<std::uint64_t>(game));
        std::size_t phase = static_cast<std::size_t>(game) % Phases.size();
        while (counts_[phase] >= quota(phase))
            phase = (phase + 1) % Phases.size();
        const int target =
            std::uniform_int_distribution<int>(Phases[phase].first, Phases[phase].last)(rng);
        // The opening: uniform, centre-weighted or perfect (the opening tree's lines).
        const int openingStyle = std::uniform_int_distribution<int>(0, 2)(rng);
        const int openingPlies = std::uniform_int_distribution<int>(2, 8)(rng);
        const std::array<Player, 2> players{Players[rng() % Players.size()],
                                            Players[rng() % Players.size()]};
        Position position;
        std::string moves;
        while (position.moves() < target) {
            const int column =
                choose(position, openingStyle, openingPlies, players[moves.size() % 2], rng);
            if (position.isWinningMove(column)) return std::nullopt;
            position.play(column);
            moves += static_cast<char>('1' + column);
        }
        const auto keys = keysOf(moves);
        if (excluded_.count(keys[0]) || seen_.count(keys[0])) return std::nullopt;
        // Solving early positions takes minutes: there, only what is known already.
        if (position.moves() < options_.scoreFrom && !allKnown(position)) return std::nullopt;
        const auto scores = scoreMoves(position);
        const int best = bestScore(scores);
        const bool critical = std::any_of(scores.begin(), scores.end(), [&](const auto& s) {
            return s && sign(*s) != sign(best);
        });
        if (!critical) return std::nullopt;
        seen_.insert(keys[0]);
        seen_.insert(keys[1]);
        ++counts_[phase];
        return moves + '\t' + formatScores(scores);
    }

    const std::array<std::int64_t, 4>& counts() const { return counts_; }

  private:
    std::int64_t quota(std::size_t phase) const {
        const auto& q = options_.perPhase;
        return q.empty() ? 0 : q[std::min(phase, q.size() - 1)];
    }

    bool allKnown(const Position& position) const {
        for (int c = 0; c < Position::Width; ++c) {
            if (!position.canPlay(c) || position.isWinningMove(c)) continue;
            Position child = position;
            child.play(c);
            if (!known_.count(child.key())) return false;
        }
        return true;
    }

    static std::optional<std::size_t> phaseOf(int stones) {
        for (std::size_t i = 0; i < Phases.size(); ++i)
            if (stones >= Phases[i].first && stones <= Phases[i].last) return i;
        return std::nullopt;
    }

    void remember(const std::string& moves, int score) {
        for (const auto& m : {moves, mirrored(moves)})
            if (const auto p = Position::fromMoves(m)) known_[p->key()] = score;
    }

    int choose(const Position& position, int openingStyle, int openingPlies, Player player,
               std::mt19937_64& rng) {
        if (position.moves() < openingPlies) {
            if (openingStyle == 2) {
                if (const auto best = knownBest(position); !best.empty())
                    return best[rng() % best.size()];
            }
            return casualColumn(position, rng, openingStyle == 0);
        }
        if (player == Player::Random) return casualColumn(position, rng, true);
        if (std::bernoulli_distribution(blunderRate(player))(rng) ||
            position.moves() < options_.solveFrom) {
            // Early on the solver is slow: the opening tree's columns where it knows them.
            if (player != Player::Casual && position.moves() < options_.solveFrom) {
                if (const auto best = knownBest(position); !best.empty())
                    return best[rng() % best.size()];
            }
            return casualColumn(position, rng, false);
        }
        const auto best = solver_.bestMoves(position).columns;
        return best[rng() % best.size()];
    }

    // The best columns when every child's score is known; empty otherwise.
    std::vector<int> knownBest(const Position& position) const {
        Scores scores{};
        for (int c = 0; c < Position::Width; ++c) {
            if (!position.canPlay(c)) continue;
            if (position.isWinningMove(c)) return {c};
            Position child = position;
            child.play(c);
            const auto it = known_.find(child.key());
            if (it == known_.end()) return {};
            scores[c] = -it->second;
        }
        return bestColumns(scores);
    }

    Scores scoreMoves(const Position& position) {
        Scores scores{};
        for (int c = 0; c < Position::Width; ++c) {
            if (!position.canPlay(c)) continue;
            if (position.isWinningMove(c)) {
                scores[c] = (Position::Cells + 1 - position.moves()) / 2;
                continue;
            }
            Position child = position;
            child.play(c);
            if (child.moves() == Position::Cells) {
                scores[c] = 0;
            } else if (const auto it = known_.find(child.key()); it != known_.end()) {
                scores[c] = -it->second;
            } else {
                scores[c] = -solver_.solve(child);
            }
        }
        return scores;
    }

    const CriticalOptions& options_;
    std::ostream& log_;
    Solver solver_;
    std::unordered_set<std::uint64_t> excluded_, seen_;
    std::unordered_map<std::uint64_t, int> known_;
    std::array<std::int64_t, 4> counts_{};
};

} // namespace

const std::array<CriticalPhase, 4>& criticalPhases() {
    return Phases;
}

int critical(const CriticalOptions& options, std::ostream& log) {
    Generator generator(options, log);
    for (const auto& path : options.exclude)
        generator.exclude(path);
    for (const auto& path : options.known)
        generator.know(path);
    std::int64_t game = generator.resume(options.out);
    std::ofstream out(options.out, std::ios::app);
    if (!out) {
        log << "tarnwick critical: cannot write \"" << options.out << "\"\n";
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    for (; !generator.done() && game < options.maxGames; ++game) {
        if (const auto line = generator.play(game)) out << *line << '\n' << std::flush;
        if ((game + 1) % 20 == 0) {
            out << "# games " << game + 1 << '\n' << std::flush;
            const auto& n = generator.counts();
            log << "games " << game + 1 << "  positions " << n[0] << ' ' << n[1] << ' ' << n[2]
                << ' ' << n[3] << "  "
                << static_cast<int>(
                       std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                           .count())
                << " s\n";
        }
    }
    out << "# games " << game << '\n';
    return generator.done() ? 0 : 1;
}

} // namespace tarnwick::cli
