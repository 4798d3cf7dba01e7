// The level table: each level's moves on the referee's positions, its games against the
// perfect player, and an Elo ladder from games between neighbouring levels, anchored at a
// player of uniformly random legal moves. Every finished figure goes to a checkpoint file,
// so a stopped run carries on where it was.

#include <cmath>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <random>
#include <sstream>

#include "Tarnwick/agents/BotMove.hpp"
#include "Tarnwick/rules/Config.hpp"
#include "Tarnwick/rules/Notation.hpp"
#include "Tarnwick/search/Random.hpp"
#include "tools/tarnwick/Commands.hpp"
#include "tools/tarnwick/Matches.hpp"

namespace tarnwick::cli {
namespace {

int sign(int x) {
    return (x > 0) - (x < 0);
}

// "kind a b: x y z" lines of the checkpoint, by "kind a b".
using Checkpoint = std::map<std::string, std::vector<double>>;

Checkpoint readCheckpoint(const std::string& path) {
    Checkpoint done;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::istringstream values(line.substr(colon + 1));
        std::vector<double> numbers;
        for (double v; values >> v;)
            numbers.push_back(v);
        done[line.substr(0, colon)] = numbers;
    }
    return done;
}

void save(const std::string& path, Checkpoint& done, const std::string& key,
            const std::vector<double>& numbers) {
    done[key] = numbers;
    std::ofstream out(path, std::ios::app);
    out << key << ":";
    for (const auto v : numbers)
        out << ' ' << v;
    out << '\n';
}

std::vector<double> figures(const Record& r) {
    return {static_cast<double>(r.wins), static_cast<double>(r.draws),
            static_cast<double>(r.losses)};
}

std::string levelName(std::int64_t level) {
    return level == 0 ? std::string("random") : levelNamed(level)->name;
}

} // namespace

int calibrate(const CalibrateOptions& options, std::ostream& out, std::ostream& log) {
    applySeed(options.bot);
    Config::TAU0 = 0;
    const auto model = loadModel(options.bot.model, options.bot.int8);
    auto done = readCheckpoint(options.checkpoint);
    const auto sims = options.bot.sims;

    // 1. Moves on the position set.
    std::vector<std::pair<std::string, std::array<std::optional<int>, 7>>> positions;
    {
        std::ifstream in(options.positions);
        if (!in) {
            log << "tarnwick calibrate: cannot read \"" << options.positions << "\"\n";
            return 2;
        }
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '#') continue;
            const auto label = parseLabelLine(line);
            if (label) positions.emplace_back(label->moves, label->scores);
        }
    }
    for (std::int64_t level = LowestLevel; level <= FullStrength; ++level) {
        const auto key = "positions " + std::to_string(level) + " " + options.positions;
        if (done.contains(key)) continue;
        int keeps = 0, best = 0;
        for (const auto& [moves, scores] : positions) {
            const auto column = Player(model, {sims, level}).column(parseMoves(moves).state);
            const auto& chosen = scores[static_cast<std::size_t>(column)];
            const int top = bestScore(scores);
            keeps += chosen && sign(*chosen) == sign(top);
            best += chosen && *chosen == top;
        }
        save(options.checkpoint, done, key,
               {static_cast<double>(positions.size()), static_cast<double>(keeps),
                static_cast<double>(best)});
        log << "level " << level << ": " << keeps << " kept, " << best << " best of "
            << positions.size() << std::endl;
    }

    // 2. Games as first player against the perfect player. Strongest first: a weak level
    // soon leaves the known lines, and each early position it reaches costs minutes to solve.
    if (options.perfectGames > 0) {
        Oracle oracle(options.book, options.known);
        std::mt19937_64 rng(options.bot.seed.value_or(1));
        for (std::int64_t level = FullStrength; level >= LowestLevel; --level) {
            const auto key =
                "perfect " + std::to_string(level) + " " + std::to_string(options.perfectGames);
            if (done.contains(key)) continue;
            Record record;
            for (int game = 0; game < options.perfectGames; ++game) {
                Player player(model, {sims, level});
                record.add(playGame([&](const std::string& moves, const auto& state) {
                    return moves.size() % 2 == 0 ? player.column(state)
                                                 : perfectColumn(oracle.best(moves), rng);
                }));
                log << "\rperfect player, level " << level << ": " << game + 1 << "/"
                    << options.perfectGames << "  " << record.text() << "   " << std::flush;
            }
            log << std::endl;
            save(options.checkpoint, done, key, figures(record));
        }
    }

    // 3. The ladder: each level against the one below it, colours alternating.
    for (std::int64_t level = LowestLevel; level <= FullStrength; ++level) {
        const auto key = "arena " + std::to_string(level) + " " + std::to_string(options.games);
        if (done.contains(key)) continue;
        Record record; // for the stronger level
        for (int game = 0; game < options.games; ++game) {
            Player stronger(model, {sims, level});
            Player weaker(model, {sims, level - 1});
            const bool strongerFirst = game % 2 == 0;
            const int result = playGame([&](const std::string& moves, const auto& state) {
                return ((moves.size() % 2 == 0) == strongerFirst ? stronger : weaker).column(state);
            });
            record.add(strongerFirst ? result : -result);
            log << "\rlevel " << level << " against " << level - 1 << ": " << game + 1 << "/"
                << options.games << "  " << record.text() << "   " << std::flush;
        }
        log << std::endl;
        save(options.checkpoint, done, key, figures(record));
    }

    // The table.
    out << "| level | name | keeps outcome | best move | vs perfect player (W/D/L) | score vs "
           "level below"
           " | Elo (95%) |\n|---|---|---|---|---|---|---|\n";
    out << "| 0 | random | | | | | 0 |\n";
    double elo = 0, variance = 0;
    for (std::int64_t level = LowestLevel; level <= FullStrength; ++level) {
        const auto& p = done["positions " + std::to_string(level) + " " + options.positions];
        const auto& a =
            done["arena " + std::to_string(level) + " " + std::to_string(options.games)];
        const auto perfect = done.find("perfect " + std::to_string(level) + " " +
                                       std::to_string(options.perfectGames));
        const auto step =
            eloOf(static_cast<int>(a[0]), static_cast<int>(a[1]), static_cast<int>(a[2]));
        elo += step.difference;
        // The steps are independent, so their interval half-widths add in quadrature.
        variance += std::pow((step.high - step.low) / 2, 2);
        const double score = (a[0] + 0.5 * a[1]) / (a[0] + a[1] + a[2]);
        out << std::fixed << std::setprecision(1) << "| " << level << " | " << levelName(level)
            << " | " << 100.0 * p[1] / p[0] << "% | " << 100.0 * p[2] / p[0] << "% | ";
        if (perfect != done.end())
            out << perfect->second[0] << "/" << perfect->second[1] << "/" << perfect->second[2];
        out << std::setprecision(0) << " | " << 100.0 * score << "% (" << a[0] << "/" << a[1] << "/"
            << a[2] << ") | " << elo << " +/- " << std::sqrt(variance) << " |\n";
    }
    return 0;
}

} // namespace tarnwick::cli
