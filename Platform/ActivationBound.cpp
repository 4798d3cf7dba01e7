#include "Platform/ActivationBound.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <vector>

#include "Platform/MLModel.hpp"

namespace tarnwick::platform {

namespace {

// Upper bounds of non-negative (post-ReLU) channels; a channel's lower bound is 0.
using Bounds = std::vector<double>;

struct Layer {
    Bounds upper;     // after the layer's ReLU (or before it, for the last layers)
    double magnitude; // largest |partial sum| inside the layer
};

// out[o] = bias[o] + sum over (i, k) of weight[o][i][k] * x[i], with 0 <= x[i] <= in[i] and
// `taps` weights per input channel (9 for a 3x3 convolution, 1 for 1x1, 42 for a dense layer
// reading 42 cells of a channel).
Layer linear(const std::vector<float>& weight, const std::vector<float>& bias, const Bounds& in,
             std::size_t taps) {
    const std::size_t outputs = bias.size();
    Layer layer{Bounds(outputs, 0.0), 0.0};
    for (std::size_t o = 0; o < outputs; ++o) {
        double high = bias[o], low = bias[o], size = std::fabs(bias[o]);
        for (std::size_t i = 0; i < in.size(); ++i)
            for (std::size_t k = 0; k < taps; ++k) {
                const double w = weight[(o * in.size() + i) * taps + k];
                (w > 0 ? high : low) += w * in[i];
                size += std::fabs(w) * in[i];
            }
        layer.upper[o] = std::max(high, 0.0);
        layer.magnitude = std::max({layer.magnitude, size, std::fabs(low), std::fabs(high)});
    }
    return layer;
}

struct Walk {
    const TowerWeights& weights;
    double worst = 0.0;
    std::string where;

    Layer apply(const std::string& name, const Bounds& in, std::size_t taps) {
        const auto layer = linear(weights.tensors.at(name + ".weight"),
                                  weights.tensors.at(name + ".bias"), in, taps);
        // inf * 0 makes NaN once a bound has overflowed: that is an overflow too.
        const double size = std::isnan(layer.magnitude) ? INFINITY : layer.magnitude;
        if (where.empty() && !(size <= activationLimit)) where = name;
        worst = std::max(worst, size);
        return layer;
    }
};

Walk walkTower(const TowerWeights& weights) {
    Walk walk{weights, 0.0, {}};
    const auto& a = weights.architecture;
    Bounds x = walk.apply("stem", Bounds(2, 1.0), 9).upper;
    for (std::int64_t b = 0; b < a.blocks; ++b) {
        const auto block = "block" + std::to_string(b);
        const auto y = walk.apply(block + ".conv1", x, 9).upper;
        const auto sum = walk.apply(block + ".conv2", y, 9);
        for (std::size_t c = 0; c < x.size(); ++c)
            x[c] = sum.upper[c] + x[c];
        walk.worst = std::max(walk.worst, *std::max_element(x.begin(), x.end()));
    }
    walk.apply("policy.fc", walk.apply("policy.conv", x, 1).upper, 42);
    const auto hidden = walk.apply("value.fc1", walk.apply("value.conv", x, 1).upper, 42);
    walk.apply("value.fc2", hidden.upper, 1);
    return walk;
}
} // namespace

double activationBound(const TowerWeights& weights) {
    return walkTower(weights).worst;
}

void checkActivationBound(const TowerWeights& weights, const std::string& label) {
    const auto walk = walkTower(weights);
    if (walk.worst <= activationLimit) return;
    std::ostringstream text;
    text << label << ": the weights can drive the network past float range (a sum in \""
         << (walk.where.empty() ? std::string("a residual block") : walk.where) << "\" may reach "
         << walk.worst << ", the limit is " << activationLimit
         << "); its answers could be infinite or not a number";
    throw MLModelError(text.str());
}

} // namespace tarnwick::platform
