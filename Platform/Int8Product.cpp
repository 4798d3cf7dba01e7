#include "Platform/Int8Product.hpp"

#include <cstring>
#include <stdexcept>

#if defined(__AVX512VNNI__) && defined(__AVX512F__)
#include <immintrin.h>
#define TARNWICK_INT8_VNNI 1
#endif
#if defined(__ARM_FEATURE_DOTPROD)
#include <arm_neon.h>
#define TARNWICK_INT8_DOTPROD 1
#define TARNWICK_DOTPROD_TARGET
#elif defined(__aarch64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__)
// A baseline ARMv8 build, the one phones get, still uses the dot product where the CPU has it:
// the kernel is compiled for ARMv8.2 and chosen at run time.
#include <arm_neon.h>
#include <asm/hwcap.h>
#include <sys/auxv.h>
#define TARNWICK_INT8_DOTPROD 1
#define TARNWICK_DOTPROD_RUNTIME 1
#define TARNWICK_DOTPROD_TARGET __attribute__((target("arch=armv8.2-a+dotprod")))
#endif

namespace tarnwick::platform {

namespace {

// Outputs come in blocks of 16, one 512-bit vector of sums (four 128-bit ones on ARM).
constexpr std::int64_t outBlock = 16;

// Plain C++ for targets without a dot-product instruction. A code times a weight fits 16 bits
// (255 * 127), so the weights are kept widened to 16 bits and each position's codes are widened
// once: the compiler then forms 16-bit multiply-adds into 32-bit sums (SSE2's pmaddwd),
// with four outputs sharing each load of the codes.
void portableProduct(const std::int16_t* rows, std::int64_t out, std::int64_t outPadded,
                     std::int64_t inner, const std::uint8_t* a, std::int64_t aStride,
                     std::int64_t positions, std::int32_t* result) {
    std::vector<std::int16_t> widened(static_cast<std::size_t>(inner));
    std::int16_t* const x = widened.data();
    for (std::int64_t p = 0; p < positions; ++p) {
        const std::uint8_t* codes = a + p * aStride;
        for (std::int64_t k = 0; k < inner; ++k)
            x[k] = codes[k];
        std::int32_t* r = result + p * outPadded;
        std::int64_t o = 0;
        for (; o + 4 <= out; o += 4) {
            const std::int16_t* w0 = rows + o * inner;
            const std::int16_t *w1 = w0 + inner, *w2 = w1 + inner, *w3 = w2 + inner;
            std::int32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
            for (std::int64_t k = 0; k < inner; ++k) {
                const std::int32_t v = x[k];
                s0 += v * w0[k];
                s1 += v * w1[k];
                s2 += v * w2[k];
                s3 += v * w3[k];
            }
            r[o] = s0;
            r[o + 1] = s1;
            r[o + 2] = s2;
            r[o + 3] = s3;
        }
        for (; o < out; ++o) {
            const std::int16_t* w = rows + o * inner;
            std::int32_t sum = 0;
            for (std::int64_t k = 0; k < inner; ++k)
                sum += std::int32_t{x[k]} * w[k];
            r[o] = sum;
        }
        for (o = out; o < outPadded; ++o)
            r[o] = 0;
    }
}

#if TARNWICK_INT8_VNNI || TARNWICK_INT8_DOTPROD
std::int32_t fourBytes(const std::uint8_t* p) {
    std::int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
#endif

// GCC 12 at -O3 keeps the kernels' accumulator arrays in memory, copying them around every
// multiply-add, unless each loop over them is unrolled (#pragma GCC unroll).

#if TARNWICK_INT8_VNNI
// Width positions by Blocks blocks of 16 outputs: Width * Blocks accumulators in registers.
template <int Blocks, int Width>
void vnniBlock(const std::int8_t* w, std::int64_t outPadded, std::int64_t groups,
               const std::uint8_t* a, std::int64_t aStride, std::int32_t* result) {
    __m512i acc[Width][Blocks];
#pragma GCC unroll 8
    for (int t = 0; t < Width; ++t)
#pragma GCC unroll 8
        for (int b = 0; b < Blocks; ++b)
            acc[t][b] = _mm512_setzero_si512();
    for (std::int64_t g = 0; g < groups; ++g) {
        __m512i weights[Blocks];
#pragma GCC unroll 8
        for (int b = 0; b < Blocks; ++b)
            weights[b] = _mm512_loadu_si512(w + (g * outPadded + b * outBlock) * 4);
#pragma GCC unroll 8
        for (int t = 0; t < Width; ++t) {
            const __m512i x = _mm512_set1_epi32(fourBytes(a + t * aStride + 4 * g));
#pragma GCC unroll 8
            for (int b = 0; b < Blocks; ++b)
                acc[t][b] = _mm512_dpbusd_epi32(acc[t][b], x, weights[b]);
        }
    }
#pragma GCC unroll 8
    for (int t = 0; t < Width; ++t)
#pragma GCC unroll 8
        for (int b = 0; b < Blocks; ++b)
            _mm512_storeu_si512(result + t * outPadded + b * outBlock, acc[t][b]);
}

template <int Blocks>
void vnniRows(const std::int8_t* w, std::int64_t outPadded, std::int64_t groups,
              const std::uint8_t* a, std::int64_t aStride, std::int64_t positions,
              std::int32_t* result) {
    constexpr int width = 6;
    std::int64_t p = 0;
    for (; p + width <= positions; p += width)
        vnniBlock<Blocks, width>(w, outPadded, groups, a + p * aStride, aStride,
                                 result + p * outPadded);
    for (; p < positions; ++p)
        vnniBlock<Blocks, 1>(w, outPadded, groups, a + p * aStride, aStride,
                             result + p * outPadded);
}

void vnniProduct(const std::int8_t* w, std::int64_t outPadded, std::int64_t groups,
                 const std::uint8_t* a, std::int64_t aStride, std::int64_t positions,
                 std::int32_t* result) {
    // Up to four blocks (64 outputs) at once: 24 accumulators and 4 weight vectors of 32.
    std::int64_t block = 0;
    const std::int64_t blocks = outPadded / outBlock;
    for (; block + 4 <= blocks; block += 4)
        vnniRows<4>(w + block * outBlock * 4, outPadded, groups, a, aStride, positions,
                    result + block * outBlock);
    const auto rowsAt = [&](auto count) {
        vnniRows<decltype(count)::value>(w + block * outBlock * 4, outPadded, groups, a, aStride,
                                         positions, result + block * outBlock);
    };
    switch (blocks - block) {
    case 3:
        rowsAt(std::integral_constant<int, 3>{});
        break;
    case 2:
        rowsAt(std::integral_constant<int, 2>{});
        break;
    case 1:
        rowsAt(std::integral_constant<int, 1>{});
        break;
    }
}
#endif

#if TARNWICK_INT8_DOTPROD
// 16 outputs (four vectors of four sums) by Width positions. The codes are taken as signed
// bytes a - 128; `rowSums` gives back the 128 * sum(w) that removes.
template <int Width>
TARNWICK_DOTPROD_TARGET void dotprodBlock(const std::int8_t* w, std::int64_t outPadded,
                                          std::int64_t groups, const std::uint8_t* a,
                                          std::int64_t aStride, const std::int32_t* rowSums,
                                          std::int32_t* result) {
    int32x4_t acc[Width][4];
#pragma GCC unroll 8
    for (int t = 0; t < Width; ++t)
#pragma GCC unroll 4
        for (int q = 0; q < 4; ++q)
            acc[t][q] = vdupq_n_s32(0);
    const uint8x16_t bias = vdupq_n_u8(0x80);
    for (std::int64_t g = 0; g < groups; ++g) {
        int8x16_t weights[4];
#pragma GCC unroll 4
        for (int q = 0; q < 4; ++q)
            weights[q] = vld1q_s8(w + (g * outPadded + q * 4) * 4);
#pragma GCC unroll 8
        for (int t = 0; t < Width; ++t) {
            const uint8x16_t codes =
                vreinterpretq_u8_s32(vdupq_n_s32(fourBytes(a + t * aStride + 4 * g)));
            const int8x16_t x = vreinterpretq_s8_u8(veorq_u8(codes, bias));
#pragma GCC unroll 4
            for (int q = 0; q < 4; ++q)
                acc[t][q] = vdotq_s32(acc[t][q], weights[q], x);
        }
    }
#pragma GCC unroll 8
    for (int t = 0; t < Width; ++t)
#pragma GCC unroll 4
        for (int q = 0; q < 4; ++q) {
            const int32x4_t back = vshlq_n_s32(vld1q_s32(rowSums + q * 4), 7);
            vst1q_s32(result + t * outPadded + q * 4, vaddq_s32(acc[t][q], back));
        }
}

TARNWICK_DOTPROD_TARGET void dotprodProduct(const std::int8_t* w, std::int64_t outPadded,
                                            std::int64_t groups, const std::uint8_t* a,
                                            std::int64_t aStride, std::int64_t positions,
                                            const std::int32_t* rowSums, std::int32_t* result) {
    constexpr int width = 4;
    for (std::int64_t block = 0; block < outPadded; block += outBlock) {
        const std::int8_t* wb = w + block * 4;
        std::int64_t p = 0;
        for (; p + width <= positions; p += width)
            dotprodBlock<width>(wb, outPadded, groups, a + p * aStride, aStride, rowSums + block,
                                result + p * outPadded + block);
        for (; p < positions; ++p)
            dotprodBlock<1>(wb, outPadded, groups, a + p * aStride, aStride, rowSums + block,
                            result + p * outPadded + block);
    }
}
#endif

bool dotprodAvailable() {
#if TARNWICK_DOTPROD_RUNTIME
    static const bool available = (getauxval(AT_HWCAP) & HWCAP_ASIMDDP) != 0;
    return available;
#elif TARNWICK_INT8_DOTPROD
    return true;
#else
    return false;
#endif
}

} // namespace

Int8Kernel bestInt8Kernel() {
#if TARNWICK_INT8_VNNI
    return Int8Kernel::vnni;
#else
    return dotprodAvailable() ? Int8Kernel::dotprod : Int8Kernel::portable;
#endif
}

bool hasInt8Kernel(Int8Kernel kernel) {
    switch (kernel) {
    case Int8Kernel::portable:
        return true;
#if TARNWICK_INT8_VNNI
    case Int8Kernel::vnni:
        return true;
#endif
    case Int8Kernel::dotprod:
        return dotprodAvailable();
    default:
        return false;
    }
}

PackedInt8Weights::PackedInt8Weights(const std::int8_t* weights, std::int64_t out,
                                     std::int64_t inner)
    : out_(out), inner_(inner), outPadded((out + outBlock - 1) / outBlock * outBlock),
      groups((inner + 3) / 4) {
    interleaved.assign(static_cast<std::size_t>(groups * outPadded * 4), 0);
    rows.assign(static_cast<std::size_t>(out * 4 * groups), 0);
    rowSums.assign(static_cast<std::size_t>(outPadded), 0);
    for (std::int64_t o = 0; o < out; ++o)
        for (std::int64_t k = 0; k < inner; ++k) {
            const std::int8_t v = weights[o * inner + k];
            if (v < -127) throw std::invalid_argument("int8 weights must lie in -127..127");
            interleaved[static_cast<std::size_t>(((k / 4) * outPadded + o) * 4 + k % 4)] = v;
            rows[static_cast<std::size_t>(o * 4 * groups + k)] = v;
            rowSums[static_cast<std::size_t>(o)] += v;
        }
}

void PackedInt8Weights::multiply(const std::uint8_t* a, std::int64_t aStride,
                                 std::int64_t positions, std::int32_t* result,
                                 Int8Kernel kernel) const {
    switch (kernel) {
#if TARNWICK_INT8_VNNI
    case Int8Kernel::vnni:
        vnniProduct(interleaved.data(), outPadded, groups, a, aStride, positions, result);
        return;
#endif
#if TARNWICK_INT8_DOTPROD
    case Int8Kernel::dotprod:
        if (!dotprodAvailable()) break;
        dotprodProduct(interleaved.data(), outPadded, groups, a, aStride, positions, rowSums.data(),
                       result);
        return;
#endif
    case Int8Kernel::portable:
        portableProduct(rows.data(), out_, outPadded, paddedInner(), a, aStride, positions, result);
        return;
    default:
        break;
    }
    throw std::invalid_argument("this build or CPU has no such int8 kernel");
}

} // namespace tarnwick::platform
