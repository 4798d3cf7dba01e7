#pragma once
// Small networks in the model resource format, written to a temporary folder, whose outputs
// are known in advance: every weight is zero but the output biases, so the value is
// tanh(valueBias) and the policy scores are `policyBias` whatever the position.

#include <filesystem>
#include <memory>
#include <vector>

#include "DerivedSources/CoreMLGenerated/version0328/version0328.hpp"

namespace tarnwick::testing {

std::filesystem::path writeBiasModel(const std::filesystem::path& folder,
                                     const std::vector<float>& policyBias, float valueBias);

// Policy scores `score` at every cell of `column` (0..6), 0 elsewhere.
std::vector<float> favourColumn(int column, float score);

std::shared_ptr<version0328> loadBiasModel(const std::vector<float>& policyBias, float valueBias);

} // namespace tarnwick::testing
