#include "tools/tarnwick/HintText.hpp"

#include <iomanip>
#include <ostream>

namespace tarnwick::cli {

std::string describeVerdict(const Verdict& verdict) {
    const auto n = std::to_string(verdict.moves);
    const auto moves = verdict.moves == 1 ? std::string(" move") : std::string(" moves");
    switch (verdict.result) {
    case Verdict::Result::win:
        return "wins in " + n + moves;
    case Verdict::Result::loss:
        return "loses in " + n + moves;
    case Verdict::Result::draw:
        break;
    }
    return "draw";
}

void printHint(const Hint& hint, std::ostream& out) {
    out << "column  visits  win chance  exact\n";
    for (const auto& c : hint.columns) {
        out << std::setw(6) << c.column + 1 << std::setw(7) << std::fixed << std::setprecision(0)
            << 100.0 * c.visitShare << "%";
        if (c.winChance)
            out << std::setw(11) << 100.0 * *c.winChance << "%";
        else
            out << std::setw(12) << "-";
        out << "  " << (c.verdict ? describeVerdict(*c.verdict) : std::string("-")) << "\n";
    }
}

nlohmann::json hintJson(const Hint& hint) {
    auto columns = nlohmann::json::array();
    for (const auto& c : hint.columns) {
        nlohmann::json column{{"column", c.column + 1}, {"visitShare", c.visitShare}};
        column["winChance"] = c.winChance ? nlohmann::json(*c.winChance) : nlohmann::json();
        if (c.verdict) {
            const auto result = c.verdict->result == Verdict::Result::win    ? "win"
                                : c.verdict->result == Verdict::Result::loss ? "loss"
                                                                             : "draw";
            column["verdict"] = {{"result", result}, {"moves", c.verdict->moves}};
        } else {
            column["verdict"] = nullptr;
        }
        columns.push_back(column);
    }
    return {{"simulations", hint.simulations},
            {"exact", hint.exact},
            {"best", hint.columns.empty() ? 0 : hint.columns.front().column + 1},
            {"columns", columns}};
}

} // namespace tarnwick::cli
