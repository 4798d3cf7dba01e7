#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>

#include <pthread.h>

#include "Platform/ActivationBound.hpp"
#include "Platform/MLModel.hpp"
#include "Platform/ModelResource.hpp"
#include "tests/support/ModelWriter.hpp"
#include "tests/support/TestModels.hpp"

using namespace tarnwick;
namespace tt = tarnwick::testing;
using namespace tarnwick::platform;
using tarnwick::testing::Resource;
namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

Resource readBack(const fs::path& folder) {
    return {nlohmann::json::parse(slurp(folder / "model.json")), slurp(folder / "weights.bin")};
}

nlohmann::json& tensorEntry(Resource& r, const std::string& name) {
    for (auto& t : r.manifest["tensors"])
        if (t["name"] == name) return t;
    throw std::logic_error("no tensor " + name);
}

// One corruption of an otherwise valid resource: `edit` changes the manifest or weights before
// they are written back, `after` then damages the folder itself.
struct BadResource {
    std::string name;
    std::function<void(Resource&)> edit;
    std::function<void(const fs::path&)> after;
    std::string file; // the file the message must name, relative to the folder
    std::string problem;
    friend void PrintTo(const BadResource& resource, std::ostream* os) { *os << resource.name; }
};

void overwrite(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void setFloat(Resource& r, const std::string& tensor, float value) {
    const auto offset = tensorEntry(r, tensor)["offset"].get<std::size_t>();
    std::memcpy(r.weights.data() + offset, &value, sizeof value);
}

const std::vector<BadResource>& badResources() {
    using J = nlohmann::json;
    static const std::vector<BadResource> cases{
        {"MissingFolder", nullptr, [](const fs::path& f) { fs::remove_all(f); }, "",
         "model resource folder is missing"},
        {"MissingManifest", nullptr, [](const fs::path& f) { fs::remove(f / "model.json"); },
         "model.json", "the manifest is missing"},
        {"MissingWeights", nullptr, [](const fs::path& f) { fs::remove(f / "weights.bin"); },
         "weights.bin", "the weights file is missing"},
        {"WeightsNamedOutsideFolder",
         [](Resource& r) { r.manifest["weights"]["file"] = "../weights.bin"; }, nullptr,
         "model.json", "must name a file in the folder"},
        {"TruncatedJson", nullptr,
         [](const fs::path& f) {
             const auto text = slurp(f / "model.json");
             overwrite(f / "model.json", text.substr(0, text.size() / 2));
         },
         "model.json", "unreadable JSON"},
        {"ManifestNotAnObject", nullptr,
         [](const fs::path& f) { overwrite(f / "model.json", "[1, 2, 3]"); }, "model.json",
         "not a JSON object"},
        {"UnknownFormatName", [](Resource& r) { r.manifest["format"] = "onnx"; }, nullptr,
         "model.json", "\"format\" must be \"tarnwick-mlmodel\""},
        {"UnknownFormatVersion", [](Resource& r) { r.manifest["formatVersion"] = 3; }, nullptr,
         "model.json", "unknown format version 3"},
        {"FormatVersionNotAnInteger", [](Resource& r) { r.manifest["formatVersion"] = "1"; },
         nullptr, "model.json", "\"formatVersion\" is missing or not an integer"},
        {"InputOfWrongShape",
         [](Resource& r) {
             r.manifest["inputs"][0]["shape"] = J{2, 7, 6};
         },
         nullptr, "model.json", "feature \"input1\" must have shape [2, 6, 7]"},
        {"OutputMissing", [](Resource& r) { r.manifest["outputs"].erase(1); }, nullptr,
         "model.json", "lacks the feature \"output2\""},
        {"NotAResidualTower",
         [](Resource& r) { r.manifest["architecture"]["type"] = "transformer"; }, nullptr,
         "model.json", "\"residual-tower\""},
        {"BlocksOutOfRange", [](Resource& r) { r.manifest["architecture"]["blocks"] = 65; },
         nullptr, "model.json", "\"blocks\" is 65, outside 0..64"},
        {"FiltersDisagreeWithTensors",
         [](Resource& r) { r.manifest["architecture"]["filters"] = 5; }, nullptr, "model.json",
         "tensor \"stem.weight\" must have shape [5, 2, 3, 3] for this architecture"},
        {"PolicyFiltersDisagreeWithTensors",
         [](Resource& r) { r.manifest["architecture"]["policyFilters"] = 2; }, nullptr,
         "model.json", "tensor \"policy.conv.weight\" must have shape [2, 4, 1, 1]"},
        {"TensorOfWrongShape",
         [](Resource& r) {
             tensorEntry(r, "policy.fc.weight")["shape"] = J{42, 41};
         },
         nullptr, "model.json", "tensor \"policy.fc.weight\" must have shape [42, 42]"},
        {"MoreBlocksThanTensors", [](Resource& r) { r.manifest["architecture"]["blocks"] = 2; },
         nullptr, "model.json", "lists 16 tensors, the architecture needs 20"},
        {"TensorMissing",
         [](Resource& r) { tensorEntry(r, "value.fc1.bias")["name"] = "value.fc1.bias2"; }, nullptr,
         "model.json", "tensor \"value.fc1.bias\" is missing"},
        {"TensorListedTwice",
         [](Resource& r) { tensorEntry(r, "stem.bias")["name"] = "stem.weight"; }, nullptr,
         "model.json", "tensor \"stem.weight\" is listed twice"},
        {"WeightsNotFloat32", [](Resource& r) { r.manifest["weights"]["dataType"] = "float16"; },
         nullptr, "model.json", "little-endian float32"},
        {"WeightsTooShort", [](Resource& r) { r.weights.resize(r.weights.size() - 4); }, nullptr,
         "model.json", "(too short)"},
        {"WeightsTooLong", [](Resource& r) { r.weights.append(8, '\0'); }, nullptr, "model.json",
         "(too long)"},
        {"ChecksumMismatch", [](Resource& r) { r.weights[r.weights.size() / 2] ^= 0x10; }, nullptr,
         "model.json", "checksum mismatch"},
        {"ChecksumOfUnknownAlgorithm",
         [](Resource& r) { r.manifest["weights"]["checksum"]["algorithm"] = "crc32"; }, nullptr,
         "model.json", "must give an fnv1a64 value"},
        {"NonFiniteWeight",
         [](Resource& r) {
             setFloat(r, "stem.bias", std::numeric_limits<float>::quiet_NaN());
             tt::reseal(r);
         },
         nullptr, "model.json", "tensor \"stem.bias\" holds a value that is not finite"},
        {"InfiniteWeight",
         [](Resource& r) {
             setFloat(r, "value.fc2.weight", std::numeric_limits<float>::infinity());
             tt::reseal(r);
         },
         nullptr, "model.json", "tensor \"value.fc2.weight\" holds a value that is not finite"},
        {"TensorPastTheEnd",
         [](Resource& r) { tensorEntry(r, "value.fc2.bias")["offset"] = r.weights.size(); },
         nullptr, "model.json", "tensor \"value.fc2.bias\" lies outside the weights file"},
        {"TensorMisaligned", [](Resource& r) { tensorEntry(r, "stem.bias")["offset"] = 2; },
         nullptr, "model.json", "misaligned"},
        {"TensorByteCountWrong", [](Resource& r) { tensorEntry(r, "stem.bias")["bytes"] = 12; },
         nullptr, "model.json", "tensor \"stem.bias\" must span 16 bytes"},
        {"TensorsOverlap", [](Resource& r) { tensorEntry(r, "stem.bias")["offset"] = 0; }, nullptr,
         "model.json", "tensors overlap"},
        {"NegativeOffset", [](Resource& r) { tensorEntry(r, "stem.bias")["offset"] = -4; }, nullptr,
         "model.json", "\"offset\" is -4"},
        // Integers where integers are meant, strings where strings are meant.
        {"FormatVersionAsFloat", [](Resource& r) { r.manifest["formatVersion"] = 1.0; }, nullptr,
         "model.json", "\"formatVersion\" is missing or not an integer"},
        {"InputShapeOfFloats",
         [](Resource& r) {
             r.manifest["inputs"][0]["shape"] = J{2.0, 6, 7};
         },
         nullptr, "model.json", "feature \"input1\" must have shape [2, 6, 7]"},
        {"TensorShapeOfFloats", [](Resource& r) { tensorEntry(r, "stem.bias")["shape"] = J{4.0}; },
         nullptr, "model.json", "tensor \"stem.bias\" must have shape [4]"},
        {"WeightsFileNotAString", [](Resource& r) { r.manifest["weights"]["file"] = 7; }, nullptr,
         "model.json", "\"weights.file\" is not a string"},
        {"WeightsFileWithNul",
         [](Resource& r) { r.manifest["weights"]["file"] = std::string("weights.bin\0x", 13); },
         nullptr, "model.json", "must name a file in the folder"},
        {"DeeplyNestedManifest", nullptr,
         [](const fs::path& f) {
             auto manifest = nlohmann::json::parse(slurp(f / "model.json"));
             manifest["inputs"][0]["shape"] = "deep";
             auto text = manifest.dump();
             text.replace(text.find("\"deep\""), 6,
                          std::string(10000, '[') + std::string(10000, ']'));
             overwrite(f / "model.json", text);
         },
         "model.json", "nests deeper than 16 levels"},
        // Finite weights whose products overflow float: the tower would answer NaN.
        {"HugeFiniteWeights",
         [](Resource& r) {
             setFloat(r, "stem.bias", 3e38f);
             tt::reseal(r);
         },
         nullptr, "model.json", "past float range (a sum in \"stem\""},
    };
    return cases;
}

class BadResourceTest : public ::testing::TestWithParam<BadResource> {};

TEST_P(BadResourceTest, LoadFailsNamingTheFileAndTheProblem) {
    const auto& bad = GetParam();
    const auto folder = tt::scratchFolder(bad.name);
    tt::writeBiasModel(folder, tt::favourColumn(3, 1.f), 0.25f);
    auto resource = readBack(folder);
    if (bad.edit) bad.edit(resource);
    tt::writeResource(folder, resource);
    if (bad.after) bad.after(folder);

    const auto named = bad.file.empty() ? folder : folder / bad.file;
    try {
        MLModel::load(folder);
        ADD_FAILURE() << "loaded a resource with: " << bad.name;
    } catch (const MLModelError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find(named.string()), std::string::npos) << message;
        EXPECT_NE(message.find(bad.problem), std::string::npos) << message;
    }
    fs::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(Corruptions, BadResourceTest, ::testing::ValuesIn(badResources()),
                         [](const auto& info) { return info.param.name; });

// The corruptions above start from this resource: it must load, or they prove nothing.
TEST(ModelResource, UncorruptedBaseLoads) {
    const auto folder = tt::scratchFolder("base");
    tt::writeBiasModel(folder, tt::favourColumn(3, 1.f), 0.25f);
    auto resource = readBack(folder);
    tt::writeResource(folder, resource);
    const auto weights = readModelResource(folder);
    EXPECT_EQ(weights.architecture.blocks, 1);
    EXPECT_EQ(weights.architecture.filters, 4);
    EXPECT_EQ(weights.tensors.at("policy.fc.bias"), tt::favourColumn(3, 1.f));
    EXPECT_NE(MLModel::load(folder), nullptr);
    fs::remove_all(folder);
}

TEST(ModelResource, TensorsAreReadAtTheirOffsets) {
    const TowerArchitecture arch{2, 3, 2, 2, 5};
    const auto tensors = tt::randomTensors(arch, 7);
    const auto resource = tt::makeResource(arch, tensors);
    const auto parsed = parseModelResource(resource.manifest.dump(), resource.weights, "mem");
    EXPECT_EQ(parsed.tensors, tensors);
    EXPECT_EQ(parsed.description, "test network");
}

TEST(ModelResource, WeightsFileMayHaveAnotherName) {
    const auto folder = tt::scratchFolder("renamed");
    auto resource = tt::makeResource({0, 2, 1, 1, 3}, tt::randomTensors({0, 2, 1, 1, 3}, 3));
    resource.manifest["weights"]["file"] = "tower.f32";
    tt::writeResource(folder, resource);
    fs::rename(folder / "weights.bin", folder / "tower.f32");
    EXPECT_EQ(readModelResource(folder).tensors.size(), 12u);
    fs::remove_all(folder);
}

TEST(ModelResource, InMemoryErrorsNameTheLabel) {
    const auto resource = tt::makeResource({0, 2, 1, 1, 3}, tt::randomTensors({0, 2, 1, 1, 3}, 3));
    const auto shortWeights = resource.weights.substr(4);
    for (const auto& [manifest, weights] : std::vector<std::pair<std::string, std::string>>{
             {"{", resource.weights},
             {"", resource.weights},
             {"null", resource.weights},
             {resource.manifest.dump(), shortWeights}}) {
        try {
            parseModelResource(manifest, weights, "blob-7");
            ADD_FAILURE() << "parsed: " << manifest.substr(0, 40);
        } catch (const MLModelError& error) {
            EXPECT_EQ(std::string(error.what()).rfind("blob-7: ", 0), 0u) << error.what();
        }
    }
}

// A phone's secondary thread has about 512 KiB of stack: a deep manifest must be refused,
// not overflow it.
TEST(ModelResource, DeepManifestIsRefusedOnASmallStack) {
    const auto resource = tt::makeResource({0, 2, 1, 1, 3}, tt::randomTensors({0, 2, 1, 1, 3}, 3));
    auto text = resource.manifest.dump();
    const auto at = text.find("[2,6,7]");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 7, std::string(100000, '[') + std::string(100000, ']'));
    struct Job {
        const std::string* text;
        const std::string* weights;
        std::string error;
    } job{&text, &resource.weights, {}};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attributes,
                  [](void* raw) -> void* {
                      auto* job = static_cast<Job*>(raw);
                      try {
                          parseModelResource(*job->text, *job->weights, "deep");
                      } catch (const MLModelError& error) {
                          job->error = error.what();
                      }
                      return nullptr;
                  },
                  &job),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    EXPECT_EQ(job.error, "deep: the manifest nests deeper than 16 levels");
}

// Interval bounds of a tower whose activations are known: the base resource's zero weights
// give exactly its biases' sizes.
TEST(ModelResource, ActivationBoundOfKnownWeights) {
    const TowerArchitecture arch{1, 2, 1, 1, 3};
    auto tensors = tt::randomTensors(arch, 5);
    for (auto& [name, values] : tensors)
        std::fill(values.begin(), values.end(), 0.f);
    tensors["stem.bias"] = {2.f, -1.f};
    tensors["block0.conv1.weight"][0] = 0.5f; // out 0, in 0, tap 0: relu(2 * 0.5) = 1
    EXPECT_DOUBLE_EQ(activationBound({arch, tensors, ""}), 2.0);
    tensors["value.fc2.bias"] = {-7.f};
    EXPECT_DOUBLE_EQ(activationBound({arch, tensors, ""}), 7.0);
    tensors["policy.conv.weight"] = {1e20f, 1e20f};
    tensors["policy.fc.weight"].assign(42 * 42, 1e20f);
    EXPECT_GT(activationBound({arch, tensors, ""}), activationLimit);
    EXPECT_THROW(checkActivationBound({arch, tensors, ""}, "m"), MLModelError);
}

TEST(ModelResource, ConfigurationWithoutThreadsIsRefused) {
    const auto folder = tt::scratchFolder("threads");
    tt::writeBiasModel(folder, std::vector<float>(42, 0.f), 0.f);
    EXPECT_THROW(MLModel::load(folder, MLModelConfiguration{0}), MLModelError);
    EXPECT_NE(MLModel::load(folder, MLModelConfiguration{4}), nullptr);
    fs::remove_all(folder);
}

} // namespace
