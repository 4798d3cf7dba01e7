#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "DerivedSources/CoreMLGenerated/version0328/version0328.hpp"
#include "Platform/MLModel.hpp"
#include "Tarnwick/rules/GameState.hpp"
#include "tests/support/ModelWriter.hpp"
#include "tests/support/TestModels.hpp"

using namespace tarnwick;
using namespace tarnwick::platform;
namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

struct Files {
    std::string manifest;
    std::string weights;
};

Files biasModelFiles(const fs::path& folder) {
    std::vector<float> bias(42, 0.f);
    bias[38] = 2.5f;
    tarnwick::testing::writeBiasModel(folder, bias, 0.5f);
    Files files{slurp(folder / "model.json"), slurp(folder / "weights.bin")};
    fs::remove_all(folder);
    return files;
}

} // namespace

TEST(ModelMemory, BytesGiveTheSameNetworkAsTheFolder) {
    const auto folder = tarnwick::testing::scratchFolder("memory");
    const auto files = biasModelFiles(folder);
    version0328 fromBytes(MLModel::loadFromMemory(files.manifest, files.weights));
    const auto output = fromBytes.prediction(GameState(Shape{6, 7}, 1).binary());
    EXPECT_NEAR((*output->output1())[0], std::tanh(0.5), 1e-6);
    EXPECT_NEAR((*output->output2())[38], 2.5, 1e-6);
    EXPECT_NEAR((*output->output2())[0], 0.0, 1e-6);

    // The shipped model's two files load from memory too.
    const fs::path shipped = TARNWICK_TEST_RESOURCES "/version0328.mlmodelc";
    EXPECT_NO_THROW(
        MLModel::loadFromMemory(slurp(shipped / "model.json"), slurp(shipped / "weights.bin")));
}

TEST(ModelMemory, DamagedBytesAreRefusedNamingTheLabel) {
    const auto folder = tarnwick::testing::scratchFolder("memory-damaged");
    const auto files = biasModelFiles(folder);
    auto expectRefused = [](const std::string& manifest, const std::string& weights) {
        try {
            MLModel::loadFromMemory(manifest, weights, "asset.mlmodelc");
            ADD_FAILURE() << "accepted";
        } catch (const MLModelError& error) {
            EXPECT_EQ(std::string(error.what()).rfind("asset.mlmodelc", 0), 0u) << error.what();
        }
    };
    auto flipped = files.weights;
    flipped[flipped.size() / 2] ^= 0x40;
    expectRefused(files.manifest, flipped);                                            // checksum
    expectRefused(files.manifest, files.weights.substr(0, 100));                       // truncated
    expectRefused(files.manifest.substr(0, files.manifest.size() / 2), files.weights); // bad JSON
    expectRefused("", "");
    expectRefused(files.weights, files.manifest); // swapped
}
