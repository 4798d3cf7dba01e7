#pragma once
// Reading and checking a model resource folder: the manifest, the weights file and every
// tensor's shape and values. Nothing of a resource is trusted before it is checked.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tarnwick::platform {

inline constexpr const char* modelFormatName = "tarnwick-mlmodel";
inline constexpr std::int64_t modelFormatVersion = 1;

struct TowerArchitecture {
    std::int64_t blocks = 0;
    std::int64_t filters = 0;
    std::int64_t policyFilters = 0;
    std::int64_t valueFilters = 0;
    std::int64_t valueHidden = 0;
};

struct TowerWeights {
    TowerArchitecture architecture;
    std::map<std::string, std::vector<float>> tensors;
    std::string description;
};

// The tensor names and shapes an architecture needs, in file order.
std::vector<std::pair<std::string, std::vector<std::int64_t>>>
expectedTensors(const TowerArchitecture& architecture);

std::uint64_t fnv1a64(const std::string& bytes);

// Throw MLModelError with a message naming `label` (the file) and the problem.
TowerWeights parseModelResource(const std::string& manifestText, const std::string& weightsBytes,
                                const std::string& label);
TowerWeights readModelResource(const std::filesystem::path& folder);

} // namespace tarnwick::platform
