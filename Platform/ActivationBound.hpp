#pragma once
// A load-time proof that the tower cannot overflow: every activation's magnitude is bounded
// by interval arithmetic over the weights, for any input of zeros and ones.

#include <string>

#include "Platform/ModelResource.hpp"

namespace tarnwick::platform {

// Bounds beyond this are refused. float32 overflows near 3.4e38; the margin covers the
// interpreter's Winograd transforms, which scale intermediate sums by at most a few 10^4.
inline constexpr double activationLimit = 1e32;

// The largest magnitude any sum inside the tower can reach; infinite when it overflows.
double activationBound(const TowerWeights& weights);

// Throws MLModelError naming `label` and the first layer whose bound exceeds the limit.
void checkActivationBound(const TowerWeights& weights, const std::string& label);

} // namespace tarnwick::platform
