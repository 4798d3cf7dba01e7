#include "tests/support/ModelWriter.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>

#include <unistd.h>

namespace tarnwick::testing {

Tensors randomTensors(const platform::TowerArchitecture& architecture, std::uint32_t seed) {
    std::mt19937 generator(seed);
    Tensors tensors;
    std::int64_t fanIn = 1;
    for (const auto& [name, shape] : platform::expectedTensors(architecture)) {
        std::int64_t count = 1;
        for (auto d : shape)
            count *= d;
        // A weight's fan-in is everything but its output dimension; its bias follows it.
        if (name.ends_with(".weight")) fanIn = count / shape[0];
        const double bound = 1.0 / std::sqrt(static_cast<double>(fanIn));
        std::uniform_real_distribution<double> uniform(-bound, bound);
        std::vector<float> values(static_cast<std::size_t>(count));
        for (auto& v : values)
            v = static_cast<float>(uniform(generator));
        tensors.emplace(name, std::move(values));
    }
    return tensors;
}

Resource makeResource(const platform::TowerArchitecture& a, const Tensors& tensors) {
    const auto expected = platform::expectedTensors(a);
    Resource resource;
    nlohmann::json list = nlohmann::json::array();
    std::vector<std::size_t> offsets(expected.size());
    for (std::size_t i = expected.size(); i-- > 0;) {
        const auto& values = tensors.at(expected[i].first);
        offsets[i] = resource.weights.size();
        resource.weights.append(reinterpret_cast<const char*>(values.data()), values.size() * 4);
    }
    for (std::size_t i = 0; i < expected.size(); ++i)
        list.push_back({{"name", expected[i].first},
                        {"shape", expected[i].second},
                        {"offset", offsets[i]},
                        {"bytes", tensors.at(expected[i].first).size() * 4}});
    resource.manifest = {
        {"format", "tarnwick-mlmodel"},
        {"formatVersion", 1},
        {"description", "test network"},
        {"inputs", {{{"name", "input1"}, {"shape", {2, 6, 7}}, {"dataType", "double"}}}},
        {"outputs",
         {{{"name", "output1"}, {"shape", {1}}, {"dataType", "double"}},
          {{"name", "output2"}, {"shape", {42}}, {"dataType", "double"}}}},
        {"architecture",
         {{"type", "residual-tower"},
          {"blocks", a.blocks},
          {"filters", a.filters},
          {"policyFilters", a.policyFilters},
          {"valueFilters", a.valueFilters},
          {"valueHidden", a.valueHidden}}},
        {"weights", {{"file", "weights.bin"}, {"dataType", "float32"}, {"byteOrder", "little"}}},
        {"tensors", list}};
    reseal(resource);
    return resource;
}

void addInt8Section(Resource& resource, const platform::TowerArchitecture& a,
                    const Tensors& tensors, const std::map<std::string, float>& inputScales) {
    nlohmann::json list = nlohmann::json::array();
    auto& bytes = resource.weights;
    const auto append = [&](const std::string& name, std::vector<std::int64_t> shape,
                            const char* type, const char* data, std::size_t size) {
        if (std::string(type) == "float32") bytes.resize((bytes.size() + 3) / 4 * 4, '\0');
        list.push_back({{"name", name},
                        {"shape", shape},
                        {"dataType", type},
                        {"offset", bytes.size()},
                        {"bytes", size}});
        bytes.append(data, size);
    };
    for (const auto& layer : platform::convLayerNames(a)) {
        const auto& w = tensors.at(layer + ".weight");
        const std::int64_t in = layer == "stem" ? 2 : a.filters, fanIn = in * 9;
        std::vector<std::int8_t> q(w.size());
        std::vector<float> scale(static_cast<std::size_t>(a.filters));
        for (std::int64_t o = 0; o < a.filters; ++o) {
            float peak = 0;
            for (std::int64_t k = 0; k < fanIn; ++k)
                peak = std::max(peak, std::abs(w[o * fanIn + k]));
            scale[o] = peak > 0 ? peak / 127 : 1;
            for (std::int64_t k = 0; k < fanIn; ++k)
                q[o * fanIn + k] =
                    static_cast<std::int8_t>(std::lround(w[o * fanIn + k] / scale[o]));
        }
        const float input = inputScales.at(layer);
        append(layer + ".weight", {a.filters, in, 3, 3}, "int8",
               reinterpret_cast<const char*>(q.data()), q.size());
        append(layer + ".weightScale", {a.filters}, "float32",
               reinterpret_cast<const char*>(scale.data()), scale.size() * 4);
        append(layer + ".inputScale", {1}, "float32", reinterpret_cast<const char*>(&input), 4);
    }
    resource.manifest["formatVersion"] = 2;
    resource.manifest["int8"] = {{"calibration", "test: given scales"}, {"tensors", list}};
    reseal(resource);
}

void reseal(Resource& resource) {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx",
                  static_cast<unsigned long long>(platform::fnv1a64(resource.weights)));
    auto& weights = resource.manifest["weights"];
    weights["bytes"] = resource.weights.size();
    weights["checksum"] = {{"algorithm", "fnv1a64"}, {"value", hex}};
}

std::filesystem::path writeResource(const std::filesystem::path& folder, const Resource& resource) {
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "model.json") << resource.manifest.dump(1);
    std::ofstream(folder / "weights.bin", std::ios::binary) << resource.weights;
    return folder;
}

std::filesystem::path scratchFolder(const std::string& tag) {
    static std::atomic<int> counter{0};
    return std::filesystem::temp_directory_path() /
           ("tarnwick-platform-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
            "-" + tag + ".mlmodelc");
}

} // namespace tarnwick::testing
