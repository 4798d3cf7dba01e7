#pragma once
// A hint as a person reads it, and as JSON for programs.

#include <iosfwd>
#include <string>

#include <nlohmann/json.hpp>

#include "Tarnwick/play/Hint.hpp"

namespace tarnwick::cli {

std::string describeVerdict(const Verdict& verdict);
// One line per column, best first.
void printHint(const Hint& hint, std::ostream& out);
nlohmann::json hintJson(const Hint& hint);

} // namespace tarnwick::cli
