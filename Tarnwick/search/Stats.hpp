#pragma once

namespace tarnwick {

// Statistics of one edge. W and Q are seen from the player who makes the edge's move.
struct Stats {
    double N; // back-ups through the edge
    double W; // sum of the backed-up values
    double Q; // W / N, rewritten at every back-up
    double P; // prior of the move, fixed when the edge is made
};

} // namespace tarnwick
