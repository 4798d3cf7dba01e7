#include "Platform/TowerNetwork.hpp"

#include <cmath>
#include <cstring>

#include <algorithm>

#include <Eigen/Core>

namespace tarnwick::platform {

namespace {

using Matrix = Eigen::Matrix<float, Eigen::Dynamic, Eigen::Dynamic>;
using Vector = Eigen::Matrix<float, Eigen::Dynamic, 1>;
using RowMajor = Eigen::Matrix<float, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

constexpr int rows = 6, columns = 7, cells = 42;

struct Layer {
    Matrix weight; // out x (in * k * k)
    Vector bias;
};

Layer layer(TowerWeights& w, const std::string& name, std::int64_t out, std::int64_t in) {
    auto& values = w.tensors.at(name + ".weight");
    Layer l;
    l.weight = Eigen::Map<const RowMajor>(values.data(), out, in);
    auto& bias = w.tensors.at(name + ".bias");
    l.bias = Eigen::Map<const Vector>(bias.data(), static_cast<Eigen::Index>(bias.size()));
    return l;
}

// A 3x3 convolution stored as (in, kh, kw) columns, reordered to (kh, kw, in) so that im2col
// copies each neighbour's whole channel column at once.
Layer convLayer(TowerWeights& w, const std::string& name, std::int64_t out, std::int64_t in) {
    Layer l = layer(w, name, out, in * 9);
    Matrix reordered(l.weight.rows(), l.weight.cols());
    for (std::int64_t ch = 0; ch < in; ++ch)
        for (int k = 0; k < 9; ++k) reordered.col(k * in + ch) = l.weight.col(ch * 9 + k);
    l.weight = std::move(reordered);
    return l;
}

} // namespace

struct TowerNetwork::Impl {
    TowerArchitecture arch;
    Layer stem;
    std::vector<Layer> convs; // two per block
    Layer policyConv, policyFc, valueConv, valueFc1, valueFc2;
    // Reused work buffers: activations are channels x (42 * batch), position-major columns.
    Matrix x, y, skip, patches, head, flat, hidden, v;

    // 3x3 patches of `input` (channels x 42B) into `patches` ((9 * channels) x 42B), one
    // neighbour's channels after another; off-board neighbours read zero.
    void im2col(const Matrix& input, Eigen::Index batch) {
        const auto channels = input.rows();
        patches.resize(channels * 9, cells * batch);
        for (Eigen::Index b = 0; b < batch; ++b)
            for (int r = 0; r < rows; ++r)
                for (int c = 0; c < columns; ++c) {
                    float* out = patches.col(b * cells + r * columns + c).data();
                    for (int dr = -1; dr <= 1; ++dr)
                        for (int dc = -1; dc <= 1; ++dc, out += channels) {
                            const int rr = r + dr, cc = c + dc;
                            if (rr < 0 || rr >= rows || cc < 0 || cc >= columns)
                                std::fill_n(out, channels, 0.0f);
                            else
                                std::copy_n(input.col(b * cells + rr * columns + cc).data(), channels, out);
                        }
                }
    }

    void conv3(const Layer& l, const Matrix& input, Matrix& output, Eigen::Index batch) {
        im2col(input, batch);
        output.noalias() = l.weight * patches;
        output.colwise() += l.bias;
    }

    // ReLU of channels x 42B into (channels * 42) x B, channel-major as the dense layers read it.
    void flattenRelu(const Matrix& input, Eigen::Index batch) {
        const auto channels = input.rows();
        flat.resize(channels * cells, batch);
        for (Eigen::Index b = 0; b < batch; ++b)
            for (Eigen::Index ch = 0; ch < channels; ++ch)
                for (int p = 0; p < cells; ++p)
                    flat(ch * cells + p, b) = std::max(input(ch, b * cells + p), 0.0f);
    }

    // Rows 0..41 of `policy` and row 0 of `value` per position, column b.
    void forward(Eigen::Index batch, Matrix& policy, Vector& value) {
        conv3(stem, x, y, batch);
        x = y.cwiseMax(0.0f);
        for (std::size_t i = 0; i < convs.size(); i += 2) {
            conv3(convs[i], x, y, batch);
            y = y.cwiseMax(0.0f);
            skip = x; // the block's input
            conv3(convs[i + 1], y, x, batch);
            x = (x + skip).cwiseMax(0.0f);
        }
        head.noalias() = policyConv.weight * x;
        head.colwise() += policyConv.bias;
        flattenRelu(head, batch);
        policy.noalias() = policyFc.weight * flat;
        policy.colwise() += policyFc.bias;

        head.noalias() = valueConv.weight * x;
        head.colwise() += valueConv.bias;
        flattenRelu(head, batch);
        hidden.noalias() = valueFc1.weight * flat;
        hidden.colwise() += valueFc1.bias;
        hidden = hidden.cwiseMax(0.0f);
        v.noalias() = valueFc2.weight * hidden;
        value.resize(batch);
        for (Eigen::Index b = 0; b < batch; ++b) value(b) = std::tanh(v(0, b) + valueFc2.bias(0));
    }
};

TowerNetwork::TowerNetwork(TowerWeights w) : impl(std::make_unique<Impl>()) {
    auto& a = impl->arch = w.architecture;
    impl->stem = convLayer(w, "stem", a.filters, 2);
    for (std::int64_t i = 0; i < a.blocks; ++i) {
        const auto block = "block" + std::to_string(i);
        impl->convs.push_back(convLayer(w, block + ".conv1", a.filters, a.filters));
        impl->convs.push_back(convLayer(w, block + ".conv2", a.filters, a.filters));
    }
    impl->policyConv = layer(w, "policy.conv", a.policyFilters, a.filters);
    impl->policyFc = layer(w, "policy.fc", cells, a.policyFilters * cells);
    impl->valueConv = layer(w, "value.conv", a.valueFilters, a.filters);
    impl->valueFc1 = layer(w, "value.fc1", a.valueHidden, a.valueFilters * cells);
    impl->valueFc2 = layer(w, "value.fc2", 1, a.valueHidden);
}

TowerNetwork::~TowerNetwork() = default;

const TowerArchitecture& TowerNetwork::architecture() const { return impl->arch; }

double TowerNetwork::flopsPerPosition() const {
    const auto& a = impl->arch;
    const double F = static_cast<double>(a.filters);
    double macs = cells * F * 2 * 9 + a.blocks * 2 * cells * F * F * 9;
    macs += cells * F * (a.policyFilters + a.valueFilters);
    macs += 42.0 * a.policyFilters * cells + a.valueHidden * (a.valueFilters * cells + 1.0);
    return 2 * macs;
}

namespace {

// Checks the provider holds exactly the model's input and copies it into column b of `x`.
void loadInput(const MLFeatureProvider& input, Matrix& x, Eigen::Index b) {
    for (const auto& name : input.featureNames())
        if (name != "input1")
            throw MLModelError("prediction: the model has no input feature \"" + name + "\"");
    const auto value = input.featureValue("input1");
    const auto array = value ? value->multiArrayValue() : nullptr;
    if (!array) throw MLModelError("prediction: the input feature \"input1\" is missing");
    const auto& shape = array->shape();
    const bool planar = shape == std::vector<std::int64_t>{2, 6, 7} ||
                        shape == std::vector<std::int64_t>{1, 2, 6, 7};
    if (!planar) throw MLModelError("prediction: \"input1\" must have shape [2, 6, 7]");
    const auto type = array->dataType();
    if (type != MLMultiArrayDataType::Double && type != MLMultiArrayDataType::Float32)
        throw MLModelError("prediction: \"input1\" must hold double or float32 elements");
    for (int plane = 0; plane < 2; ++plane)
        for (int p = 0; p < cells; ++p) {
            const auto i = static_cast<std::size_t>(plane * cells + p);
            x(plane, b * cells + p) = type == MLMultiArrayDataType::Double
                                          ? static_cast<float>(static_cast<const double*>(array->dataPointer())[i])
                                          : static_cast<const float*>(array->dataPointer())[i];
        }
}

std::shared_ptr<MLFeatureProvider> outputs(const Matrix& policy, const Vector& value, Eigen::Index b) {
    auto output1 = MLMultiArray::create({1}, MLMultiArrayDataType::Double);
    auto output2 = MLMultiArray::create({cells}, MLMultiArrayDataType::Double);
    if (!output1 || !output2) throw MLModelError("prediction: cannot allocate the outputs");
    static_cast<double*>(output1->dataPointer())[0] = value(b);
    auto* scores = static_cast<double*>(output2->dataPointer());
    for (int i = 0; i < cells; ++i) scores[i] = policy(i, b);
    return std::make_shared<MLDictionaryFeatureProvider>(
        std::map<std::string, std::shared_ptr<MLFeatureValue>>{
            {"output1", MLFeatureValue::featureValueWithMultiArray(output1)},
            {"output2", MLFeatureValue::featureValueWithMultiArray(output2)}});
}

} // namespace

std::shared_ptr<MLFeatureProvider> TowerNetwork::prediction(const MLFeatureProvider& input,
                                                            const MLPredictionOptions&) {
    impl->x.resize(2, cells);
    loadInput(input, impl->x, 0);
    Matrix policy;
    Vector value;
    impl->forward(1, policy, value);
    return outputs(policy, value, 0);
}

std::shared_ptr<MLBatchProvider> TowerNetwork::predictions(const MLBatchProvider& inputs,
                                                           const MLPredictionOptions&) {
    const auto batch = static_cast<Eigen::Index>(inputs.count());
    // The count comes from the caller's provider and sizes the work buffers, so a lying
    // provider must not reach the allocator.
    constexpr Eigen::Index maxBatch = 1 << 16;
    if (batch < 0 || batch > maxBatch)
        throw MLModelError("predictions: the batch reports " + std::to_string(batch) +
                           " entries; a batch holds 0 to " + std::to_string(maxBatch));
    std::vector<std::shared_ptr<MLFeatureProvider>> results;
    if (batch == 0) return std::make_shared<MLArrayBatchProvider>(std::move(results));
    impl->x.resize(2, cells * batch);
    for (Eigen::Index b = 0; b < batch; ++b) {
        const auto provider = inputs.features(b);
        if (!provider) throw MLModelError("predictions: batch entry " + std::to_string(b) + " is empty");
        loadInput(*provider, impl->x, b);
    }
    Matrix policy;
    Vector value;
    impl->forward(batch, policy, value);
    results.reserve(static_cast<std::size_t>(batch));
    for (Eigen::Index b = 0; b < batch; ++b) results.push_back(outputs(policy, value, b));
    return std::make_shared<MLArrayBatchProvider>(std::move(results));
}

std::shared_ptr<MLModel> MLModel::load(const std::filesystem::path& contentsOf) {
    return std::make_shared<TowerNetwork>(readModelResource(contentsOf));
}

std::shared_ptr<MLModel> MLModel::load(const std::filesystem::path& contentsOf,
                                       const MLModelConfiguration& configuration) {
    if (configuration.computeThreads < 1)
        throw MLModelError(contentsOf.string() + ": computeThreads must be at least 1");
    return load(contentsOf);
}

} // namespace tarnwick::platform
