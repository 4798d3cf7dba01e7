#include "Tarnwick/play/Hint.hpp"

#include <algorithm>

namespace tarnwick {

Verdict verdictOf(int score, int stones) {
    // A win with the mover's k-th stone scores 22 - k (a loss the negative, k being the
    // opponent's stone); each has placed half the stones so far, the first player the
    // larger half.
    const int last = (solver::Position::Cells + 2) / 2;
    if (score > 0) return {Verdict::Result::win, last - score - stones / 2};
    if (score < 0) return {Verdict::Result::loss, last + score - (stones + 1) / 2};
    return {Verdict::Result::draw, 0};
}

std::optional<Hint> hintFor(ZenfoldAgent& bot, const std::shared_ptr<GameState>& state,
                            const HintOptions& options, solver::Solver& solver) {
    if (!state || state->isEndGame()) return std::nullopt;
    const auto legal = state->allowedActions();
    if (legal.empty()) return std::nullopt;

    // The bot keeps its own tree; the hint's search borrows the bot's network only.
    const auto savedTree = bot.mcts;
    const auto savedSims = bot.mctsSimulations;
    bot.mcts = nullptr;
    bot.mctsSimulations = std::max<std::int64_t>(1, options.simulations);
    std::shared_ptr<MCTS> tree;
    try {
        bot.act(state, false);
        tree = bot.mcts;
    } catch (...) {
        bot.mcts = savedTree;
        bot.mctsSimulations = savedSims;
        throw;
    }
    bot.mcts = savedTree;
    bot.mctsSimulations = savedSims;

    Hint hint{state->playerTurn, {}, std::max<std::int64_t>(1, options.simulations), false};
    double total = 0.0;
    for (const auto& edge : tree->root->edges)
        total += edge->stats.N;
    for (const auto action : legal) {
        ColumnHint column{action % 7, action, 0.0, std::nullopt, std::nullopt};
        for (const auto& edge : tree->root->edges) {
            if (edge->action != action) continue;
            column.visitShare = total > 0 ? edge->stats.N / total : 0.0;
            if (edge->stats.N > 0) column.winChance = (edge->stats.Q + 1.0) / 2.0;
        }
        hint.columns.push_back(column);
    }

    // Until the root has a visit, every move is as likely as the others, as in the designed
    // move distribution.
    if (total == 0)
        for (auto& column : hint.columns)
            column.visitShare = 1.0 / static_cast<double>(hint.columns.size());

    std::array<int, 7> score{};
    if (const auto position = solver::Position::fromState(*state)) {
        const auto scores = solver.scoreMoves(*position, options.limits);
        hint.exact = true;
        for (auto& column : hint.columns) {
            const auto& s = scores[static_cast<std::size_t>(column.column)];
            if (s) {
                column.verdict = verdictOf(*s, position->moves());
                score[static_cast<std::size_t>(column.column)] = *s;
            }
            hint.exact = hint.exact && s.has_value();
        }
    }
    // A settled win ranks above every unsettled column and a settled loss below; among
    // settled ones the exact score decides, elsewhere the search.
    auto bucket = [](const ColumnHint& c) {
        if (!c.verdict || c.verdict->result == Verdict::Result::draw) return 1;
        return c.verdict->result == Verdict::Result::win ? 0 : 2;
    };
    std::stable_sort(hint.columns.begin(), hint.columns.end(),
                     [&](const ColumnHint& a, const ColumnHint& b) {
                         if (bucket(a) != bucket(b)) return bucket(a) < bucket(b);
                         const auto sa = score[static_cast<std::size_t>(a.column)];
                         const auto sb = score[static_cast<std::size_t>(b.column)];
                         if ((hint.exact || bucket(a) != 1) && sa != sb) return sa > sb;
                         if (a.visitShare != b.visitShare) return a.visitShare > b.visitShare;
                         return a.winChance.value_or(0.0) > b.winChance.value_or(0.0);
                     });
    return hint;
}

} // namespace tarnwick
