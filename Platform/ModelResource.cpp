#include "Platform/ModelResource.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <type_traits>

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

template <class T>
std::vector<T> readValues(const json& entry, const std::string& what,
                          const std::vector<std::int64_t>& shape, const std::string& weightsBytes,
                          std::int64_t declaredBytes, const std::string& label,
                          std::vector<std::pair<std::int64_t, std::int64_t>>& ranges) {
    std::int64_t count = 1;
    for (auto d : shape)
        count *= d;
    const auto size = static_cast<std::int64_t>(sizeof(T));
    const auto offset = integer(entry, "offset", label + " (" + what + ")", 0, declaredBytes);
    const auto bytes = integer(entry, "bytes", label + " (" + what + ")", 0, declaredBytes);
    if (bytes != size * count)
        fail(label, what + " must span " + std::to_string(size * count) + " bytes");
    if (offset % size != 0 || offset + bytes > declaredBytes)
        fail(label, what + " lies outside the weights file or is misaligned");
    ranges.push_back({offset, offset + bytes});
    std::vector<T> values(static_cast<std::size_t>(count));
    std::memcpy(values.data(), weightsBytes.data() + offset, static_cast<std::size_t>(bytes));
    if constexpr (std::is_floating_point_v<T>)
        for (T v : values)
            if (!std::isfinite(v)) fail(label, what + " holds a value that is not finite");
    return values;
}

// The entries of a manifest's tensor list by name; `key` names the list and `kind` its
// entries in error messages.
std::map<std::string, json> tensorsByName(const json& tensors, const std::string& key,
                                          const std::string& kind, const std::string& label) {
    if (!tensors.is_array()) fail(label, "\"" + key + "\" is not a list");
    const std::string article =
        std::string("aeiou").find(kind[0]) == std::string::npos ? "a " : "an ";
    std::map<std::string, json> byName;
    for (const auto& t : tensors) {
        if (!t.is_object() || !t.value("name", json()).is_string())
            fail(label, article + kind + " entry has no name");
        if (!byName.emplace(t["name"].get<std::string>(), t).second)
            fail(label, kind + " \"" + t["name"].get<std::string>() + "\" is listed twice");
    }
    return byName;
}

// The int8 section of a version-2 manifest: for every 3x3 convolution L, "L.weight" (int8,
// the convolution's shape), "L.weightScale" (float32 [out]) and "L.inputScale" (float32 [1]),
// in the same weights file as the float tensors, so the checksum, the bounds and the overlap
// check cover them too.
void readInt8Section(const json& manifest, const std::string& weightsBytes,
                     std::int64_t declaredBytes, const std::string& label,
                     std::vector<std::pair<std::int64_t, std::int64_t>>& ranges,
                     TowerWeights& result) {
    const auto section = manifest.value("int8", json());
    if (!section.is_object()) fail(label, "format version 2 needs an \"int8\" object");
    if (section.contains("calibration")) {
        if (!section["calibration"].is_string())
            fail(label, "\"int8.calibration\" is not a string");
        result.calibration = section["calibration"].get<std::string>();
    }
    const auto byName =
        tensorsByName(section.value("tensors", json()), "int8.tensors", "int8 tensor", label);
    const auto& a = result.architecture;
    const auto layers = convLayerNames(a);
    if (byName.size() != 3 * layers.size())
        fail(label, "the int8 section lists " + std::to_string(byName.size()) +
                        " tensors, the architecture needs " + std::to_string(3 * layers.size()));
    const auto entry = [&](const std::string& name, const char* dataType,
                           const std::vector<std::int64_t>& shape) -> const json& {
        const auto found = byName.find(name);
        if (found == byName.end()) fail(label, "int8 tensor \"" + name + "\" is missing");
        if (!isShape(found->second.value("shape", json()), shape))
            fail(label, "int8 tensor \"" + name + "\" must have shape " + shapeText(shape));
        if (found->second.value("dataType", json()) != dataType)
            fail(label, "int8 tensor \"" + name + "\" must have dataType \"" + dataType + "\"");
        return found->second;
    };
    for (const auto& layer : layers) {
        const std::int64_t in = layer == "stem" ? 2 : a.filters;
        const std::vector<std::int64_t> shape{a.filters, in, 3, 3};
        QuantizedConvWeights q;
        const auto weightName = layer + ".weight", scaleName = layer + ".weightScale",
                   inputName = layer + ".inputScale";
        q.weight = readValues<std::int8_t>(entry(weightName, "int8", shape),
                                           "int8 tensor \"" + weightName + "\"", shape,
                                           weightsBytes, declaredBytes, label, ranges);
        for (auto v : q.weight)
            if (v < -127)
                fail(label,
                     "int8 tensor \"" + weightName + "\" holds -128 (weights are -127..127)");
        q.weightScale = readValues<float>(entry(scaleName, "float32", {a.filters}),
                                          "int8 tensor \"" + scaleName + "\"", {a.filters},
                                          weightsBytes, declaredBytes, label, ranges);
        const auto input =
            readValues<float>(entry(inputName, "float32", {1}), "int8 tensor \"" + inputName + "\"",
                              {1}, weightsBytes, declaredBytes, label, ranges);
        q.inputScale = input[0];
        for (float s : q.weightScale)
            if (!(s > 0))
                fail(label, "int8 tensor \"" + scaleName + "\" holds a scale that is not positive");
        // 255 codes times the scale must stay a float, and its inverse too.
        if (!(q.inputScale >= 1e-30f && q.inputScale <= 1e30f))
            fail(label, "int8 tensor \"" + inputName + "\" must lie in 1e-30..1e30");
        // As the float check: no convolution may be able to overflow float32, whatever its
        // input (codes are at most 255).
        for (std::int64_t o = 0; o < a.filters; ++o) {
            double sum = 0;
            for (std::int64_t k = 0; k < in * 9; ++k)
                sum += std::abs(q.weight[o * in * 9 + k]);
            const double bound = 255.0 * q.inputScale * sum * q.weightScale[o] +
                                 std::abs(result.tensors.at(layer + ".bias")[o]);
            if (bound > 1e32)
                fail(label, "the int8 layer \"" + layer + "\" can overflow float32 (bound " +
                                std::to_string(bound) + ")");
        }
        result.int8.emplace(layer, std::move(q));
    }
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

std::vector<std::string> convLayerNames(const TowerArchitecture& a) {
    std::vector<std::string> names{"stem"};
    for (std::int64_t i = 0; i < a.blocks; ++i) {
        names.push_back("block" + std::to_string(i) + ".conv1");
        names.push_back("block" + std::to_string(i) + ".conv2");
    }
    return names;
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
    if (version != modelFormatVersion && version != modelInt8FormatVersion)
        fail(label, "unknown format version " + std::to_string(version) +
                        " (supported: " + std::to_string(modelFormatVersion) + " and " +
                        std::to_string(modelInt8FormatVersion) + ")");

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

    const auto byName =
        tensorsByName(manifest.value("tensors", json()), "tensors", "tensor", label);
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
        result.tensors.emplace(name, readValues<float>(t, "tensor \"" + name + "\"", shape,
                                                       weightsBytes, declaredBytes, label, ranges));
    }
    if (version == modelInt8FormatVersion)
        readInt8Section(manifest, weightsBytes, declaredBytes, label, ranges, result);
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
