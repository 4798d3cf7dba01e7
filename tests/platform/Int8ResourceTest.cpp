// Malformed int8 sections are refused with a message naming the fault, as the float tensors'
// checks do; a version-1 model loads as before whatever else its manifest holds.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>

#include "Platform/MLModel.hpp"
#include "Platform/ModelResource.hpp"
#include "tests/support/ModelWriter.hpp"

using namespace tarnwick;
namespace tt = tarnwick::testing;
using namespace tarnwick::platform;
using J = nlohmann::json;

namespace {

const TowerArchitecture arch{1, 8, 2, 1, 16};

tt::Resource int8Resource() {
    const auto tensors = tt::randomTensors(arch, 9);
    auto r = tt::makeResource(arch, tensors);
    tt::addInt8Section(r, arch, tensors,
                       {{"stem", 1.0f / 255}, {"block0.conv1", 0.01f}, {"block0.conv2", 0.01f}});
    return r;
}

J& entry(tt::Resource& r, const std::string& name) {
    for (auto& t : r.manifest["int8"]["tensors"])
        if (t["name"] == name) return t;
    throw std::logic_error("no int8 tensor " + name);
}

// Overwrites the float32 value(s) of an int8-section tensor and reseals the file.
void setFloat(tt::Resource& r, const std::string& name, float value) {
    const auto offset = entry(r, name)["offset"].get<std::size_t>();
    std::memcpy(r.weights.data() + offset, &value, 4);
    tt::reseal(r);
}

struct Corruption {
    const char* name;
    std::function<void(tt::Resource&)> corrupt;
    const char* message;
};

std::vector<Corruption> corruptions() {
    return {
        {"NoSection", [](tt::Resource& r) { r.manifest.erase("int8"); },
         "format version 2 needs an \"int8\" object"},
        {"TensorsNotAList", [](tt::Resource& r) { r.manifest["int8"]["tensors"] = 3; },
         "\"int8.tensors\" is not a list"},
        {"CalibrationNotText", [](tt::Resource& r) { r.manifest["int8"]["calibration"] = 5; },
         "\"int8.calibration\" is not a string"},
        {"TensorListedTwice",
         [](tt::Resource& r) { r.manifest["int8"]["tensors"].push_back(entry(r, "stem.weight")); },
         "int8 tensor \"stem.weight\" is listed twice"},
        {"TensorMissing",
         [](tt::Resource& r) { entry(r, "block0.conv2.weightScale")["name"] = "other"; },
         "int8 tensor \"block0.conv2.weightScale\" is missing"},
        {"TensorTooMany",
         [](tt::Resource& r) {
             r.manifest["int8"]["tensors"].push_back({{"name", "extra"}});
         },
         "the int8 section lists 10 tensors, the architecture needs 9"},
        {"WrongShape",
         [](tt::Resource& r) {
             entry(r, "block0.conv1.weight")["shape"] = J{8, 8, 1, 9};
         },
         "int8 tensor \"block0.conv1.weight\" must have shape [8, 8, 3, 3]"},
        {"WrongDataType", [](tt::Resource& r) { entry(r, "stem.weight")["dataType"] = "float32"; },
         "int8 tensor \"stem.weight\" must have dataType \"int8\""},
        {"WrongByteCount", [](tt::Resource& r) { entry(r, "stem.weight")["bytes"] = 4 * 144; },
         "int8 tensor \"stem.weight\" must span 144 bytes"},
        {"OutsideTheFile",
         [](tt::Resource& r) {
             entry(r, "block0.conv1.inputScale")["offset"] = r.weights.size() - 2;
         },
         "int8 tensor \"block0.conv1.inputScale\" lies outside the weights file or is misaligned"},
        {"ScaleMisaligned",
         [](tt::Resource& r) {
             entry(r, "stem.weightScale")["offset"] =
                 entry(r, "stem.weightScale")["offset"].get<int>() + 1;
         },
         "int8 tensor \"stem.weightScale\" lies outside the weights file or is misaligned"},
        {"OverlapsAnotherTensor",
         [](tt::Resource& r) {
             entry(r, "block0.conv2.weight")["offset"] = entry(r, "block0.conv1.weight")["offset"];
         },
         "tensors overlap in the weights file"},
        {"OffsetNotAnInteger", [](tt::Resource& r) { entry(r, "stem.weight")["offset"] = 1.5; },
         "\"offset\" is missing or not an integer"},
        {"WeightMinus128",
         [](tt::Resource& r) {
             r.weights[entry(r, "block0.conv1.weight")["offset"].get<std::size_t>() + 5] =
                 static_cast<char>(-128);
             tt::reseal(r);
         },
         "int8 tensor \"block0.conv1.weight\" holds -128"},
        {"ZeroWeightScale", [](tt::Resource& r) { setFloat(r, "block0.conv1.weightScale", 0.0f); },
         "int8 tensor \"block0.conv1.weightScale\" holds a scale that is not positive"},
        {"NegativeWeightScale", [](tt::Resource& r) { setFloat(r, "stem.weightScale", -1.0f); },
         "int8 tensor \"stem.weightScale\" holds a scale that is not positive"},
        {"NaNWeightScale",
         [](tt::Resource& r) {
             setFloat(r, "stem.weightScale", std::numeric_limits<float>::quiet_NaN());
         },
         "int8 tensor \"stem.weightScale\" holds a value that is not finite"},
        {"ZeroInputScale", [](tt::Resource& r) { setFloat(r, "block0.conv2.inputScale", 0.0f); },
         "int8 tensor \"block0.conv2.inputScale\" must lie in 1e-30..1e30"},
        {"OverflowingScales",
         [](tt::Resource& r) { setFloat(r, "block0.conv2.inputScale", 1e30f); },
         "the int8 layer \"block0.conv2\" can overflow float32"},
        {"ChangedBytesUnsealed",
         [](tt::Resource& r) {
             r.weights[entry(r, "stem.weight")["offset"].get<std::size_t>()] ^= 1;
         },
         "checksum mismatch"},
    };
}

class Int8SectionRefused : public ::testing::TestWithParam<Corruption> {};

TEST_P(Int8SectionRefused, NamingTheFault) {
    auto r = int8Resource();
    GetParam().corrupt(r);
    try {
        parseModelResource(r.manifest.dump(), r.weights, "q.mlmodelc/model.json");
        FAIL() << "loaded a model with " << GetParam().name;
    } catch (const MLModelError& e) {
        const std::string message = e.what();
        EXPECT_EQ(message.rfind("q.mlmodelc/model.json", 0), 0u) << message;
        EXPECT_NE(message.find(GetParam().message), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(Corruptions, Int8SectionRefused, ::testing::ValuesIn(corruptions()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Int8Section, ASoundSectionLoadsAndVersionOneIgnoresOne) {
    auto r = int8Resource();
    const auto weights = parseModelResource(r.manifest.dump(), r.weights, "q");
    ASSERT_EQ(weights.int8.size(), 3u);
    EXPECT_EQ(weights.calibration, "test: given scales");
    EXPECT_FLOAT_EQ(weights.int8.at("block0.conv1").inputScale, 0.01f);
    EXPECT_EQ(weights.int8.at("stem").weight.size(), 8u * 2 * 9);
    // Version 1 loads as it always did: its float tensors only, an "int8" entry left unread.
    r.manifest["formatVersion"] = 1;
    r.manifest["int8"] = "anything";
    const auto plain = parseModelResource(r.manifest.dump(), r.weights, "q");
    EXPECT_TRUE(plain.int8.empty());
    EXPECT_EQ(plain.tensors, weights.tensors);
}

} // namespace
