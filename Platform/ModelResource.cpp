#include "Platform/ModelResource.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "Platform/ActivationBound.hpp"
#include "Platform/MLModel.hpp"

namespace tarnwick::platform {

namespace {

using nlohmann::json;

[[noreturn]] void fail(const std::string& label, const std::string& problem) {
    throw MLModelError(label + ": " + problem);
}

std::int64_t integer(const json& object, const char* key, const std::string& label,
                     std::int64_t low, std::int64_t high) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number_integer())
        fail(label, std::string("\"") + key + "\" is missing or not an integer");
    const auto value = found->get<std::int64_t>();
    if (value < low || value > high)
        fail(label, std::string("\"") + key + "\" is " + std::to_string(value) + ", outside " +
                        std::to_string(low) + ".." + std::to_string(high));
    return value;
}

// The format nests four deep ("tensors", an entry, its "shape"); a manifest nested far deeper
// is refused before the parser builds it, since building and copying a value recurses once a
// level and a deep enough file would overflow a small thread stack.
constexpr int maxManifestDepth = 16;

json parseManifest(const std::string& text, const std::string& label) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxManifestDepth)
                fail(label, "the manifest nests deeper than " + std::to_string(maxManifestDepth) +
                                " levels");
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    try {
        return json::parse(text);
    } catch (const json::exception& error) {
        fail(label, std::string("unreadable JSON: ") + error.what());
    }
}

// Integers where the format means integers: [2.0, 6, 7] is not a shape.
bool isShape(const json& value, const std::vector<std::int64_t>& shape) {
    if (!value.is_array() || value.size() != shape.size()) return false;
    for (std::size_t i = 0; i < shape.size(); ++i)
        if (!value[i].is_number_integer() || value[i] != shape[i]) return false;
    return true;
}

std::string shapeText(const std::vector<std::int64_t>& shape) {
    std::string text = "[";
    for (std::size_t i = 0; i < shape.size(); ++i) text += (i ? ", " : "") + std::to_string(shape[i]);
    return text + "]";
}

void checkFeature(const json& list, const char* which, const char* name,
                  const std::vector<std::int64_t>& shape, const std::string& label) {
    if (!list.is_array()) fail(label, std::string("\"") + which + "\" is not a list");
    for (const auto& feature : list) {
        if (!feature.is_object() || feature.value("name", json()) != name) continue;
        if (!isShape(feature.value("shape", json()), shape))
            fail(label, std::string("feature \"") + name + "\" must have shape " + shapeText(shape));
        if (feature.value("dataType", json()) != "double")
            fail(label, std::string("feature \"") + name + "\" must have dataType \"double\"");
        return;
    }
    fail(label, std::string("\"") + which + "\" lacks the feature \"" + name + "\"");
}

std::string readFile(const std::filesystem::path& path, const std::string& what) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        throw MLModelError(path.string() + ": " + what + " is missing");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw MLModelError(path.string() + ": " + what + " cannot be read");
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

} // namespace

std::uint64_t fnv1a64(const std::string& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::vector<std::pair<std::string, std::vector<std::int64_t>>>
expectedTensors(const TowerArchitecture& a) {
    const auto F = a.filters, P = a.policyFilters, V = a.valueFilters, H = a.valueHidden;
    std::vector<std::pair<std::string, std::vector<std::int64_t>>> list{
        {"stem.weight", {F, 2, 3, 3}}, {"stem.bias", {F}}};
    for (std::int64_t i = 0; i < a.blocks; ++i) {
        const auto block = "block" + std::to_string(i);
        list.push_back({block + ".conv1.weight", {F, F, 3, 3}});
        list.push_back({block + ".conv1.bias", {F}});
        list.push_back({block + ".conv2.weight", {F, F, 3, 3}});
        list.push_back({block + ".conv2.bias", {F}});
    }
    list.push_back({"policy.conv.weight", {P, F, 1, 1}});
    list.push_back({"policy.conv.bias", {P}});
    list.push_back({"policy.fc.weight", {42, P * 42}});
    list.push_back({"policy.fc.bias", {42}});
    list.push_back({"value.conv.weight", {V, F, 1, 1}});
    list.push_back({"value.conv.bias", {V}});
    list.push_back({"value.fc1.weight", {H, V * 42}});
    list.push_back({"value.fc1.bias", {H}});
    list.push_back({"value.fc2.weight", {1, H}});
    list.push_back({"value.fc2.bias", {1}});
    return list;
}

TowerWeights parseModelResource(const std::string& manifestText, const std::string& weightsBytes,
                                const std::string& label) {
    const json manifest = parseManifest(manifestText, label);
    if (!manifest.is_object()) fail(label, "the manifest is not a JSON object");
    if (manifest.value("format", json()) != modelFormatName)
        fail(label, std::string("not a model manifest (\"format\" must be \"") + modelFormatName + "\")");
    const auto version = integer(manifest, "formatVersion", label, 0, 1 << 30);
    if (version != modelFormatVersion)
        fail(label, "unknown format version " + std::to_string(version) + " (supported: " +
                        std::to_string(modelFormatVersion) + ")");

    const auto inputs = manifest.value("inputs", json());
    const auto outputs = manifest.value("outputs", json());
    checkFeature(inputs, "inputs", "input1", {2, 6, 7}, label);
    checkFeature(outputs, "outputs", "output1", {1}, label);
    checkFeature(outputs, "outputs", "output2", {42}, label);

    const auto arch = manifest.value("architecture", json());
    if (!arch.is_object() || arch.value("type", json()) != "residual-tower")
        fail(label, "\"architecture\" must be an object of type \"residual-tower\"");
    TowerWeights result;
    auto& a = result.architecture;
    a.blocks = integer(arch, "blocks", label, 0, 64);
    a.filters = integer(arch, "filters", label, 1, 1024);
    a.policyFilters = integer(arch, "policyFilters", label, 1, 64);
    a.valueFilters = integer(arch, "valueFilters", label, 1, 64);
    a.valueHidden = integer(arch, "valueHidden", label, 1, 4096);
    if (manifest.contains("description") && manifest["description"].is_string())
        result.description = manifest["description"].get<std::string>();

    const auto weights = manifest.value("weights", json());
    if (!weights.is_object()) fail(label, "\"weights\" is missing");
    if (weights.value("dataType", json()) != "float32" || weights.value("byteOrder", json()) != "little")
        fail(label, "weights must be little-endian float32");
    const auto declaredBytes = integer(weights, "bytes", label, 0, std::int64_t{1} << 40);
    if (static_cast<std::int64_t>(weightsBytes.size()) != declaredBytes)
        fail(label, "the weights file holds " + std::to_string(weightsBytes.size()) +
                        " bytes, the manifest declares " + std::to_string(declaredBytes) +
                        (static_cast<std::int64_t>(weightsBytes.size()) < declaredBytes ? " (too short)" : " (too long)"));
    const auto checksum = weights.value("checksum", json());
    if (!checksum.is_object() || checksum.value("algorithm", json()) != "fnv1a64" ||
        !checksum.value("value", json()).is_string())
        fail(label, "\"weights.checksum\" must give an fnv1a64 value");
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(fnv1a64(weightsBytes)));
    if (checksum["value"].get<std::string>() != hex)
        fail(label, std::string("checksum mismatch: the weights file hashes to ") + hex);

    const auto tensors = manifest.value("tensors", json());
    if (!tensors.is_array()) fail(label, "\"tensors\" is not a list");
    std::map<std::string, json> byName;
    for (const auto& t : tensors) {
        if (!t.is_object() || !t.value("name", json()).is_string())
            fail(label, "a tensor entry has no name");
        if (!byName.emplace(t["name"].get<std::string>(), t).second)
            fail(label, "tensor \"" + t["name"].get<std::string>() + "\" is listed twice");
    }
    const auto expected = expectedTensors(a);
    if (byName.size() != expected.size())
        fail(label, "the manifest lists " + std::to_string(byName.size()) + " tensors, the architecture needs " +
                        std::to_string(expected.size()));
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    for (const auto& [name, shape] : expected) {
        const auto found = byName.find(name);
        if (found == byName.end()) fail(label, "tensor \"" + name + "\" is missing");
        const auto& t = found->second;
        if (!isShape(t.value("shape", json()), shape))
            fail(label, "tensor \"" + name + "\" must have shape " + shapeText(shape) +
                            " for this architecture");
        std::int64_t count = 1;
        for (auto d : shape) count *= d;
        const auto what = "tensor \"" + name + "\"";
        const auto offset = integer(t, "offset", label + " (" + what + ")", 0, declaredBytes);
        const auto bytes = integer(t, "bytes", label + " (" + what + ")", 0, declaredBytes);
        if (bytes != 4 * count) fail(label, what + " must span " + std::to_string(4 * count) + " bytes");
        if (offset % 4 != 0 || offset + bytes > declaredBytes)
            fail(label, what + " lies outside the weights file or is misaligned");
        ranges.push_back({offset, offset + bytes});
        std::vector<float> values(static_cast<std::size_t>(count));
        std::memcpy(values.data(), weightsBytes.data() + offset, static_cast<std::size_t>(bytes));
        for (float v : values)
            if (!std::isfinite(v)) fail(label, what + " holds a value that is not finite");
        result.tensors.emplace(name, std::move(values));
    }
    std::sort(ranges.begin(), ranges.end());
    for (std::size_t i = 1; i < ranges.size(); ++i)
        if (ranges[i].first < ranges[i - 1].second) fail(label, "tensors overlap in the weights file");
    checkActivationBound(result, label);
    return result;
}

TowerWeights readModelResource(const std::filesystem::path& folder) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        throw MLModelError(folder.string() + ": model resource folder is missing");
    const auto manifestPath = folder / "model.json";
    const auto manifest = readFile(manifestPath, "the manifest");
    std::string weightsName = "weights.bin";
    const auto parsed = parseManifest(manifest, manifestPath.string());
    if (parsed.is_object() && parsed.contains("weights") && parsed["weights"].is_object() &&
        parsed["weights"].contains("file")) {
        const auto& file = parsed["weights"]["file"];
        if (!file.is_string())
            throw MLModelError(manifestPath.string() + ": \"weights.file\" is not a string");
        weightsName = file.get<std::string>();
    }
    // A NUL would end the name early at the system call and open another file.
    if (weightsName.empty() ||
        weightsName.find_first_of(std::string("/\\\0", 3)) != std::string::npos ||
        weightsName == "." || weightsName == "..")
        throw MLModelError(manifestPath.string() +
                           ": \"weights.file\" must name a file in the folder");
    std::string weights;
    const auto weightsPath = folder / weightsName;
    if (std::filesystem::is_regular_file(weightsPath, error)) weights = readFile(weightsPath, "the weights file");
    else throw MLModelError(weightsPath.string() + ": the weights file is missing");
    return parseModelResource(manifest, weights, manifestPath.string());
}

} // namespace tarnwick::platform
