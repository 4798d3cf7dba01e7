#pragma once
// The modes of the `tarnwick` command line, each a thin adapter over the library.

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DerivedSources/CoreMLGenerated/version0328/version0328.hpp"

namespace tarnwick::cli {

struct BotOptions {
    std::int64_t sims = 50;
    std::string model; // a model resource folder; the shipped one when empty
    std::optional<std::uint64_t> seed;
    bool int8 = false; // the model's int8 convolutions instead of float32
};

// Loads the chosen network once; throws with a message naming the folder.
std::shared_ptr<version0328> loadModel(const std::string& folder, bool int8 = false);
void applySeed(const BotOptions& options);

struct PlayOptions {
    bool botStarts = false;
    std::int64_t tau = 0;
    std::int64_t level = 8; // 1..8; 8 is the designed bot
    bool exact = false;     // at level 8: the solver's move where it settles
};
int play(const BotOptions& options, const PlayOptions& game, std::istream& in, std::ostream& out,
         bool colour);
int selfplay(const BotOptions& options);
int bestmove(const BotOptions& options, const std::string& moves, bool json, std::ostream& out,
             std::ostream& err);
// Every legal column ranked for the player to move, with the exact result where it settles.
int hint(const BotOptions& options, const std::string& moves, bool json, std::ostream& out,
         std::ostream& err);

struct LabelOptions {
    std::int64_t games = 100;
    std::int64_t perGame = 0; // positions kept per game, 0 for all
    std::int64_t minPly = 4;  // the solver takes over at a ply drawn from [minPly, maxOpening]
    std::int64_t maxOpening = 12;
    std::uint64_t seed = 1;
    // With botSims > 0 every game is the bot (first, root noise on) against the perfect player,
    // as in the referee's games, labelled from minPly on; maxOpening does not apply.
    std::int64_t botSims = 0;
    std::string model;                 // the bot's network; the shipped one when empty
    std::string book = "bench/book.tsv"; // the perfect player's remembered early choices
    std::string known;                 // label lines whose best columns are taken as given
    std::string from;                  // where the bot's games start, in the notation
};
int label(const LabelOptions& options, std::ostream& out, std::ostream& log);
// "s1,...,s7" with x for a full column, as the label lines hold them.
std::string formatScores(const std::array<std::optional<int>, 7>& scores);
std::optional<std::array<std::optional<int>, 7>> parseScores(const std::string& text); // empty if malformed
int bestScore(const std::array<std::optional<int>, 7>& scores); // of the open columns
std::vector<int> bestColumns(const std::array<std::optional<int>, 7>& scores); // at that score
struct LabelLine {
    std::string moves;
    std::array<std::optional<int>, 7> scores;
};
// "moves<TAB>s1,...,s7" with a score for exactly the open columns of a playable position.
std::optional<LabelLine> parseLabelLine(const std::string& line);

struct OpeningOptions {
    std::string from;        // the tree's root, in the notation
    std::int64_t plies = 10; // positions with fewer pieces than this are labelled
    std::string known;       // an earlier run's output: its lines are reused, not solved again
    std::size_t tableEntries = 67108859; // early positions share most of their subtrees
};
// Lines in the label format for every position reached from the root while both sides play
// only best-scoring columns: what the bot meets when it plays perfectly against a perfect
// player, shallowest first.
int opening(const OpeningOptions& options, std::ostream& out, std::ostream& log);

// The critical positions (some legal move changes the outcome) of `tarnwick critical`, in
// equal numbers for each phase: 4-9, 10-16, 17-24 and 25-34 stones.
struct CriticalPhase {
    int first, last; // stones on the board
};
const std::array<CriticalPhase, 4>& criticalPhases();
struct CriticalOptions {
    std::vector<std::int64_t> perPhase{400}; // by phase; the last count for the rest
    std::uint64_t seed = 32;
    std::int64_t maxGames = 1000000;
    std::int64_t solveFrom = 10;      // earlier, the players take only the known columns
    std::int64_t scoreFrom = 8;       // earlier, a position is kept only when its scores are known
    std::vector<std::string> exclude; // label files whose positions (and mirrors) are left out
    std::vector<std::string> known;   // label or book lines whose scores need no solving
    std::string out = "bench/critical.tsv"; // appended to: a second run carries on
    std::size_t tableEntries = 67108859;
};
// Status 1 when maxGames ran out before every phase was full.
int critical(const CriticalOptions& options, std::ostream& log);

inline constexpr const char* DefaultPositions = "bench/positions.tsv";
struct RefereeOptions {
    BotOptions bot;                           // sims 0: the network's own choice, no search
    std::string positions = DefaultPositions; // "moves<TAB>s1,...,s7" lines; empty: none
    // The critical set, reported beside; by default bench/critical.tsv when `positions` is
    // the default set, and none otherwise. Empty: none.
    std::optional<std::string> critical;
    int games = 0;                            // games against the perfect player, bot first
    std::string book = "bench/book.tsv";      // the perfect player's early choices
    std::string known;                        // label lines whose best columns it takes as given
    std::int64_t level = 8;                   // the bot's level; 8 is the designed bot
    bool exact = false;                       // at level 8: the solver's move where it settles
};
int referee(const RefereeOptions& options, std::ostream& out, std::ostream& err);

struct ArenaOptions {
    BotOptions bot; // bot.model plays first in even games
    std::string opponent;
    bool opponentInt8 = false;
    int games = 100;
    std::int64_t tau = 4; // opening moves sampled, so that games differ
};
struct EloEstimate {
    double difference = 0, low = 0, high = 0;
};
EloEstimate eloOf(int wins, int draws, int losses);
int arena(const ArenaOptions& options, std::ostream& out, std::ostream& err);

struct CalibrateOptions {
    BotOptions bot;
    std::string positions = "bench/critical.tsv";
    int games = 200;       // per pair of neighbouring levels
    int perfectGames = 0;  // per level, as first player against the perfect player
    std::string book = "bench/book.tsv";
    std::string known;
    std::string checkpoint = "calibration.txt"; // finished figures; a rerun skips them
};
// The level table: moves on the positions, games against the perfect player, Elo ladder.
int calibrate(const CalibrateOptions& options, std::ostream& out, std::ostream& log);

struct SelfPlayDataOptions {
    BotOptions bot;
    std::int64_t games = 100; // total, counting games of an earlier run into the same file
    std::int64_t tau = 10;    // opening moves chosen by sampling the visit counts
    std::string out = "selfplay.twsp";
};
int selfplayData(const SelfPlayDataOptions& options, std::ostream& log);

// Headline speed figures of the chosen model and of the search, as a short table.
int bench(const BotOptions& options, std::ostream& out);

// For each line of moves on `in`: the value and the 42 raw policy scores, on one line.
int evaluate(const BotOptions& options, std::istream& in, std::ostream& out, std::ostream& err);

int solve(const std::string& moves, std::ostream& out, std::ostream& err);

} // namespace tarnwick::cli
