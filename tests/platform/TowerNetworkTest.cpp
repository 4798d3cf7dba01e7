#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <random>

#include "Platform/MLModel.hpp"
#include "Platform/TowerNetwork.hpp"
#include "tests/support/ModelWriter.hpp"
#include "tests/support/TestModels.hpp"

using namespace tarnwick;
namespace tt = tarnwick::testing;
using namespace tarnwick::platform;
namespace fs = std::filesystem;

namespace {

constexpr int rows = 6, columns = 7, cells = 42;
constexpr double tolerance = 1e-5;

// Activations as channel * 42 + row * 7 + column, in double precision.
using Planes = std::vector<double>;

Planes conv3x3(const Planes& in, std::int64_t cin, const std::vector<float>& w,
               const std::vector<float>& b, std::int64_t cout) {
    Planes out(static_cast<std::size_t>(cout * cells));
    for (std::int64_t o = 0; o < cout; ++o)
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c) {
                double sum = b[o];
                for (std::int64_t i = 0; i < cin; ++i)
                    for (int kh = 0; kh < 3; ++kh)
                        for (int kw = 0; kw < 3; ++kw) {
                            const int rr = r + kh - 1, cc = c + kw - 1;
                            if (rr < 0 || rr >= rows || cc < 0 || cc >= columns) continue;
                            sum += double(w[((o * cin + i) * 3 + kh) * 3 + kw]) *
                                   in[i * cells + rr * columns + cc];
                        }
                out[o * cells + r * columns + c] = sum;
            }
    return out;
}

Planes conv1x1(const Planes& in, std::int64_t cin, const std::vector<float>& w,
               const std::vector<float>& b, std::int64_t cout) {
    Planes out(static_cast<std::size_t>(cout * cells));
    for (std::int64_t o = 0; o < cout; ++o)
        for (int p = 0; p < cells; ++p) {
            double sum = b[o];
            for (std::int64_t i = 0; i < cin; ++i)
                sum += double(w[o * cin + i]) * in[i * cells + p];
            out[o * cells + p] = sum;
        }
    return out;
}

std::vector<double> dense(const std::vector<double>& in, const std::vector<float>& w,
                          const std::vector<float>& b) {
    std::vector<double> out(b.size());
    for (std::size_t o = 0; o < b.size(); ++o) {
        double sum = b[o];
        for (std::size_t i = 0; i < in.size(); ++i)
            sum += double(w[o * in.size() + i]) * in[i];
        out[o] = sum;
    }
    return out;
}

void relu(std::vector<double>& v) {
    for (auto& x : v)
        x = std::max(x, 0.0);
}

struct Outputs {
    double value;
    std::vector<double> policy;
};

Outputs reference(const tt::Tensors& t, const TowerArchitecture& a, const Planes& input) {
    const auto F = a.filters;
    auto x = conv3x3(input, 2, t.at("stem.weight"), t.at("stem.bias"), F);
    relu(x);
    for (std::int64_t i = 0; i < a.blocks; ++i) {
        const auto block = "block" + std::to_string(i);
        auto y = conv3x3(x, F, t.at(block + ".conv1.weight"), t.at(block + ".conv1.bias"), F);
        relu(y);
        auto z = conv3x3(y, F, t.at(block + ".conv2.weight"), t.at(block + ".conv2.bias"), F);
        for (std::size_t k = 0; k < z.size(); ++k)
            z[k] += x[k];
        relu(z);
        x = z;
    }
    // Channel-major planes are already the flattened order the dense layers read.
    auto p = conv1x1(x, F, t.at("policy.conv.weight"), t.at("policy.conv.bias"), a.policyFilters);
    relu(p);
    auto v = conv1x1(x, F, t.at("value.conv.weight"), t.at("value.conv.bias"), a.valueFilters);
    relu(v);
    auto h = dense(v, t.at("value.fc1.weight"), t.at("value.fc1.bias"));
    relu(h);
    return {std::tanh(dense(h, t.at("value.fc2.weight"), t.at("value.fc2.bias"))[0]),
            dense(p, t.at("policy.fc.weight"), t.at("policy.fc.bias"))};
}

// A position-like input: each cell empty, the mover's or the opponent's.
Planes randomPosition(std::mt19937& generator) {
    Planes planes(2 * cells, 0.0);
    std::uniform_int_distribution<int> cell(0, 2);
    for (int p = 0; p < cells; ++p)
        if (const int who = cell(generator)) planes[(who - 1) * cells + p] = 1.0;
    return planes;
}

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
