#include "tests/support/TestModels.hpp"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "Platform/ModelResource.hpp"
#include <unistd.h>

namespace tarnwick::testing {

std::vector<float> favourColumn(int column, float score) {
    std::vector<float> bias(42, 0.f);
    for (int row = 0; row < 6; ++row) bias[static_cast<std::size_t>(row * 7 + column)] = score;
    return bias;
}

std::filesystem::path writeBiasModel(const std::filesystem::path& folder,
                                     const std::vector<float>& policyBias, float valueBias) {
    const int F = 4, P = 1, V = 1, H = 2;
    // Every tensor the loader expects, zero but the two output biases.
    std::string weights;
    nlohmann::json list = nlohmann::json::array();
    for (const auto& [name, shape] : platform::expectedTensors({1, F, P, V, H})) {
        std::int64_t count = 1;
        for (auto d : shape) count *= d;
        std::vector<float> values(static_cast<std::size_t>(count), 0.f);
        if (name == "policy.fc.bias") values = policyBias;
        if (name == "value.fc2.bias") values = {valueBias};
        const auto offset = weights.size();
        weights.append(reinterpret_cast<const char*>(values.data()), values.size() * 4);
        list.push_back({{"name", name}, {"shape", shape}, {"offset", offset},
                        {"bytes", weights.size() - offset}});
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(platform::fnv1a64(weights)));
    nlohmann::json manifest{
        {"format", "tarnwick-mlmodel"},
        {"formatVersion", 1},
        {"description", "test network: zero weights, chosen output biases"},
        {"inputs", {{{"name", "input1"}, {"shape", {2, 6, 7}}, {"dataType", "double"}}}},
        {"outputs",
         {{{"name", "output1"}, {"shape", {1}}, {"dataType", "double"}},
          {{"name", "output2"}, {"shape", {42}}, {"dataType", "double"}}}},
        {"architecture",
         {{"type", "residual-tower"}, {"blocks", 1}, {"filters", F}, {"policyFilters", P},
          {"valueFilters", V}, {"valueHidden", H}}},
        {"weights",
         {{"file", "weights.bin"}, {"dataType", "float32"}, {"byteOrder", "little"},
          {"bytes", weights.size()}, {"checksum", {{"algorithm", "fnv1a64"}, {"value", hex}}}}},
        {"tensors", list}};
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "model.json") << manifest.dump(2);
    std::ofstream(folder / "weights.bin", std::ios::binary) << weights;
    return folder;
}

std::shared_ptr<version0328> loadBiasModel(const std::vector<float>& policyBias, float valueBias) {
    static std::atomic<int> counter{0};
    const auto folder = std::filesystem::temp_directory_path() /
                        ("tarnwick-test-" + std::to_string(::getpid()) + "-" +
                         std::to_string(counter++) + ".mlmodelc");
    writeBiasModel(folder, policyBias, valueBias);
    auto model = std::make_shared<version0328>(folder);
    std::filesystem::remove_all(folder);
    return model;
}

} // namespace tarnwick::testing
