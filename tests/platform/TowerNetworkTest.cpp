#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <random>

#include "Platform/MLModel.hpp"
#include "Platform/TowerNetwork.hpp"
#include "tests/support/ModelWriter.hpp"
#include "tests/support/ReferenceTower.hpp"
#include "tests/support/TestModels.hpp"

using namespace tarnwick;
namespace tt = tarnwick::testing;
using namespace tarnwick::platform;
namespace fs = std::filesystem;

namespace {


constexpr int cells = 42;
constexpr double tolerance = 1e-5;
using tt::Planes, tt::Outputs, tt::randomPosition, tt::reference;


std::shared_ptr<MLMultiArray> array(const Planes& planes, std::vector<std::int64_t> shape,
                                    MLMultiArrayDataType type) {
    auto a = MLMultiArray::create(std::move(shape), type);
    for (std::size_t i = 0; i < planes.size(); ++i)
        a->set(static_cast<std::int64_t>(i), planes[i]);
    return a;
}

std::shared_ptr<MLFeatureProvider>
provider(std::map<std::string, std::shared_ptr<MLMultiArray>> features) {
    std::map<std::string, std::shared_ptr<MLFeatureValue>> values;
    for (auto& [name, a] : features)
        values[name] = MLFeatureValue::featureValueWithMultiArray(a);
    return std::make_shared<MLDictionaryFeatureProvider>(std::move(values));
}

std::shared_ptr<MLFeatureProvider> inputOf(const Planes& planes) {
    return provider({{"input1", array(planes, {2, 6, 7}, MLMultiArrayDataType::Double)}});
}

void expectMatches(const MLFeatureProvider& got, const Outputs& want, const std::string& what) {
    const auto value = got.featureValue("output1")->multiArrayValue();
    const auto policy = got.featureValue("output2")->multiArrayValue();
    ASSERT_EQ(value->shape(), (std::vector<std::int64_t>{1})) << what;
    ASSERT_EQ(policy->shape(), (std::vector<std::int64_t>{42})) << what;
    EXPECT_NEAR((*value)[0], want.value, tolerance) << what;
    for (int i = 0; i < cells; ++i)
        EXPECT_NEAR((*policy)[i], want.policy[i], tolerance) << what << " cell " << i;
}

class TowerAgainstReference : public ::testing::TestWithParam<TowerArchitecture> {
  protected:
    void SetUp() override {
        arch = GetParam();
        tensors = tt::randomTensors(arch, 1234);
        folder = tt::writeResource(tt::scratchFolder("tower"), tt::makeResource(arch, tensors));
        model = MLModel::load(folder);
        std::mt19937 generator(99);
        for (int i = 0; i < 5; ++i)
            positions.push_back(randomPosition(generator));
        for (const auto& p : positions)
            references.push_back(reference(tensors, arch, p));
    }
    void TearDown() override { fs::remove_all(folder); }

    TowerArchitecture arch;
    tt::Tensors tensors;
    fs::path folder;
    std::shared_ptr<MLModel> model;
    std::vector<Planes> positions;
    std::vector<Outputs> references;
};

TEST_P(TowerAgainstReference, ReferenceDiscriminatesPositions) {
    // Outputs that barely differ between positions, or a saturated tanh, would let a wrong
    // interpreter pass the comparisons below.
    for (const auto& r : references)
        EXPECT_LT(std::abs(r.value), 0.99);
    double spread = 0;
    for (int i = 0; i < cells; ++i)
        spread = std::max(spread, std::abs(references[0].policy[i] - references[1].policy[i]));
    EXPECT_GT(spread, 1e-3);
    EXPECT_GT(std::abs(references[0].value - references[1].value), 1e-4);
}

TEST_P(TowerAgainstReference, SinglePredictionMatches) {
    for (std::size_t i = 0; i < positions.size(); ++i)
        expectMatches(*model->prediction(*inputOf(positions[i]), {}), references[i],
                      "position " + std::to_string(i));
}

TEST_P(TowerAgainstReference, BatchPredictionMatchesInOrder) {
    std::vector<std::shared_ptr<MLFeatureProvider>> inputs;
    for (const auto& p : positions)
        inputs.push_back(inputOf(p));
    const auto results = model->predictions(MLArrayBatchProvider(inputs), {});
    ASSERT_EQ(results->count(), 5);
    for (std::int64_t i = 0; i < 5; ++i)
        expectMatches(*results->features(i), references[static_cast<std::size_t>(i)],
                      "batch entry " + std::to_string(i));
    // Buffers sized for the batch must not leak into a following single prediction.
    expectMatches(*model->prediction(*inputOf(positions[3]), {}), references[3], "after batch");
}

TEST_P(TowerAgainstReference, Float32AndLeadingBatchDimensionAreAccepted) {
    const auto& p = positions[2];
    expectMatches(
        *model->prediction(
            *provider({{"input1", array(p, {2, 6, 7}, MLMultiArrayDataType::Float32)}}), {}),
        references[2], "float32");
    expectMatches(
        *model->prediction(
            *provider({{"input1", array(p, {1, 2, 6, 7}, MLMultiArrayDataType::Double)}}), {}),
        references[2], "[1, 2, 6, 7]");
}

INSTANTIATE_TEST_SUITE_P(Architectures, TowerAgainstReference,
                         ::testing::Values(TowerArchitecture{2, 8, 2, 2, 16},
                                           TowerArchitecture{0, 3, 1, 1, 4},
                                           TowerArchitecture{1, 5, 3, 2, 7},
                                           // Wide enough for the vector paths of the
                                           // convolutions, with a remainder beside them.
                                           TowerArchitecture{1, 36, 2, 1, 8},
                                           // 4 lanes: groups of 4 and 3 on AArch64, of 2 and
                                           // 1 on x86, and 2 channels beside.
                                           TowerArchitecture{1, 30, 2, 1, 8},
                                           TowerArchitecture{1, 64, 2, 2, 8}),
                         [](const auto& info) {
                             const auto& a = info.param;
                             return "B" + std::to_string(a.blocks) + "F" +
                                    std::to_string(a.filters) + "P" +
                                    std::to_string(a.policyFilters) + "V" +
                                    std::to_string(a.valueFilters) + "H" +
                                    std::to_string(a.valueHidden);
                         });

struct BadInput {
    std::string name;
    std::function<std::shared_ptr<MLFeatureProvider>()> make;
    std::string problem;
    friend void PrintTo(const BadInput& input, std::ostream* os) { *os << input.name; }
};

Planes emptyBoard() {
    return Planes(2 * cells, 0.0);
}

const std::vector<BadInput>& badInputs() {
    using T = MLMultiArrayDataType;
    static const std::vector<BadInput> cases{
        {"TransposedBoard",
         [] {
             return provider({{"input1", MLMultiArray::create({2, 7, 6}, T::Double)}});
         },
         "\"input1\" must have shape [2, 6, 7]"},
        {"FlatBoard",
         [] {
             return provider({{"input1", MLMultiArray::create({84}, T::Double)}});
         },
         "\"input1\" must have shape [2, 6, 7]"},
        {"TwoPositions",
         [] {
             return provider({{"input1", MLMultiArray::create({2, 2, 6, 7}, T::Double)}});
         },
         "\"input1\" must have shape [2, 6, 7]"},
        {"Int32Elements",
         [] {
             return provider({{"input1", array(emptyBoard(), {2, 6, 7}, T::Int32)}});
         },
         "must hold double or float32 elements"},
        {"UnknownFeature",
         [] {
             return provider({{"input1", array(emptyBoard(), {2, 6, 7}, T::Double)},
                              {"input2", array(emptyBoard(), {2, 6, 7}, T::Double)}});
         },
         "the model has no input feature \"input2\""},
        {"NoFeatures", [] { return provider({}); }, "the input feature \"input1\" is missing"},
        {"NullArray",
         [] {
             return provider({{"input1", nullptr}});
         },
         "the input feature \"input1\" is missing"},
    };
    return cases;
}

class BadInputTest : public ::testing::TestWithParam<BadInput> {
  protected:
    void SetUp() override {
        folder = tt::writeBiasModel(tt::scratchFolder("input"), tt::favourColumn(2, 1.f), 0.5f);
        model = MLModel::load(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    void expectRefused(const std::function<void()>& call, const std::string& problem) {
        try {
            call();
            ADD_FAILURE() << "accepted: " << GetParam().name;
        } catch (const MLModelError& error) {
            EXPECT_NE(std::string(error.what()).find(problem), std::string::npos) << error.what();
        }
    }

    fs::path folder;
    std::shared_ptr<MLModel> model;
};

TEST_P(BadInputTest, SinglePredictionRefuses) {
    expectRefused([&] { model->prediction(*GetParam().make(), {}); }, GetParam().problem);
}

TEST_P(BadInputTest, BatchPredictionRefusesOneBadEntry) {
    const MLArrayBatchProvider batch(
        {inputOf(emptyBoard()), inputOf(emptyBoard()), GetParam().make(), inputOf(emptyBoard())});
    expectRefused([&] { model->predictions(batch, {}); }, GetParam().problem);
    // A refused batch leaves the model usable.
    const auto after = model->prediction(*inputOf(emptyBoard()), {});
    EXPECT_NEAR((*after->featureValue("output1")->multiArrayValue())[0], std::tanh(0.5), 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Inputs, BadInputTest, ::testing::ValuesIn(badInputs()),
                         [](const auto& info) { return info.param.name; });

// A provider of our own that misreports its size.
class CountingBatch : public MLBatchProvider {
  public:
    CountingBatch(std::int64_t n, std::shared_ptr<MLFeatureProvider> entry)
        : n(n), entry(std::move(entry)) {}
    std::int64_t count() const override { return n; }
    std::shared_ptr<MLFeatureProvider> features(std::int64_t) const override { return entry; }

  private:
    std::int64_t n;
    std::shared_ptr<MLFeatureProvider> entry;
};

TEST(TowerNetworkBatch, EdgeCasesOfTheBatchItself) {
    const auto folder =
        tt::writeBiasModel(tt::scratchFolder("batch"), tt::favourColumn(5, 2.f), -0.5f);
    const auto model = MLModel::load(folder);
    fs::remove_all(folder);

    EXPECT_EQ(model->predictions(MLArrayBatchProvider({}), {})->count(), 0);
    EXPECT_THROW(model->predictions(CountingBatch(-1, inputOf(emptyBoard())), {}), MLModelError);
    EXPECT_THROW(model->predictions(CountingBatch(std::int64_t{1} << 40, inputOf(emptyBoard())), {}),
                 MLModelError);
    try {
        model->predictions(CountingBatch(3, nullptr), {});
        ADD_FAILURE() << "accepted a batch of null entries";
    } catch (const MLModelError& error) {
        EXPECT_NE(std::string(error.what()).find("batch entry 0 is empty"), std::string::npos);
    }
    const auto results = model->predictions(CountingBatch(2, inputOf(emptyBoard())), {});
    ASSERT_EQ(results->count(), 2);
    const auto policy = results->features(1)->featureValue("output2")->multiArrayValue();
    EXPECT_DOUBLE_EQ((*policy)[{5}], 2.0);
    EXPECT_DOUBLE_EQ((*policy)[{4}], 0.0);
    EXPECT_NEAR((*results->features(1)->featureValue("output1")->multiArrayValue())[0],
                std::tanh(-0.5), 1e-6);
}

} // namespace
