// The int8 kernels against plain integer sums: every kernel this build has must give the same
// 32-bit sums, bit for bit, on any shape.

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "Platform/Int8Product.hpp"

using namespace tarnwick::platform;

namespace {

std::vector<Int8Kernel> compiledKernels() {
    std::vector<Int8Kernel> kernels;
    for (auto k : {Int8Kernel::portable, Int8Kernel::vnni, Int8Kernel::dotprod})
        if (hasInt8Kernel(k)) kernels.push_back(k);
    return kernels;
}

const char* nameOf(Int8Kernel k) {
    return k == Int8Kernel::vnni ? "vnni" : k == Int8Kernel::dotprod ? "dotprod" : "portable";
}

struct Case {
    std::int64_t out, inner, positions;
    std::vector<std::int8_t> w;  // out x inner
    std::vector<std::uint8_t> a; // positions x stride
    std::int64_t stride;
};

Case randomCase(std::int64_t out, std::int64_t inner, std::int64_t positions, std::mt19937& g,
                std::int64_t extraStride) {
    Case c{out, inner, positions, {}, {}, 0};
    std::uniform_int_distribution<int> weight(-127, 127), code(0, 255);
    c.w.resize(static_cast<std::size_t>(out * inner));
    for (auto& v : c.w)
        v = static_cast<std::int8_t>(weight(g));
    c.stride = (inner + 3) / 4 * 4 + extraStride;
    c.a.resize(static_cast<std::size_t>(positions * c.stride));
    for (auto& v : c.a)
        v = static_cast<std::uint8_t>(code(g)); // padding too: it must weigh 0
    return c;
}

// Sums through every kernel, checked against the scalar sums, padded outputs zero.
void expectExact(const Case& c, const std::string& what) {
    const PackedInt8Weights packed(c.w.data(), c.out, c.inner);
    ASSERT_GE(packed.paddedInner(), c.inner);
    ASSERT_LE(packed.paddedInner(), c.stride);
    for (auto kernel : compiledKernels()) {
        std::vector<std::int32_t> result(static_cast<std::size_t>(c.positions * packed.paddedOut()),
                                         -1);
        packed.multiply(c.a.data(), c.stride, c.positions, result.data(), kernel);
        for (std::int64_t p = 0; p < c.positions; ++p)
            for (std::int64_t o = 0; o < packed.paddedOut(); ++o) {
                std::int64_t want = 0;
                if (o < c.out)
                    for (std::int64_t k = 0; k < c.inner; ++k)
                        want += std::int64_t{c.a[p * c.stride + k]} * c.w[o * c.inner + k];
                ASSERT_EQ(result[p * packed.paddedOut() + o], want)
                    << what << ", kernel " << nameOf(kernel) << ", position " << p << ", output "
                    << o;
            }
    }
}

TEST(Int8Product, EveryKernelGivesTheExactSumsOnRandomData) {
    std::mt19937 g(33);
    // The tower's shapes (64 x 576 by 42 or 42 * 64, the stem's 18 inputs) and odd ones:
    // outputs not a multiple of 16, inputs not a multiple of 4, position counts that leave
    // every remainder of the kernels' position blocks.
    const std::int64_t shapes[][3] = {{64, 576, 42}, {64, 18, 42}, {64, 576, 2688}, {1, 1, 1},
                                      {5, 7, 3},     {17, 33, 13}, {48, 20, 7},     {70, 9, 100},
                                      {16, 4, 5},    {33, 130, 11}};
    for (const auto& s : shapes)
        for (std::int64_t extra : {0, 8})
            expectExact(randomCase(s[0], s[1], s[2], g, extra),
                        std::to_string(s[0]) + "x" + std::to_string(s[1]) + " by " +
                            std::to_string(s[2]) + " stride +" + std::to_string(extra));
}

TEST(Int8Product, ExtremeCodesAndWeightsDoNotSaturate) {
    // 255 * 127 summed over a whole 64-filter patch: where a kernel widened pairs into 16
    // bits (as AVX2's maddubs does) the sums would saturate at 32767.
    std::mt19937 g(1);
    for (std::int8_t weight : {std::int8_t{127}, std::int8_t{-127}}) {
        Case c = randomCase(20, 576, 9, g, 0);
        std::fill(c.w.begin(), c.w.end(), weight);
        std::fill(c.a.begin(), c.a.end(), std::uint8_t{255});
        expectExact(c, "all 255 by " + std::to_string(weight));
    }
    Case zero = randomCase(20, 37, 9, g, 0);
    std::fill(zero.a.begin(), zero.a.end(), std::uint8_t{0});
    expectExact(zero, "all codes 0");
    Case alternating = randomCase(64, 576, 13, g, 0);
    for (std::size_t i = 0; i < alternating.w.size(); ++i)
        alternating.w[i] = i % 2 ? 127 : -127;
    for (std::size_t i = 0; i < alternating.a.size(); ++i)
        alternating.a[i] = i % 3 ? 255 : 0;
    expectExact(alternating, "alternating extremes");
}

TEST(Int8Product, RefusesWeightMinus128AndAbsentKernels) {
    const std::vector<std::int8_t> w{1, -128, 3};
    EXPECT_THROW(PackedInt8Weights(w.data(), 1, 3), std::invalid_argument);
    EXPECT_TRUE(hasInt8Kernel(bestInt8Kernel()));
    EXPECT_TRUE(hasInt8Kernel(Int8Kernel::portable));
#if defined(__AVX512VNNI__) && defined(__AVX512F__)
    EXPECT_EQ(bestInt8Kernel(), Int8Kernel::vnni);
#endif
#if defined(__ARM_FEATURE_DOTPROD)
    EXPECT_EQ(bestInt8Kernel(), Int8Kernel::dotprod);
#endif
    const PackedInt8Weights packed(std::vector<std::int8_t>{1, 2, 3, 4}.data(), 1, 4);
    std::vector<std::uint8_t> a(4, 1);
    std::vector<std::int32_t> result(static_cast<std::size_t>(packed.paddedOut()));
    for (auto k : {Int8Kernel::vnni, Int8Kernel::dotprod})
        if (!hasInt8Kernel(k)) {
            EXPECT_THROW(packed.multiply(a.data(), 4, 1, result.data(), k), std::invalid_argument);
        }
}

} // namespace
