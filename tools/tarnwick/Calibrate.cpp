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
#include "tools/tarnwick/Oracle.hpp"

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

void record(const std::string& path, Checkpoint& done, const std::string& key,
            const std::vector<double>& numbers) {
    done[key] = numbers;
    std::ofstream out(path, std::ios::app);
    out << key << ":";
    for (const auto v : numbers)
        out << ' ' << v;
    out << '\n';
}

// A player at a level (0: uniformly random legal moves).
class Player {
  public:
    Player(std::int64_t level, const std::shared_ptr<version0328>& model, std::int64_t sims)
        : level_(level), bot_("calibrate", 84, 42, sims, Config::CPUCT) {
        bot_.setModel(model);
        if (level > 0) settings_.level = *levelNamed(level);
    }
    std::int64_t act(const std::shared_ptr<GameState>& state) {
        if (level_ == 0) {
            const auto legal = state->allowedActions();
            return legal[static_cast<std::size_t>(
                uniformInt(0, static_cast<std::int64_t>(legal.size()) - 1))];
        }
        return playBotMove(bot_, state, false, settings_, nullptr).action;
    }

  private:
    std::int64_t level_;
    ZenfoldAgent bot_;
    BotMoveSettings settings_;
};

// +1 when `first` wins, 0 for a draw, -1 when it loses.
int playGame(Player& first, Player& second) {
    auto state = parseMoves("").state;
    for (int turn = 0;; ++turn) {
        auto& player = turn % 2 == 0 ? first : second;
        const auto step = state->take(player.act(state));
        state = step.gameState;
        if (step.done) {
            const double forFirst = turn % 2 == 0 ? -step.value : step.value;
            return forFirst > 0 ? 1 : forFirst < 0 ? -1 : 0;
        }
    }
}

std::string levelName(std::int64_t level) {
    return level == 0 ? std::string("random") : levelNamed(level)->name;
}

} // namespace

int calibrate(const CalibrateOptions& options, std::ostream& out, std::ostream& log) {
    applySeed(options.bot);
    Config::TAU0 = 0;
    const auto model = loadModel(options.bot.model);
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
            Player player(level, model, sims);
            const auto column = player.act(parseMoves(moves).state) % 7;
            const auto& chosen = scores[static_cast<std::size_t>(column)];
            const int top = bestScore(scores);
            keeps += chosen && sign(*chosen) == sign(top);
            best += chosen && *chosen == top;
        }
        record(options.checkpoint, done, key,
               {static_cast<double>(positions.size()), static_cast<double>(keeps),
                static_cast<double>(best)});
        log << "level " << level << ": " << keeps << " kept, " << best << " best of "
            << positions.size() << std::endl;
    }

    // 2. Games as first player against the perfect player.
    if (options.perfectGames > 0) {
        Oracle oracle(options.book, options.known);
        std::mt19937_64 rng(options.bot.seed.value_or(1));
        for (std::int64_t level = LowestLevel; level <= FullStrength; ++level) {
            const auto key =
                "perfect " + std::to_string(level) + " " + std::to_string(options.perfectGames);
            if (done.contains(key)) continue;
            int wins = 0, draws = 0, losses = 0;
            for (int game = 0; game < options.perfectGames; ++game) {
                Player player(level, model, sims);
                auto state = parseMoves("").state;
                std::string moves;
                while (true) {
                    const bool botToMove = moves.size() % 2 == 0;
                    int column;
                    if (botToMove) {
                        column = static_cast<int>(player.act(state) % 7);
                    } else {
                        const auto& choice = oracle.best(moves);
                        column = choice.columns[std::uniform_int_distribution<std::size_t>(
                            0, choice.columns.size() - 1)(rng)];
                    }
                    const auto step = state->take(*actionOfColumn(*state, column));
                    moves += static_cast<char>('1' + column);
                    state = step.gameState;
                    if (step.done) {
                        const double result = botToMove ? -step.value : step.value;
                        wins += result > 0;
                        draws += result == 0;
                        losses += result < 0;
                        break;
                    }
                }
                log << "\rperfect player, level " << level << ": " << game + 1 << "/"
                    << options.perfectGames << std::flush;
            }
            log << std::endl;
            record(options.checkpoint, done, key,
                   {static_cast<double>(wins), static_cast<double>(draws),
                    static_cast<double>(losses)});
        }
    }

    // 3. The ladder: each level against the one below it, colours alternating.
    for (std::int64_t level = LowestLevel; level <= FullStrength; ++level) {
        const auto key = "arena " + std::to_string(level) + " " + std::to_string(options.games);
        if (done.contains(key)) continue;
        int wins = 0, draws = 0, losses = 0; // for the stronger level
        for (int game = 0; game < options.games; ++game) {
            Player stronger(level, model, sims);
            Player weaker(level - 1, model, sims);
            const bool strongerFirst = game % 2 == 0;
            const int r = strongerFirst ? playGame(stronger, weaker) : -playGame(weaker, stronger);
            wins += r > 0;
            draws += r == 0;
            losses += r < 0;
            log << "\rlevel " << level << " against " << level - 1 << ": " << game + 1 << "/"
                << options.games << "  +" << wins << " =" << draws << " -" << losses << "   "
                << std::flush;
        }
        log << std::endl;
        record(
            options.checkpoint, done, key,
            {static_cast<double>(wins), static_cast<double>(draws), static_cast<double>(losses)});
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
