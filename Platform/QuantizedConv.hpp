#pragma once
// A 3x3 convolution of the tower (zero padding 1) in int8: the input quantized to unsigned
// 8-bit codes with one scale, the weights int8 per output channel, the sums int32, and the
// result back in float with the bias added.

#include <cstdint>
#include <vector>

#include "Platform/Int8Product.hpp"

namespace tarnwick::platform {

// Buffers the convolutions of one network share: reused call after call, so that a batch's
// codes and sums are allocated once, not once a layer.
struct QuantizedWork {
    std::vector<std::uint8_t> codes, patches;
    std::vector<std::int32_t> sums;
};

class QuantizedConv {
  public:
    // `weight` [out][in][3][3] as in the model file, -127..127; `weightScale` and `bias` [out].
    QuantizedConv(const std::vector<std::int8_t>& weight, std::int64_t out, std::int64_t in,
                  std::vector<float> weightScale, float inputScale, std::vector<float> bias);

    std::int64_t outChannels() const { return weights.out(); }

    // input: in x (42 * batch) floats, each position's channels together (column-major), as
    // the float interpreter keeps activations; output: out x (42 * batch) the same way.
    // Inputs are read as codes round(x / inputScale) clamped to 0..255, halves rounded up.
    void apply(const float* input, std::int64_t batch, float* output, QuantizedWork& work,
               Int8Kernel kernel = bestInt8Kernel()) const;

  private:
    std::int64_t in;
    float inverseInputScale;
    std::vector<float> outScale; // inputScale * weightScale[o]
    std::vector<float> bias;
    PackedInt8Weights weights; // out x (kh, kw, in): a patch is neighbour-major
};

} // namespace tarnwick::platform
