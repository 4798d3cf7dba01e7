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

    BotOptions options;
    auto botOptions = [&](CLI::App* command, std::int64_t defaultSims) {
        options.sims = defaultSims;
        command->add_option("--sims", options.sims, "simulations per bot move")->capture_default_str();
        command->add_option("--model", options.model,
                            "model resource folder (default: the shipped version0328.mlmodelc)");
        command->add_option("--seed", options.seed, "seed of the random generator");
    };

    bool botStarts = false;
    std::int64_t tau = 0;
    auto* play = app.add_subcommand("play", "play a game against the bot in the terminal");
    botOptions(play, 50);
    play->add_flag("--bot-starts", botStarts, "let the bot make the first move");
    play->add_option("--tau", tau, "opening moves the bot chooses by sampling")->capture_default_str();

    auto* self = app.add_subcommand("selfplay", "print a whole bot-against-bot match");
    botOptions(self, 50);

    std::string moves;
    bool json = false;
    auto* best = app.add_subcommand("bestmove", "print the bot's column (1-7) for a position");
    botOptions(best, 50);
    best->add_option("MOVES", moves, "columns played so far, e.g. 4453 (empty: the start)");
    best->add_flag("--json", json, "also print visits, move distribution and network value");


    CLI11_PARSE(app, argc, argv);
    try {
        if (*play) return tarnwick::cli::play(options, botStarts, tau, std::cin, std::cout,
                                              isatty(STDOUT_FILENO) && isatty(STDIN_FILENO));
        if (*self) return selfplay(options);
        if (*best) return bestmove(options, moves, json, std::cout, std::cerr);
    } catch (const std::exception& error) {
        std::cerr << "tarnwick: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
