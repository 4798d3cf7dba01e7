#pragma once
// The perfect player's choices, remembered; early positions (slow to solve) are also kept in a
// book file, one "moves<TAB>score<TAB>best columns" line each, so that later runs find them at
// once. A line that does not parse is ignored and solved again.

#include <map>
#include <string>

#include "Tarnwick/solver/Solver.hpp"

namespace tarnwick::cli {

class Oracle {
public:
    // `known`: label lines ("moves<TAB>s1,...,s7", as `tarnwick opening` prints them) whose
    // best columns are taken as they stand. Either path may be empty.
    Oracle(std::string bookPath, const std::string& known);

    // Throws std::invalid_argument when `moves` is not a playable position.
    const solver::Solver::Best& best(const std::string& moves);

private:
    void readLabels(const std::string& path);

    static constexpr int BookPlies = 12;
    static constexpr std::size_t TableEntries = 67108859; // early positions want ~600 MB
    std::string bookPath_;
    std::map<std::string, solver::Solver::Best> known_;
    solver::Solver solver_{TableEntries};
};

} // namespace tarnwick::cli
