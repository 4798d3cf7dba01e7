// Positions from varied play or from the bot's games against the perfect player, each with the
// perfect player's score of every column: the referee's benchmark set and the network's
// supervised training data.

#include <algorithm>
#include <chrono>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <vector>

#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/rules/Config.hpp"
#include "Tarnwick/search/Random.hpp"
#include "Tarnwick/solver/Solver.hpp"
#include "tools/tarnwick/Commands.hpp"
#include "Tarnwick/rules/Notation.hpp"
#include "tools/tarnwick/Oracle.hpp"

namespace tarnwick::cli {

using solver::Position;
using solver::Solver;

std::string formatScores(const std::array<std::optional<int>, Position::Width>& scores) {
    std::string text;
    for (int c = 0; c < Position::Width; ++c) {
        if (c) text += ',';
        text += scores[c] ? std::to_string(*scores[c]) : "x";
    }
    return text;
}

namespace {

// A column for play that looks like people's: mostly near the centre early on.
int casualColumn(const Position& position, std::mt19937_64& rng) {
    static constexpr std::array<double, 7> weights{1, 2, 3, 4, 3, 2, 1};
    std::array<double, 7> w{};
    for (int c = 0; c < 7; ++c) w[c] = position.canPlay(c) ? weights[c] : 0.0;
    return std::discrete_distribution<int>(w.begin(), w.end())(rng);
}

int anyOf(const std::vector<int>& columns, std::mt19937_64& rng) {
    return columns[std::uniform_int_distribution<std::size_t>(0, columns.size() - 1)(rng)];
}

int bestColumn(const std::array<std::optional<int>, Position::Width>& scores,
               std::mt19937_64& rng) {
    return anyOf(bestColumns(scores), rng);
}

using Lines = std::vector<std::pair<std::string, std::string>>;

// A game of varied play: casual opening plies (before the solver is cheap), then best columns
// spoilt by casual ones at the game's own blunder rate.
Lines variedGame(const LabelOptions& options, std::int64_t game, Solver& solver,
                 std::mt19937_64& rng) {
    static constexpr std::array<double, 4> blunderRates{0.05, 0.15, 0.3, 0.6};
    const double blunder = blunderRates[static_cast<std::size_t>(game) % blunderRates.size()];
    const int firstLabelled = static_cast<int>(
        std::uniform_int_distribution<std::int64_t>(options.minPly, options.maxOpening)(rng));
    Position position;
    std::string moves;
    Lines lines;
    while (position.moves() < Position::Cells) {
        int column;
        if (position.moves() < firstLabelled) {
            column = casualColumn(position, rng);
        } else {
            const auto scores = solver.scoreMoves(position);
            lines.emplace_back(moves, formatScores(scores));
            column = std::bernoulli_distribution(blunder)(rng) ? casualColumn(position, rng)
                                                                : bestColumn(scores, rng);
        }
        if (position.isWinningMove(column)) break;
        position.play(column);
        moves += static_cast<char>('1' + column);
    }
    return lines;
}

// A game of the bot, first, against the perfect player: the positions its own play reaches,
// where its slips are.
Lines botGame(const LabelOptions& options, const std::shared_ptr<version0328>& model,
              std::shared_ptr<GameState> state, Position position, Solver& solver,
              Oracle& oracle, std::mt19937_64& rng) {
    ZenfoldAgent bot("label", 84, 42, options.botSims, Config::CPUCT);
    bot.setModel(model);
    std::string moves = options.from;
    Lines lines;
    while (position.moves() < Position::Cells) {
        std::optional<std::array<std::optional<int>, Position::Width>> scores;
        if (position.moves() >= options.minPly) {
            scores = solver.scoreMoves(position);
            lines.emplace_back(moves, formatScores(*scores));
        }
        int column;
        if (moves.size() % 2 == 0) {
            column = static_cast<int>(bot.act(state, false) % 7);
        } else if (scores) {
            column = bestColumn(*scores, rng);
        } else {
            column = anyOf(oracle.best(moves).columns, rng);
        }
        if (position.isWinningMove(column)) break;
        position.play(column);
        moves += static_cast<char>('1' + column);
        state = state->take(actionOfColumn(*state, column).value()).gameState;
    }
    return lines;
}

} // namespace

int label(const LabelOptions& options, std::ostream& out, std::ostream& log) {
    // Casual play hands over at a ply drawn from [minPly, maxOpening]: an empty range is refused.
    if (options.botSims == 0 && options.minPly > options.maxOpening) {
        log << "tarnwick label: --min-ply " << options.minPly << " is above --max-opening "
            << options.maxOpening << "\n";
        return 2;
    }
    if (options.games < 0 || options.perGame < 0 || options.minPly < 0) {
        log << "tarnwick label: counts and plies cannot be negative\n";
        return 2;
    }
    std::mt19937_64 rng(options.seed);
    Solver solver(Solver::LargeTableEntries);
    std::shared_ptr<version0328> model;
    std::optional<Oracle> oracle;
    const auto parsed = parseMoves(options.from);
    const auto root = Position::fromMoves(options.from);
    if (options.botSims > 0) {
        if (!parsed.state || parsed.state->isEndGame() || !root) {
            log << "tarnwick label: \"" << options.from << "\" is not a position to play on"
                << (parsed.error.empty() ? "" : ": " + parsed.error) << "\n";
            return 2;
        }
        model = loadModel(options.model);
        seedRandom(options.seed);
        Config::TAU0 = 0;
        oracle.emplace(options.book, options.known);
    }
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t written = 0;
    for (std::int64_t game = 0; game < options.games; ++game) {
        auto lines = oracle ? botGame(options, model, parsed.state, *root, solver, *oracle, rng)
                            : variedGame(options, game, solver, rng);
        if (options.perGame > 0 && lines.size() > static_cast<std::size_t>(options.perGame)) {
            std::shuffle(lines.begin(), lines.end(), rng);
            lines.resize(static_cast<std::size_t>(options.perGame));
        }
        for (const auto& [m, s] : lines) out << m << '\t' << s << '\n';
        out.flush();
        written += lines.size();
        if ((game + 1) % 50 == 0 || game + 1 == options.games) {
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            log << "\rgames " << game + 1 << "/" << options.games << "  positions " << written
                << "  " << static_cast<int>(written / std::max(seconds, 1e-9)) << "/s"
                << "  left " << static_cast<int>(seconds / (game + 1) * (options.games - game - 1))
                << " s   " << std::flush;
        }
    }
    log << "\n";
    return 0;
}

std::optional<std::array<std::optional<int>, Position::Width>> parseScores(const std::string& text) {
    std::array<std::optional<int>, Position::Width> scores{};
    std::stringstream in(text);
    std::string item;
    int c = 0;
    for (; std::getline(in, item, ','); ++c) {
        if (c >= Position::Width) return std::nullopt;
        if (item == "x") continue;
        try {
            std::size_t used = 0;
            scores[c] = std::stoi(item, &used);
            if (used != item.size()) return std::nullopt;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    if (c != Position::Width) return std::nullopt;
    return scores;
}

int bestScore(const std::array<std::optional<int>, Position::Width>& scores) {
    int best = -1000;
    for (const auto& s : scores)
        if (s) best = std::max(best, *s);
    return best;
}

std::vector<int> bestColumns(const std::array<std::optional<int>, Position::Width>& scores) {
    const int best = bestScore(scores);
    std::vector<int> columns;
    for (int c = 0; c < Position::Width; ++c)
        if (scores[c] == best) columns.push_back(c);
    return columns;
}

std::optional<LabelLine> parseLabelLine(const std::string& line) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) return std::nullopt;
    LabelLine label{line.substr(0, tab), {}};
    const auto position = Position::fromMoves(label.moves);
    const auto scores = parseScores(line.substr(tab + 1));
    if (!position || !scores) return std::nullopt;
    for (int c = 0; c < Position::Width; ++c)
        if (position->canPlay(c) != (*scores)[c].has_value()) return std::nullopt;
    label.scores = *scores;
    return label;
}

int opening(const OpeningOptions& options, std::ostream& out, std::ostream& log) {
    const auto root = Position::fromMoves(options.from);
    if (!root) {
        log << "tarnwick opening: \"" << options.from << "\" is not a playable position\n";
        return 2;
    }
    std::map<std::string, std::array<std::optional<int>, Position::Width>> known;
    if (!options.known.empty()) {
        std::ifstream in(options.known);
        for (std::string line; std::getline(in, line);)
            if (auto label = parseLabelLine(line)) known[label->moves] = label->scores;
    }
    Solver solver(options.tableEntries);
    std::deque<std::pair<Position, std::string>> queue{{*root, options.from}};
    std::set<std::uint64_t> seen{root->key()};
    const auto start = std::chrono::steady_clock::now();
    while (!queue.empty()) {
        auto [position, moves] = queue.front();
        queue.pop_front();
        if (position.moves() >= options.plies || position.moves() >= Position::Cells) continue;
        const auto found = known.find(moves);
        const auto scores = found != known.end() ? found->second : solver.scoreMoves(position);
        if (found == known.end()) {
            out << moves << '\t' << formatScores(scores) << '\n' << std::flush;
            log << moves << "  " << static_cast<int>(std::chrono::duration<double>(
                                         std::chrono::steady_clock::now() - start).count())
                << " s\n";
        }
        for (const int c : bestColumns(scores)) {
            if (position.isWinningMove(c)) continue;
            Position next = position;
            next.play(c);
            if (seen.insert(next.key()).second)
                queue.emplace_back(next, moves + static_cast<char>('1' + c));
        }
    }
    return 0;
}

} // namespace tarnwick::cli
