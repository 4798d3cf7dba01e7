#pragma once
// What the C interface's opaque handles hold.

#include <memory>
#include <string>

#include "Platform/ModelResource.hpp"
#include "Tarnwick/play/GameSession.hpp"
#include "include/tarnwick/tarnwick.h"

// Checked weights, never changed after loading, so any number of sessions on any threads may
// read them. Each session builds its own interpreter from them, because an interpreter's work
// buffers belong to one thread at a time.
struct tarnwick_model {
    std::shared_ptr<const tarnwick::platform::TowerWeights> weights;
};

struct tarnwick_session {
    tarnwick::GameSession game;
    // The match so far in notation, for a host that saves and restores it.
    std::string moves;
    // The user's column has been stored since the last move.
    bool userChose = false;
};
