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
// Version 2 adds the int8 section (docs/model-format.md); its float tensors are version 1's.
inline constexpr std::int64_t modelInt8FormatVersion = 2;

struct TowerArchitecture {
    std::int64_t blocks = 0;
    std::int64_t filters = 0;
    std::int64_t policyFilters = 0;
    std::int64_t valueFilters = 0;
    std::int64_t valueHidden = 0;
};

// A 3x3 convolution's int8 export: weights [out][in][3][3] in -127..127, one positive scale
// per output channel, and the scale of its unsigned 8-bit input codes.
struct QuantizedConvWeights {
    std::vector<std::int8_t> weight;
    std::vector<float> weightScale;
    float inputScale = 0;
};

struct TowerWeights {
    TowerArchitecture architecture;
    std::map<std::string, std::vector<float>> tensors;
    std::string description;
    // By layer ("stem", "block0.conv1", ...); empty unless the resource has an int8 section.
    std::map<std::string, QuantizedConvWeights> int8 = {};
    std::string calibration = {};
};

// The tensor names and shapes an architecture needs, in file order.
std::vector<std::pair<std::string, std::vector<std::int64_t>>>
expectedTensors(const TowerArchitecture& architecture);

// The 3x3 convolutions' names, in file order: the layers an int8 section covers.
std::vector<std::string> convLayerNames(const TowerArchitecture& architecture);

std::uint64_t fnv1a64(const std::string& bytes);

// Throw MLModelError with a message naming `label` (the file) and the problem.
TowerWeights parseModelResource(const std::string& manifestText, const std::string& weightsBytes,
                                const std::string& label);
TowerWeights readModelResource(const std::filesystem::path& folder);

} // namespace tarnwick::platform
