#pragma once
// The modes of the `tarnwick` command line, each a thin adapter over the library.

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "DerivedSources/CoreMLGenerated/version0328/version0328.hpp"

namespace tarnwick::cli {

struct BotOptions {
    std::int64_t sims = 50;
    std::string model; // a model resource folder; the shipped one when empty
    std::optional<std::uint64_t> seed;
};

// Loads the chosen network once; throws with a message naming the folder.
std::shared_ptr<version0328> loadModel(const std::string& folder);
void applySeed(const BotOptions& options);

int play(const BotOptions& options, bool botStarts, std::int64_t tau, std::istream& in,
         std::ostream& out, bool colour);
int selfplay(const BotOptions& options);
int bestmove(const BotOptions& options, const std::string& moves, bool json, std::ostream& out,
             std::ostream& err);

} // namespace tarnwick::cli
