// Judging networks: the perfect player as referee and opponent, and matches between two models.

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <random>
#include <sstream>

#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/rules/Config.hpp"
#include "Tarnwick/search/Random.hpp"
#include "Tarnwick/solver/Solver.hpp"
#include "tools/tarnwick/Commands.hpp"
#include "Tarnwick/rules/Notation.hpp"
#include "tools/tarnwick/Matches.hpp"

namespace tarnwick::cli {

using solver::Position;

namespace {

int sign(int x) {
    return (x > 0) - (x < 0);
}

const char* phaseOf(std::size_t pieces) {
    return pieces < 14 ? "opening" : pieces < 28 ? "middle" : "end";
}

struct Tally {
    int positions = 0, keeps = 0, best = 0;
};
using Tallies = std::map<std::string, Tally>;

// The bot's move in every position of a set, tallied by the phase `phaseOf` names and in
// "all"; false with a message when a line is not a position with seven scores.
template <typename PhaseOf>
bool judgeSet(const std::string& path, PhaseOf phaseOf, const std::shared_ptr<version0328>& model,
              const PlayerOptions& player, Tallies& tallies, std::ostream& err) {
    std::error_code error;
    std::ifstream in(path);
    if (!std::filesystem::is_regular_file(path, error) || !in) {
        err << "tarnwick referee: cannot read \"" << path << "\"\n";
        return false;
    }
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (line.empty() || line[0] == '#') continue;
        const auto tab = line.find('\t');
        const auto moves = line.substr(0, tab);
        const auto scores =
            tab == std::string::npos ? std::nullopt : parseScores(line.substr(tab + 1));
        const auto parsed = parseMoves(moves);
        if (!scores || !parsed.state || parsed.state->isEndGame()) {
            err << "tarnwick referee: " << path << ":" << lineNumber
                << ": not a position with seven scores\n";
            return false;
        }
        const int column = Player(model, player).column(parsed.state);
        const int best = bestScore(*scores);
        const auto& chosen = (*scores)[column];
        for (const std::string& phase : {std::string(phaseOf(moves.size())), std::string("all")}) {
            auto& t = tallies[phase];
            ++t.positions;
            t.keeps += chosen && sign(*chosen) == sign(best);
            t.best += chosen && *chosen == best;
        }
    }
    if (tallies.empty()) {
        err << "tarnwick referee: \"" << path << "\" holds no positions\n";
        return false;
    }
    return true;
}

std::string describe(const PlayerOptions& player) {
    if (player.level < FullStrength)
        return "level " + std::to_string(player.level) + " (" + levelNamed(player.level)->name + ")";
    std::string text = player.sims > 0 ? std::to_string(player.sims) + " simulations"
                                       : std::string("network alone");
    return player.exact ? text + ", exact where the solver settles" : text;
}

void printTallies(std::ostream& out, const std::string& path, const PlayerOptions& player,
                  const char* heading, const std::vector<std::string>& phases, Tallies& tallies) {
    out << "referee: " << path << ", " << describe(player) << "\n";
    out << std::left << std::setw(10) << heading << std::right << std::setw(10) << "positions"
        << std::setw(16) << "keeps outcome" << std::setw(12) << "best move"
        << "\n";
    out << std::fixed << std::setprecision(1);
    for (const auto& phase : phases) {
        const auto& t = tallies[phase];
        if (t.positions == 0) continue;
        out << std::left << std::setw(10) << phase << std::right << std::setw(10) << t.positions
            << std::setw(15) << 100.0 * t.keeps / t.positions << "%" << std::setw(11)
            << 100.0 * t.best / t.positions << "%\n";
    }
}

std::string stonesOf(std::size_t pieces) {
    for (const auto& phase : criticalPhases())
        if (static_cast<int>(pieces) >= phase.first && static_cast<int>(pieces) <= phase.last)
            return std::to_string(phase.first) + "-" + std::to_string(phase.last);
    return "other";
}

} // namespace

int referee(const RefereeOptions& options, std::ostream& out, std::ostream& err) {
    applySeed(options.bot);
    Config::TAU0 = 0;
    auto model = loadModel(options.bot.model, options.bot.int8);
    const PlayerOptions player{options.bot.sims, options.level, options.exact};
    if (!options.positions.empty()) {
        Tallies tallies;
        if (!judgeSet(options.positions, phaseOf, model, player, tallies, err)) return 2;
        printTallies(out, options.positions, player, "phase",
                     {"opening", "middle", "end", "all"}, tallies);
    }
    // The critical set goes with the default set unless named or turned off.
    const auto critical = options.critical.value_or(
        options.positions == DefaultPositions ? "bench/critical.tsv" : "");
    if (!critical.empty()) {
        Tallies criticalTallies;
        if (!judgeSet(critical, stonesOf, model, player, criticalTallies, err)) return 2;
        std::vector<std::string> phases;
        for (const auto& phase : criticalPhases())
            phases.push_back(std::to_string(phase.first) + "-" + std::to_string(phase.last));
        phases.push_back("other");
        phases.push_back("all");
        printTallies(out, critical, player, "stones", phases, criticalTallies);
    }

    if (options.games > 0) {
        Oracle oracle(options.book, options.known);
        std::mt19937_64 rng(options.bot.seed.value_or(1));
        Record record;
        // The positions the bot's first move that lets the win go was played from.
        std::map<std::string, int> slipPositions;
        for (int game = 0; game < options.games; ++game) {
            Player bot(model, player);
            bool slipped = false;
            record.add(playGame([&](const std::string& moves, const auto& state) {
                if (moves.size() % 2 == 0) return bot.column(state);
                const auto& best = oracle.best(moves);
                if (!slipped && best.score >= 0) {
                    slipped = true;
                    ++slipPositions[moves.substr(0, moves.size() - 1)];
                }
                return perfectColumn(best, rng);
            }));
            err << "\rgames " << game + 1 << "/" << options.games << "  " << record.text() << "   "
                << std::flush;
        }
        err << "\n";
        out << "against the perfect player, bot first, " << options.games << " games: "
            << record.wins << " wins, " << record.draws << " draws, " << record.losses
            << " losses\n";
        if (!slipPositions.empty()) {
            std::map<std::size_t, int> slips; // by move number
            for (const auto& [line, count] : slipPositions) slips[line.size() + 1] += count;
            out << "the bot's first move that let the win go, by move number:";
            for (const auto& [move, count] : slips) out << ' ' << move << ':' << count;
            out << "\nthe positions it was played from, with the number of games:";
            for (const auto& [line, count] : slipPositions)
                out << ' ' << (line.empty() ? "\"\"" : line) << ':' << count;
            out << '\n';
        }
    }
    return 0;
}

EloEstimate eloOf(int wins, int draws, int losses) {
    const double n = wins + draws + losses;
    if (n == 0) return {};
    const double s = (wins + 0.5 * draws) / n;
    const double var =
        (wins * (1 - s) * (1 - s) + draws * (0.5 - s) * (0.5 - s) + losses * s * s) / n;
    const double margin = 1.96 * std::sqrt(var / n);
    const auto elo = [](double score) {
        score = std::clamp(score, 1e-3, 1 - 1e-3);
        return -400.0 * std::log10(1.0 / score - 1.0);
    };
    return {elo(s), elo(s - margin), elo(s + margin)};
}

int arena(const ArenaOptions& options, std::ostream& out, std::ostream& err) {
    applySeed(options.bot);
    Config::TAU0 = options.tau;
    auto first = loadModel(options.bot.model, options.bot.int8);
    auto second = loadModel(options.opponent, options.opponentInt8);
    Record record; // for the first model
    for (int game = 0; game < options.games; ++game) {
        ZenfoldAgent a("a", 84, 42, std::max<std::int64_t>(1, options.bot.sims), Config::CPUCT);
        ZenfoldAgent b("b", 84, 42, std::max<std::int64_t>(1, options.bot.sims), Config::CPUCT);
        a.setModel(first);
        b.setModel(second);
        const bool aStarts = game % 2 == 0;
        const int result = playGame([&](const std::string& moves, const auto& state) {
            const auto turn = static_cast<std::int64_t>(moves.size());
            auto& agent = (turn % 2 == 0) == aStarts ? a : b;
            return static_cast<int>(agent.act(state, turn < options.tau) % 7);
        });
        record.add(aStarts ? result : -result);
        err << "\rgames " << game + 1 << "/" << options.games << "  " << record.text() << "   "
            << std::flush;
    }
    err << "\n";
    const auto elo = eloOf(record.wins, record.draws, record.losses);
    out << std::fixed << std::setprecision(0) << "arena: " << options.games << " games, "
        << options.bot.sims << " simulations: first model " << record.wins << " wins, "
        << record.draws << " draws, " << record.losses << " losses; Elo difference " << elo.difference << " (95%: "
        << elo.low << " to " << elo.high << ")\n";
    return 0;
}

int solve(const std::string& moves, std::ostream& out, std::ostream& err) {
    const auto position = Position::fromMoves(moves);
    if (!position) {
        err << "tarnwick solve: \"" << moves << "\" is not a playable position\n";
        return 2;
    }
    if (position->moves() == Position::Cells) {
        err << "tarnwick solve: the board is full\n";
        return 2;
    }
    solver::Solver solver(solver::Solver::LargeTableEntries);
    out << moves << '\t' << formatScores(solver.scoreMoves(*position)) << '\n';
    return 0;
}

} // namespace tarnwick::cli
