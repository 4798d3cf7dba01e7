#include <gtest/gtest.h>

#include <cmath>

#include "DerivedSources/CoreMLGenerated/version0328/version0328.hpp"
#include "Platform/ModelResource.hpp"

using namespace tarnwick;
using namespace tarnwick::platform;
namespace fs = std::filesystem;

namespace {

const fs::path shipped = fs::path(TARNWICK_TEST_RESOURCES) / "version0328.mlmodelc";

std::shared_ptr<MLMultiArray> position(const std::vector<int>& mine,
                                       const std::vector<int>& theirs) {
    auto a = MLMultiArray::create({2, 6, 7}, MLMultiArrayDataType::Double);
    for (int cell : mine)
        a->set(cell, 1.0);
    for (int cell : theirs)
        a->set(42 + cell, 1.0);
    return a;
}

TEST(ModelLookup, FindsTheShippedResourceFromTheBuildTree) {
    const auto url = version0328::urlOfModelInThisBundle();
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->filename(), "version0328.mlmodelc");
    EXPECT_TRUE(fs::is_regular_file(*url / "model.json"));
    // Whichever copy is found, it holds the shipped weights.
    EXPECT_EQ(readModelResource(*url).tensors, readModelResource(shipped).tensors);
}

TEST(ModelLookup, DefaultConstructedModelPredictsLikeTheShippedResource) {
    version0328 bundled;
    version0328 direct(shipped);
    const auto input = position({38, 31}, {39});
    const auto got = bundled.prediction(input);
    const auto want = direct.prediction(input);
    const double value = (*got->output1())[0];
    EXPECT_GE(value, -1.0);
    EXPECT_LE(value, 1.0);
    EXPECT_EQ(value, (*want->output1())[0]);
    ASSERT_EQ(got->output2()->count(), 42);
    for (std::int64_t i = 0; i < 42; ++i) {
        EXPECT_TRUE(std::isfinite((*got->output2())[i]));
        EXPECT_EQ((*got->output2())[i], (*want->output2())[i]);
    }
    // A different position must change the outputs, or the model ignores its input.
    const auto other = bundled.prediction(position({}, {}));
    bool differs = (*other->output1())[0] != value;
    for (std::int64_t i = 0; i < 42; ++i)
        differs |= (*other->output2())[i] != (*got->output2())[i];
    EXPECT_TRUE(differs);
}

TEST(ModelLookup, ConfiguredConstructorChecksTheConfiguration) {
    EXPECT_NO_THROW(version0328(MLModelConfiguration{2}));
    EXPECT_THROW(version0328(MLModelConfiguration{0}), ModelLoadError);
}

} // namespace
