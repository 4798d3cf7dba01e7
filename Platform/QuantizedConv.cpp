#include "Platform/QuantizedConv.hpp"

#include <algorithm>
#include <cmath>

namespace tarnwick::platform {

namespace {

constexpr int rows = 6, columns = 7, cells = 42;

std::vector<std::int8_t> neighbourMajor(const std::vector<std::int8_t>& weight, std::int64_t out,
                                        std::int64_t in) {
    std::vector<std::int8_t> reordered(weight.size());
    for (std::int64_t o = 0; o < out; ++o)
        for (std::int64_t i = 0; i < in; ++i)
            for (int k = 0; k < 9; ++k)
                reordered[static_cast<std::size_t>((o * 9 + k) * in + i)] =
                    weight[static_cast<std::size_t>((o * in + i) * 9 + k)];
    return reordered;
}

// Codes of `count` activations. Written so that the loop vectorises: no branches, and the
// output may not alias the input. NaN and negatives read 0 (std::max(0, NaN) is 0).
void quantize(const float* input, std::int64_t count, float inverseScale,
              std::uint8_t* __restrict out) {
    for (std::int64_t i = 0; i < count; ++i) {
        float v = input[i] * inverseScale;
        v = std::max(0.0f, v);
        v = std::min(255.0f, v);
        out[i] = static_cast<std::uint8_t>(static_cast<std::int32_t>(v + 0.5f));
    }
}

} // namespace

QuantizedConv::QuantizedConv(const std::vector<std::int8_t>& weight, std::int64_t out,
                             std::int64_t in, std::vector<float> weightScale, float inputScale,
                             std::vector<float> bias)
    : in(in), inverseInputScale(1.0f / inputScale), outScale(std::move(weightScale)),
      bias(std::move(bias)), weights(neighbourMajor(weight, out, in).data(), out, 9 * in) {
    for (auto& s : outScale)
        s *= inputScale;
}

void QuantizedConv::apply(const float* input, std::int64_t batch, float* output,
                          QuantizedWork& work, Int8Kernel kernel) const {
    const std::int64_t positions = cells * batch, stride = weights.paddedInner(), patch = 9 * in;
    auto& codes = work.codes;
    codes.resize(static_cast<std::size_t>(positions * in));
    quantize(input, positions * in, inverseInputScale, codes.data());

    // Off-board neighbours and the padding past 9 * in read code 0, the value 0.
    auto& patches = work.patches;
    patches.resize(static_cast<std::size_t>(positions * stride));
    for (std::int64_t b = 0; b < batch; ++b)
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c) {
                std::uint8_t* out = patches.data() + (b * cells + r * columns + c) * stride;
                for (int dr = -1; dr <= 1; ++dr)
                    for (int dc = -1; dc <= 1; ++dc, out += in) {
                        const int rr = r + dr, cc = c + dc;
                        if (rr >= 0 && rr < rows && cc >= 0 && cc < columns)
                            std::copy_n(codes.data() + (b * cells + rr * columns + cc) * in, in,
                                        out);
                        else
                            std::fill_n(out, in, std::uint8_t{0});
                    }
                std::fill_n(out, stride - patch, std::uint8_t{0});
            }

    const std::int64_t outPadded = weights.paddedOut(), out = weights.out();
    work.sums.resize(static_cast<std::size_t>(positions * outPadded));
    weights.multiply(patches.data(), stride, positions, work.sums.data(), kernel);
    for (std::int64_t p = 0; p < positions; ++p) {
        const std::int32_t* s = work.sums.data() + p * outPadded;
        float* y = output + p * out;
        for (std::int64_t o = 0; o < out; ++o)
            y[o] = static_cast<float>(s[o]) * outScale[o] + bias[o];
    }
}

} // namespace tarnwick::platform
