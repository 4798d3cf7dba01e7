// tarnwick: play the bot, watch it play itself, ask it for a move, measure it.

#include <cstdint>
#include <cstdio>
#include <iostream>

#include <CLI/CLI.hpp>
#include <unistd.h>

#include "tools/tarnwick/Commands.hpp"
#include "tools/tarnwick/NumericOption.hpp"

int main(int argc, char** argv) {
    using namespace tarnwick::cli;
    CLI::App app{"tarnwick: the four-in-a-row bot of the Tarnwick library"};
    app.require_subcommand(1);

    // Every command shares `options`, so they all share one default simulation count.
    // Ranges of the numeric options, stated in their help texts.
    constexpr std::uint64_t maxSims = 1000000;
    constexpr std::uint64_t maxGames = 100000000;
    constexpr std::uint64_t maxSeed = UINT64_MAX;
    BotOptions options;
    auto botOptions = [&](CLI::App* command) {
        addNumber(command, "--sims", options.sims, 0, maxSims, "simulations per bot move")
            ->capture_default_str();
        command->add_option("--model", options.model,
                            "model resource folder (default: the shipped version0328.mlmodelc)");
        addNumber(command, "--seed", options.seed, 0, maxSeed, "seed of the random generator");
        command->add_flag(
            "--int8", options.int8,
            "run the network's convolutions in int8 (the model needs an int8 section)");
    };

    PlayOptions game;
    auto* play = app.add_subcommand("play", "play a game against the bot in the terminal");
    botOptions(play);
    play->add_flag("--bot-starts", game.botStarts, "let the bot make the first move");
    addNumber(play, "--tau", game.tau, 0, 42, "opening moves the bot chooses by sampling")
        ->capture_default_str();
    addNumber(play, "--level", game.level, 1, 8, "the bot's strength, 1 (beginner) to 8 (full)")
        ->capture_default_str();
    play->add_flag("--exact", game.exact, "at level 8, play the exact solver's move where it settles");

    auto* self = app.add_subcommand("selfplay", "print a whole bot-against-bot match");
    botOptions(self);

    std::string moves;
    bool json = false;
    auto* best = app.add_subcommand("bestmove", "print the bot's column (1-7) for a position");
    botOptions(best);
    best->add_option("MOVES", moves, "columns played so far, e.g. 4453 (empty: the start)");
    best->add_flag("--json", json, "also print visits, move distribution and network value");

    std::string hintMoves;
    bool hintJson = false;
    auto* hint = app.add_subcommand("hint", "rank every column for the player to move");
    botOptions(hint);
    hint->add_option("MOVES", hintMoves, "columns played so far, e.g. 4453 (empty: the start)");
    hint->add_flag("--json", hintJson, "print the hint as JSON");

    LabelOptions labelling;
    auto* label = app.add_subcommand(
        "label", "print positions from varied play or the bot's games with the perfect score of every column");
    addNumber(label, "--games", labelling.games, 0, maxGames, "games to play")
        ->capture_default_str();
    addNumber(label, "--per-game", labelling.perGame, 0, 42, "positions kept per game (0: all)")
        ->capture_default_str();
    addNumber(label, "--min-ply", labelling.minPly, 0, 42, "earliest labelled ply")
        ->capture_default_str();
    addNumber(label, "--max-opening", labelling.maxOpening, 0, 42,
              "latest ply of casual opening play, not below --min-ply")
        ->capture_default_str();
    addNumber(label, "--seed", labelling.seed, 0, maxSeed, "seed of the game generator")
        ->capture_default_str();
    addNumber(
        label, "--bot-sims", labelling.botSims, 0, maxSims,
        "play the bot (this many simulations) first against the perfect player; 0: varied play")
        ->capture_default_str();
    label->add_option("--model", labelling.model,
                      "the bot's model folder (default: the shipped version0328.mlmodelc)");
    label->add_option("--book", labelling.book, "file of the perfect player's remembered early choices")
        ->capture_default_str();
    label->add_option("--from", labelling.from, "where the bot's games start (default: the empty board)");
    label->add_option("--known", labelling.known,
                      "label lines (as tarnwick opening prints them) the perfect player need not solve");

    CriticalOptions criticalSet;
    auto* critical = app.add_subcommand(
        "critical", "write scored positions where some move changes the outcome, by phase (resumable)");
    critical->add_option("--per-phase", criticalSet.perPhase,
                         "positions in each phase, e.g. 100,500 (the last count for the rest)")
        ->delimiter(',')->capture_default_str();
    addNumber(critical, "--seed", criticalSet.seed, 0, maxSeed, "seed of the game generator");
    addNumber(critical, "--max-games", criticalSet.maxGames, 1, maxGames, "give up after this many games");
    addNumber(critical, "--solve-from", criticalSet.solveFrom, 0, 42,
              "earliest ply the players ask the solver (before it, known columns only)");
    addNumber(critical, "--score-from", criticalSet.scoreFrom, 0, 42,
              "fewer stones: kept only when --known answers every column");
    critical->add_option("--exclude", criticalSet.exclude,
                         "training label files: their positions, children and mirrors are left out");
    critical->add_option("--known", criticalSet.known, "label or book files whose scores are taken as given");
    critical->add_option("--out", criticalSet.out, "output file (appended to)")->capture_default_str();

    RefereeOptions judging;
    auto* referee = app.add_subcommand(
        "referee", "score the bot's moves against the perfect player's on a position set");
    botOptions(referee);
    referee->add_option("--positions", judging.positions, "position set (\"\": none)")->capture_default_str();
    std::string criticalPath;
    auto* criticalOption = referee->add_option(
        "--critical", criticalPath,
        "critical position set reported beside (default: bench/critical.tsv with the default set; \"\": none)");
    addNumber(referee, "--games", judging.games, 0, maxGames,
              "games against the perfect player, bot first")
        ->capture_default_str();
    referee->add_option("--known", judging.known,
                        "label lines (as tarnwick opening prints them) the perfect player need not solve");
    referee->add_option("--book", judging.book, "file of the perfect player's remembered early choices")
        ->capture_default_str();
    addNumber(referee, "--level", judging.level, 1, 8, "the bot's strength, 1 (beginner) to 8 (full)")
        ->capture_default_str();
    referee->add_flag("--exact", judging.exact,
                      "at level 8, play the exact solver's move where it settles");

    CalibrateOptions calibration;
    auto* calibrate = app.add_subcommand(
        "calibrate", "measure every level: position set, perfect player, Elo ladder (resumable)");
    botOptions(calibrate);
    calibrate->add_option("--positions", calibration.positions, "position set")->capture_default_str();
    addNumber(calibrate, "--games", calibration.games, 0, maxGames,
              "games per pair of neighbouring levels");
    addNumber(calibrate, "--perfect-games", calibration.perfectGames, 0, maxGames,
              "games per level as first player against the perfect player");
    calibrate->add_option("--book", calibration.book, "the perfect player's remembered early choices")
        ->capture_default_str();
    calibrate->add_option("--known", calibration.known, "label lines the perfect player need not solve");
    calibrate->add_option("--checkpoint", calibration.checkpoint, "file of finished figures")
        ->capture_default_str();

    ArenaOptions match;
    auto* arena = app.add_subcommand("arena", "play two models against each other");
    botOptions(arena);
    arena->add_option("--opponent", match.opponent, "the second model's folder (default: shipped)");
    arena->add_flag("--opponent-int8", match.opponentInt8,
                    "the second model in int8 (--int8: the first)");
    addNumber(arena, "--games", match.games, 0, maxGames, "games, colours alternating")
        ->capture_default_str();
    addNumber(arena, "--tau", match.tau, 0, 42, "opening moves chosen by sampling")
        ->capture_default_str();

    auto* benchmark = app.add_subcommand("bench", "print network latency, search speed and move time");
    botOptions(benchmark);

    auto* evaluate = app.add_subcommand(
        "evaluate", "print the network's value and 42 raw scores for each line of moves on stdin");
    evaluate->add_option("--model", options.model,
                         "model resource folder (default: the shipped version0328.mlmodelc)");
    evaluate->add_flag("--int8", options.int8, "run the network's convolutions in int8");

    SelfPlayDataOptions records;
    auto* selfplayData = app.add_subcommand(
        "selfplay-data", "write training records from the bot playing itself (resumable)");
    botOptions(selfplayData);
    addNumber(selfplayData, "--games", records.games, 0, maxGames, "games in the file when done")
        ->capture_default_str();
    addNumber(selfplayData, "--tau", records.tau, 0, 42, "opening moves chosen by sampling")
        ->capture_default_str();
    selfplayData->add_option("--out", records.out, "record file (appended to)")->capture_default_str();

    OpeningOptions openingTree;
    auto* opening = app.add_subcommand(
        "opening", "print the perfect-play tree of the opening with the score of every column");
    opening->add_option("--from", openingTree.from, "the tree's root, e.g. 4 (default: the empty board)");
    addNumber(opening, "--plies", openingTree.plies, 0, 43,
              "label positions with fewer pieces than this")
        ->capture_default_str();
    opening->add_option("--known", openingTree.known,
                        "an earlier run's output, whose lines are reused, not solved again");

    std::string solveMoves;
    auto* solve = app.add_subcommand("solve", "print the perfect score of every column");
    solve->add_option("MOVES", solveMoves, "columns played so far, e.g. 4453");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help exits 0; every refused command line exits 2, as the commands' own checks do.
        return app.exit(error) == 0 ? 0 : 2;
    }
    try {
        if (*play) return tarnwick::cli::play(options, game, std::cin, std::cout,
                                              isatty(STDOUT_FILENO) && isatty(STDIN_FILENO));
        if (*hint) return tarnwick::cli::hint(options, hintMoves, hintJson, std::cout, std::cerr);
        if (*self) return selfplay(options);
        if (*best) return bestmove(options, moves, json, std::cout, std::cerr);
        if (*label) return tarnwick::cli::label(labelling, std::cout, std::cerr);
        if (*critical) return tarnwick::cli::critical(criticalSet, std::cerr);
        if (*referee) {
            judging.bot = options;
            if (criticalOption->count() > 0) judging.critical = criticalPath;
            return tarnwick::cli::referee(judging, std::cout, std::cerr);
        }
        if (*calibrate) {
            calibration.bot = options;
            return tarnwick::cli::calibrate(calibration, std::cout, std::cerr);
        }
        if (*arena) {
            match.bot = options;
            return tarnwick::cli::arena(match, std::cout, std::cerr);
        }
        if (*benchmark) return tarnwick::cli::bench(options, std::cout);
        if (*evaluate) return tarnwick::cli::evaluate(options, std::cin, std::cout, std::cerr);
        if (*selfplayData) {
            records.bot = options;
            return tarnwick::cli::selfplayData(records, std::cerr);
        }
        if (*opening) return tarnwick::cli::opening(openingTree, std::cout, std::cerr);
        if (*solve) return tarnwick::cli::solve(solveMoves, std::cout, std::cerr);
    } catch (const std::exception& error) {
        std::cerr << "tarnwick: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
