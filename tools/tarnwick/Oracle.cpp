#include "tools/tarnwick/Oracle.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tools/tarnwick/Commands.hpp"

namespace tarnwick::cli {

using solver::Position;

Oracle::Oracle(std::string bookPath, const std::string& known) : bookPath_(std::move(bookPath)) {
    readLabels(known);
    std::ifstream in(bookPath_);
    std::string line;
    while (std::getline(in, line)) {
        std::stringstream fields(line);
        std::string moves, score, columns;
        if (!std::getline(fields, moves, '\t') || !std::getline(fields, score, '\t') ||
            !std::getline(fields, columns) || columns.empty())
            continue;
        solver::Solver::Best best;
        try {
            std::size_t used = 0;
            best.score = std::stoi(score, &used);
            if (used != score.size()) continue;
        } catch (const std::exception&) {
            continue;
        }
        const auto position = Position::fromMoves(moves);
        if (!position) continue;
        for (const char c : columns) best.columns.push_back(c - '1');
        if (std::all_of(best.columns.begin(), best.columns.end(),
                        [&](int c) { return position->canPlay(c); }))
            known_[moves] = std::move(best);
    }
}

const solver::Solver::Best& Oracle::best(const std::string& moves) {
    if (const auto it = known_.find(moves); it != known_.end()) return it->second;
    const auto position = Position::fromMoves(moves);
    if (!position) throw std::invalid_argument("not a playable position: \"" + moves + "\"");
    const auto& best = known_[moves] = solver_.bestMoves(*position);
    if (!bookPath_.empty() && position->moves() < BookPlies) {
        std::string columns;
        for (const int c : best.columns) columns += static_cast<char>('1' + c);
        std::ofstream(bookPath_, std::ios::app)
            << moves << '\t' << best.score << '\t' << columns << '\n';
    }
    return best;
}

void Oracle::readLabels(const std::string& path) {
    if (path.empty()) return;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const auto label = parseLabelLine(line);
        if (!label) continue;
        known_[label->moves] = {bestScore(label->scores), bestColumns(label->scores)};
    }
}

} // namespace tarnwick::cli
