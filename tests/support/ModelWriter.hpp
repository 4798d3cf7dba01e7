#pragma once
// Model resources of any architecture with weights the test chooses, for tests that need more
// than the zero-weight networks of tests/support/TestModels.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Platform/ModelResource.hpp"

namespace tarnwick::testing {

using Tensors = std::map<std::string, std::vector<float>>;

// Every tensor the architecture needs, uniform in +-1/sqrt(fan-in) so that activations stay
// of order one through the tower and float32 rounding stays far below test tolerances.
Tensors randomTensors(const platform::TowerArchitecture& architecture, std::uint32_t seed);

// The manifest and weights bytes of a resource. Tensors are laid out in the reverse of the
// manifest's order, so a reader that ignores the offsets gets wrong values.
struct Resource {
    nlohmann::json manifest;
    std::string weights;
};
Resource makeResource(const platform::TowerArchitecture& architecture, const Tensors& tensors);

// Makes `resource` a version-2 model with an int8 section: every 3x3 convolution's weights
// quantized symmetrically per output channel (largest magnitude to 127), with the given input
// scale per layer ("stem", "block0.conv1", ...). Appended after the float tensors; resealed.
void addInt8Section(Resource& resource, const platform::TowerArchitecture& architecture,
                    const Tensors& tensors, const std::map<std::string, float>& inputScales);

// Sets "weights.bytes" and the checksum to match `weights`, after a test changed them.
void reseal(Resource& resource);

std::filesystem::path writeResource(const std::filesystem::path& folder, const Resource& resource);

// A fresh path under the temp directory, unique in this process; not created.
std::filesystem::path scratchFolder(const std::string& tag);

} // namespace tarnwick::testing
