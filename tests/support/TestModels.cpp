#include "tests/support/TestModels.hpp"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>
#include <unistd.h>

namespace tarnwick::testing {

namespace {

struct Tensor {
    std::string name;
    std::vector<std::int64_t> shape;
    std::vector<float> values;
};

std::uint64_t fnv1a(const std::string& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

Tensor zeros(std::string name, std::vector<std::int64_t> shape) {
    std::int64_t n = 1;
    for (auto d : shape) n *= d;
    return {std::move(name), std::move(shape), std::vector<float>(static_cast<std::size_t>(n), 0.f)};
}

} // namespace

std::vector<float> favourColumn(int column, float score) {
    std::vector<float> bias(42, 0.f);
    for (int row = 0; row < 6; ++row) bias[static_cast<std::size_t>(row * 7 + column)] = score;
    return bias;
}

std::filesystem::path writeBiasModel(const std::filesystem::path& folder,
                                     const std::vector<float>& policyBias, float valueBias) {
    const int F = 4, P = 1, V = 1, H = 2;
    std::vector<Tensor> tensors{zeros("stem.weight", {F, 2, 3, 3}), zeros("stem.bias", {F}),
                                zeros("block0.conv1.weight", {F, F, 3, 3}),
                                zeros("block0.conv1.bias", {F}),
                                zeros("block0.conv2.weight", {F, F, 3, 3}),
                                zeros("block0.conv2.bias", {F}),
                                zeros("policy.conv.weight", {P, F, 1, 1}),
                                zeros("policy.conv.bias", {P}),
                                zeros("policy.fc.weight", {42, P * 42}),
                                {"policy.fc.bias", {42}, policyBias},
                                zeros("value.conv.weight", {V, F, 1, 1}),
                                zeros("value.conv.bias", {V}),
                                zeros("value.fc1.weight", {H, V * 42}),
                                zeros("value.fc1.bias", {H}),
                                zeros("value.fc2.weight", {1, H}),
                                {"value.fc2.bias", {1}, {valueBias}}};
    std::string weights;
    nlohmann::json list = nlohmann::json::array();
    for (const auto& t : tensors) {
        const auto offset = weights.size();
        for (float v : t.values) {
            char bytes[4];
            std::memcpy(bytes, &v, 4); // the machines we build on are little-endian
            weights.append(bytes, 4);
        }
        list.push_back({{"name", t.name}, {"shape", t.shape}, {"offset", offset},
                        {"bytes", weights.size() - offset}});
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(fnv1a(weights)));
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
