#include <gtest/gtest.h>

#include <limits>

#include "Platform/MLBatchProvider.hpp"
#include "Platform/MLFeatureProvider.hpp"
#include "Platform/MLMultiArray.hpp"

using namespace tarnwick::platform;

namespace {

std::shared_ptr<MLFeatureValue> scalar(double x) {
    auto a = MLMultiArray::create({1}, MLMultiArrayDataType::Double);
    a->set(0, x);
    return MLFeatureValue::featureValueWithMultiArray(a);
}

double valueOf(const MLFeatureProvider& provider, const std::string& name) {
    return (*provider.featureValue(name)->multiArrayValue())[0];
}

TEST(DictionaryFeatureProvider, NamesAndLookup) {
    const MLDictionaryFeatureProvider provider({{"output2", scalar(2)}, {"output1", scalar(1)}});
    EXPECT_EQ(provider.featureNames(), (std::set<std::string>{"output1", "output2"}));
    EXPECT_EQ(valueOf(provider, "output1"), 1.0);
    EXPECT_EQ(valueOf(provider, "output2"), 2.0);
    EXPECT_EQ(provider.featureValue("output3"), nullptr);
    EXPECT_EQ(provider.featureValue(""), nullptr);
    EXPECT_EQ(provider.featureValue("Output1"), nullptr);

    const MLDictionaryFeatureProvider empty({});
    EXPECT_TRUE(empty.featureNames().empty());
    EXPECT_EQ(empty.featureValue("output1"), nullptr);
}

TEST(ArrayBatchProvider, CountAndIndexedAccess) {
    std::vector<std::shared_ptr<MLFeatureProvider>> entries;
    for (int i = 0; i < 3; ++i)
        entries.push_back(std::make_shared<MLDictionaryFeatureProvider>(
            std::map<std::string, std::shared_ptr<MLFeatureValue>>{{"x", scalar(10 + i)}}));
    const MLArrayBatchProvider batch(entries);
    ASSERT_EQ(batch.count(), 3);
    for (std::int64_t i = 0; i < 3; ++i)
        EXPECT_EQ(valueOf(*batch.features(i), "x"), 10.0 + i);
    for (std::int64_t bad :
         {std::int64_t{-1}, std::int64_t{3}, std::numeric_limits<std::int64_t>::min(),
          std::numeric_limits<std::int64_t>::max()})
        EXPECT_THROW(batch.features(bad), std::out_of_range) << bad;

    const MLArrayBatchProvider empty({});
    EXPECT_EQ(empty.count(), 0);
    EXPECT_THROW(empty.features(0), std::out_of_range);
}

TEST(MultiArray, ShapesRefusedAtCreation) {
    using T = MLMultiArrayDataType;
    EXPECT_EQ(MLMultiArray::create({2, -1}, T::Double), nullptr);
    EXPECT_EQ(MLMultiArray::create({std::int64_t{1} << 40, std::int64_t{1} << 40}, T::Float32),
              nullptr);
    EXPECT_EQ(MLMultiArray::create({std::numeric_limits<std::int64_t>::max(), 2}, T::Int32),
              nullptr);
    // 8 GiB: with a 32-bit size_t (WebAssembly) the byte count wrapped to nothing.
    if constexpr (sizeof(std::size_t) < 8) {
        EXPECT_EQ(MLMultiArray::create({std::int64_t{1} << 30, 2}, T::Float32), nullptr);
    }
    const auto empty = MLMultiArray::create({3, 0, 5}, T::Double);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->count(), 0);
    EXPECT_THROW((*empty)[0], std::out_of_range);
}

TEST(MultiArray, IndexingIsRowMajorAndChecked) {
    auto a = MLMultiArray::create({2, 6, 7}, MLMultiArrayDataType::Double);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->strides(), (std::vector<std::int64_t>{42, 7, 1}));
    EXPECT_EQ((*a)[41], 0.0); // zero-filled
    a->set({1, 2, 3}, 5.5);
    EXPECT_EQ((*a)[42 + 2 * 7 + 3], 5.5);
    EXPECT_THROW(a->set({1, 6, 0}, 1), std::out_of_range);
    EXPECT_THROW(a->set({0, 0, -1}, 1), std::out_of_range);
    const std::vector<std::int64_t> shortIndex{1, 2};
    EXPECT_THROW((*a)[shortIndex], std::out_of_range);
    EXPECT_THROW((*a)[84], std::out_of_range);
    EXPECT_THROW(a->set(-1, 0), std::out_of_range);
}

TEST(MultiArray, ElementTypesConvert) {
    auto f = MLMultiArray::create({2}, MLMultiArrayDataType::Float32);
    f->set(0, 0.1);
    EXPECT_EQ((*f)[0], static_cast<double>(0.1f));
    auto i = MLMultiArray::create({4}, MLMultiArrayDataType::Int32);
    i->set(0, 1e12);
    i->set(1, -1e12);
    i->set(2, std::numeric_limits<double>::quiet_NaN());
    i->set(3, -7.9);
    EXPECT_EQ((*i)[0], std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ((*i)[1], std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ((*i)[2], 0.0);
    EXPECT_EQ((*i)[3], -7.0);
}

} // namespace
