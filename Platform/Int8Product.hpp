#pragma once
// Products of unsigned 8-bit activations by signed 8-bit weights into 32-bit sums, the core of
// the int8 convolutions. Each kernel computes the exact integer sums, so every kernel gives
// the same bits: results differ only in speed.

#include <cstdint>
#include <vector>

namespace tarnwick::platform {

enum class Int8Kernel {
    portable, // plain C++ the compiler vectorises
    vnni,     // x86 AVX-512 VNNI: 64 multiply-adds an instruction
    dotprod,  // ARM dot-product instructions
};

// The fastest kernel that runs here, and whether a given one does (compiled in, and for the
// ARM dot product, present in the CPU).
Int8Kernel bestInt8Kernel();
bool hasInt8Kernel(Int8Kernel kernel);

// An (out x inner) int8 weight matrix in the layouts the kernels read. Weights are -127..127,
// symmetric as the exporter makes them; sums stay exact in 32 bits for up to 66000 inputs
// (255 * 127 each), far beyond a 3x3 convolution of the largest tower the format allows.
class PackedInt8Weights {
  public:
    PackedInt8Weights() = default;
    // `weights` row-major, out x inner.
    PackedInt8Weights(const std::int8_t* weights, std::int64_t out, std::int64_t inner);

    std::int64_t out() const { return out_; }
    std::int64_t inner() const { return inner_; }
    // Activation rows must hold this many bytes, zero past `inner`.
    std::int64_t paddedInner() const { return 4 * groups; }
    // Result rows hold this many sums; those past `out` are zero.
    std::int64_t paddedOut() const { return outPadded; }

    // result[p * paddedOut() + o] = sum over k of a[p * aStride + k] * w[o][k], for p below
    // `positions`.
    void multiply(const std::uint8_t* a, std::int64_t aStride, std::int64_t positions,
                  std::int32_t* result, Int8Kernel kernel = bestInt8Kernel()) const;

  private:
    std::int64_t out_ = 0, inner_ = 0, outPadded = 0, groups = 0;
    // Groups of four inputs, then outputs: interleaved[(g * outPadded + o) * 4 + j] = w[o][4g + j].
    std::vector<std::int8_t> interleaved;
    // Row-major with rows of paddedInner(), widened to 16 bits, for the portable kernel.
    std::vector<std::int16_t> rows;
    // Each output's sum of weights: the dot-product kernel reads the codes as signed (a - 128)
    // and adds 128 times it back.
    std::vector<std::int32_t> rowSums;
};

} // namespace tarnwick::platform
