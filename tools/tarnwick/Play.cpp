// A game against the bot in the terminal, driven through GameSession as a host would drive it.

#include <algorithm>
#include <iostream>
#include <string>

#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/play/GameSession.hpp"
#include "Tarnwick/search/Random.hpp"
#include "tools/tarnwick/Commands.hpp"
#include "tools/tarnwick/HintText.hpp"

namespace tarnwick::cli {

namespace {

void drawBoard(const GameSession& session, std::ostream& out, bool colour,
               const std::vector<std::int64_t>& highlight = {}) {
    const auto& board = session.game->gameState->board;
    // Cells hold the mover's playerTurn, which is the bot's +1 when the bot opened.
    const std::int64_t user = session.botStarts() ? -1 : 1;
    out << "\n";
    for (std::int64_t row = 0; row < 6; ++row) {
        out << " |";
        for (std::int64_t column = 0; column < 7; ++column) {
            const auto cell = row * 7 + column;
            const auto v = board[static_cast<std::size_t>(cell)];
            const bool lit = std::find(highlight.begin(), highlight.end(), cell) != highlight.end();
            std::string piece = v == user ? "X" : v == -user ? "O" : ".";
            if (colour && v != 0) {
                // The user's pieces are yellow and the bot's red, as the session reports them.
                const std::string tint = v == user ? "\033[33m" : "\033[31m";
                piece = tint + (lit ? "\033[7m" : "") + "\u25CF" + "\033[0m";
            } else if (lit) {
                piece = v == user ? "x" : "o";
            }
            out << " " << piece;
        }
        out << " |\n";
    }
    out << " +---------------+\n   1 2 3 4 5 6 7\n";
}

std::string describeCell(std::int64_t cell) {
    return "column " + std::to_string(cell % 7 + 1) + " row " + std::to_string(6 - cell / 7);
}

void printOutcome(const GameSession& session, std::ostream& out, bool colour) {
    const auto outcome = session.outcome();
    drawBoard(session, out, colour, outcome ? outcome->winningPieces : std::vector<std::int64_t>{});
    if (!outcome) return;
    out << outcome->message << "\n";
    if (outcome->winningPieces.empty()) return;
    // A piece on two lines is listed once here.
    std::vector<std::int64_t> cells;
    for (auto cell : outcome->winningPieces)
        if (std::find(cells.begin(), cells.end(), cell) == cells.end()) cells.push_back(cell);
    out << "Winning cells:";
    for (std::size_t i = 0; i < cells.size(); ++i)
        out << (i ? ", " : " ") << describeCell(cells[i]);
    out << "\n";
}

// The finished game, then u to take back or anything else to leave; false to leave.
bool showOutcome(GameSession& session, std::ostream& out, bool colour, std::istream& in) {
    printOutcome(session, out, colour);
    out << "Type u to take back a move, anything else to quit: " << std::flush;
    std::string line;
    if (std::getline(in, line) && line.find_first_not_of(" \t\r") != std::string::npos &&
        line.substr(line.find_first_not_of(" \t\r"), 1) == "u" && session.undo()) {
        out << "Move taken back.\n";
        return true;
    }
    out << "\nGoodbye.\n";
    return false;
}

} // namespace

int play(const BotOptions& options, const PlayOptions& game, std::istream& in, std::ostream& out,
         bool colour) {
    applySeed(options);
    GameSession session;
    session.clear(false, game.tau, options.sims);
    if (!session.setLevel(game.level)) {
        out << "There is no level " << game.level << "; levels go from 1 to 8.\n";
        return 2;
    }
    session.setExactPlay(game.exact);
    if (!options.model.empty())
        std::dynamic_pointer_cast<ZenfoldAgent>(session.players->at(-1))
            ->setModel(loadModel(options.model, options.int8));
    if (game.botStarts) session.setBotStarts(true);
    out << "You are " << (colour ? "yellow" : "X") << ", Tavrick is " << (colour ? "red" : "O")
        << " (level " << session.level() << ", " << levelNamed(session.level())->name
        << "). Type a column 1 to 7, h for a hint, u to take back a move, or q to quit.\n";
    bool redraw = true;
    while (true) {
        // After the end only a take-back or leaving is left.
        if (session.done) {
            if (!showOutcome(session, out, colour, in)) return 0;
            redraw = true;
            continue;
        }
        if (redraw) drawBoard(session, out, colour);
        redraw = true;
        if (session.game->currentPlayer == -1) {
            out << "Tavrick is thinking..." << std::endl;
            const auto played = session.move();
            if (!played) {
                out << "Tavrick has no move.\n";
                return 1;
            }
            out << "Tavrick plays column " << played->action % 7 + 1 << ".\n";
            continue;
        }
        out << "Your move: " << std::flush;
        std::string line;
        if (!std::getline(in, line)) {
            out << "\nGoodbye.\n";
            return 0;
        }
        line.erase(0, line.find_first_not_of(" \t\r"));
        line.erase(line.find_last_not_of(" \t\r") + 1);
        if (line == "q" || line == "quit") {
            out << "Goodbye.\n";
            return 0;
        }
        if (line == "u") {
            out << (session.undo() ? "Move taken back.\n" : "There is no move to take back.\n");
            continue;
        }
        if (line == "h") {
            const auto advice = session.hint();
            if (advice) printHint(*advice, out);
            redraw = false;
            continue;
        }
        if (line.size() != 1 || line[0] < '1' || line[0] > '7') {
            out << "Please type a column number from 1 to 7 (h hint, u undo, q quit).\n";
            continue;
        }
        const int column = line[0] - '1';
        if (!session.userPlay(column)) {
            out << "Column " << column + 1 << " is full; choose another.\n";
            continue;
        }
        session.move();
    }
}

} // namespace tarnwick::cli
