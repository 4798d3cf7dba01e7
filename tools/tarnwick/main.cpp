// tarnwick: play the bot, watch it play itself, ask it for a move, measure it.

#include <cstdio>
#include <iostream>

#include <CLI/CLI.hpp>
#include <unistd.h>

#include "tools/tarnwick/Commands.hpp"

int main(int argc, char** argv) {
    using namespace tarnwick::cli;
    CLI::App app{"tarnwick: the four-in-a-row bot of the Tarnwick library"};
    app.require_subcommand(1);

    // Every command shares `options`, so they all share one default simulation count.
    BotOptions options;
    auto botOptions = [&](CLI::App* command) {
        command->add_option("--sims", options.sims, "simulations per bot move")->capture_default_str();
        command->add_option("--model", options.model,
                            "model resource folder (default: the shipped version0328.mlmodelc)");
        command->add_option("--seed", options.seed, "seed of the random generator");
    };

    PlayOptions game;
    auto* play = app.add_subcommand("play", "play a game against the bot in the terminal");
    botOptions(play);
    play->add_flag("--bot-starts", game.botStarts, "let the bot make the first move");
    play->add_option("--tau", game.tau, "opening moves the bot chooses by sampling")->capture_default_str();
    play->add_option("--level", game.level, "the bot's strength, 1 (beginner) to 8 (full)")
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
    label->add_option("--games", labelling.games, "games to play")->capture_default_str();
    label->add_option("--per-game", labelling.perGame, "positions kept per game (0: all)")
        ->capture_default_str();
    label->add_option("--min-ply", labelling.minPly, "earliest labelled ply")->capture_default_str();
    label->add_option("--max-opening", labelling.maxOpening, "latest ply of casual opening play")
        ->capture_default_str();
    label->add_option("--seed", labelling.seed, "seed of the game generator")->capture_default_str();
    label->add_option("--bot-sims", labelling.botSims,
                      "play the bot (this many simulations) first against the perfect player; 0: varied play")
        ->capture_default_str();
    label->add_option("--model", labelling.model,
                      "the bot's model folder (default: the shipped version0328.mlmodelc)");
    label->add_option("--book", labelling.book, "file of the perfect player's remembered early choices")
        ->capture_default_str();
    label->add_option("--from", labelling.from, "where the bot's games start (default: the empty board)");
    label->add_option("--known", labelling.known,
                      "label lines (as tarnwick opening prints them) the perfect player need not solve");

    RefereeOptions judging;
    auto* referee = app.add_subcommand(
        "referee", "score the bot's moves against the perfect player's on a position set");
    botOptions(referee);
    referee->add_option("--positions", judging.positions, "position set")->capture_default_str();
    referee->add_option("--games", judging.games, "games against the perfect player, bot first")
        ->capture_default_str();
    referee->add_option("--known", judging.known,
                        "label lines (as tarnwick opening prints them) the perfect player need not solve");
    referee->add_option("--book", judging.book, "file of the perfect player's remembered early choices")
        ->capture_default_str();

    CalibrateOptions calibration;
    auto* calibrate = app.add_subcommand(
        "calibrate", "measure every level: position set, perfect player, Elo ladder (resumable)");
    botOptions(calibrate);
    calibrate->add_option("--positions", calibration.positions, "position set")->capture_default_str();
    calibrate->add_option("--games", calibration.games, "games per pair of neighbouring levels")
        ->capture_default_str();
    calibrate->add_option("--perfect-games", calibration.perfectGames,
                          "games per level as first player against the perfect player")
        ->capture_default_str();
    calibrate->add_option("--book", calibration.book, "the perfect player's remembered early choices")
        ->capture_default_str();
    calibrate->add_option("--known", calibration.known, "label lines the perfect player need not solve");
    calibrate->add_option("--checkpoint", calibration.checkpoint, "file of finished figures")
        ->capture_default_str();

    ArenaOptions match;
    auto* arena = app.add_subcommand("arena", "play two models against each other");
    botOptions(arena);
    arena->add_option("--opponent", match.opponent, "the second model's folder (default: shipped)");
    arena->add_option("--games", match.games, "games, colours alternating")->capture_default_str();
    arena->add_option("--tau", match.tau, "opening moves chosen by sampling")->capture_default_str();

    auto* benchmark = app.add_subcommand("bench", "print network latency, search speed and move time");
    botOptions(benchmark);

    auto* evaluate = app.add_subcommand(
        "evaluate", "print the network's value and 42 raw scores for each line of moves on stdin");
    evaluate->add_option("--model", options.model,
                         "model resource folder (default: the shipped version0328.mlmodelc)");

    SelfPlayDataOptions records;
    auto* selfplayData = app.add_subcommand(
        "selfplay-data", "write training records from the bot playing itself (resumable)");
    botOptions(selfplayData);
    selfplayData->add_option("--games", records.games, "games in the file when done")->capture_default_str();
    selfplayData->add_option("--tau", records.tau, "opening moves chosen by sampling")->capture_default_str();
    selfplayData->add_option("--out", records.out, "record file (appended to)")->capture_default_str();

    OpeningOptions openingTree;
    auto* opening = app.add_subcommand(
        "opening", "print the perfect-play tree of the opening with the score of every column");
    opening->add_option("--from", openingTree.from, "the tree's root, e.g. 4 (default: the empty board)");
    opening->add_option("--plies", openingTree.plies, "label positions with fewer pieces than this")
        ->capture_default_str();
    opening->add_option("--known", openingTree.known,
                        "an earlier run's output, whose lines are reused, not solved again");

    std::string solveMoves;
    auto* solve = app.add_subcommand("solve", "print the perfect score of every column");
    solve->add_option("MOVES", solveMoves, "columns played so far, e.g. 4453");

    CLI11_PARSE(app, argc, argv);
    try {
        if (*play) return tarnwick::cli::play(options, game, std::cin, std::cout,
                                              isatty(STDOUT_FILENO) && isatty(STDIN_FILENO));
        if (*hint) return tarnwick::cli::hint(options, hintMoves, hintJson, std::cout, std::cerr);
        if (*self) return selfplay(options);
        if (*best) return bestmove(options, moves, json, std::cout, std::cerr);
        if (*label) return tarnwick::cli::label(labelling, std::cout, std::cerr);
        if (*referee) {
            judging.bot = options;
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
