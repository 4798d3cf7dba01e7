#include "Platform/TowerNetwork.hpp"

#include <cmath>
#include <cstring>

#include <algorithm>
#include <array>

#include <Eigen/Core>

#include "Platform/QuantizedConv.hpp"

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

// As many floats as one vector register of the target holds.
#if defined(__AVX512F__)
constexpr Eigen::Index laneCount = 16;
#elif defined(__AVX__)
constexpr Eigen::Index laneCount = 8;
#else
constexpr Eigen::Index laneCount = 4;
#endif
using Lanes = float __attribute__((vector_size(laneCount * sizeof(float))));

template <class T> T readAt(const float* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class T> void writeAt(float* p, T v) { std::memcpy(p, &v, sizeof v); }

// Calls f(Lanes{}, ch) for each whole group of laneCount channels and f(0.0f, ch) for the rest.
template <class F> void forChannels(Eigen::Index channels, F&& f) {
    Eigen::Index ch = 0;
    for (; ch + laneCount <= channels; ch += laneCount) f(Lanes{}, ch);
    for (; ch < channels; ++ch) f(0.0f, ch);
}

// out = max(a + b, 0), or max(a, 0) without b, a vector of lanes at a time: Eigen 3.4 has no
// WebAssembly SIMD path, and its scalar loops took a tenth of a prediction there.
// Sizes are the caller's to match; out may be a or b.
void relu(const float* a, const float* b, float* out, Eigen::Index size) {
    Eigen::Index i = 0;
    for (; i + laneCount <= size; i += laneCount) {
        Lanes v = readAt<Lanes>(a + i);
        if (b) v += readAt<Lanes>(b + i);
        writeAt(out + i, v < 0.0f ? Lanes{} : v); // as std::max(v, 0): -0 and NaN pass
    }
    for (; i < size; ++i) {
        const float v = b ? a[i] + b[i] : a[i];
        out[i] = v < 0.0f ? 0.0f : v;
    }
}

// Groups of lanes a tap kernel keeps in flight: Groups * (tileWidth + 1) vector registers
// must fit the register file, 32 with AVX-512 and on AArch64, 16 otherwise.
#if defined(__AVX512F__) || defined(__aarch64__)
constexpr int maxGroups = 4;
#else
constexpr int maxGroups = 2;
#endif
constexpr int tileWidth = 6;

// out (rows x Width) = u (rows x inner) * v (inner x Width) for rows [row, row + laneCount *
// Groups). Width is a compile-time constant so that the Width * Groups accumulators stay in
// registers; the weights are read in place once per Width tiles and never packed. Each
// output sums over the inner index in order whatever the blocking, so the width and the
// number of groups do not change its bits.
template <int Groups, int Width>
void tapBlock(const float* u, Eigen::Index uStride, Eigen::Index inner, const float* v,
              Eigen::Index vStride, float* out, Eigen::Index outStride) {
    Lanes acc[Width][Groups] = {};
    for (Eigen::Index i = 0; i < inner; ++i) {
        Lanes w[Groups];
        for (int g = 0; g < Groups; ++g)
            w[g] = readAt<Lanes>(u + i * uStride + g * laneCount);
        for (int t = 0; t < Width; ++t) {
            const float x = v[i + t * vStride];
            for (int g = 0; g < Groups; ++g)
                acc[t][g] += w[g] * x;
        }
    }
    for (int t = 0; t < Width; ++t)
        for (int g = 0; g < Groups; ++g)
            writeAt(out + t * outStride + g * laneCount, acc[t][g]);
}

template <int Groups>
void tapRows(const float* u, Eigen::Index uStride, Eigen::Index inner, const float* v,
             Eigen::Index vStride, Eigen::Index n, float* out, Eigen::Index outStride) {
    Eigen::Index col = 0;
    for (; col + tileWidth <= n; col += tileWidth)
        tapBlock<Groups, tileWidth>(u, uStride, inner, v + col * vStride, vStride,
                                    out + col * outStride, outStride);
    const float* vRest = v + col * vStride;
    float* outRest = out + col * outStride;
    switch (n - col) {
    case 5:
        tapBlock<Groups, 5>(u, uStride, inner, vRest, vStride, outRest, outStride);
        break;
    case 4:
        tapBlock<Groups, 4>(u, uStride, inner, vRest, vStride, outRest, outStride);
        break;
    case 3:
        tapBlock<Groups, 3>(u, uStride, inner, vRest, vStride, outRest, outStride);
        break;
    case 2:
        tapBlock<Groups, 2>(u, uStride, inner, vRest, vStride, outRest, outStride);
        break;
    case 1:
        tapBlock<Groups, 1>(u, uStride, inner, vRest, vStride, outRest, outStride);
        break;
    }
}

template <class In, class Out> void tapProduct(const Matrix& u, const In& v, Out&& out) {
    const auto inner = u.cols(), n = v.cols();
    const auto uStride = u.outerStride(), vStride = v.outerStride(), outStride = out.outerStride();
    const auto rowsAt = [&](Eigen::Index row) { return u.data() + row; };
    Eigen::Index row = 0;
    for (; row + maxGroups * laneCount <= u.rows(); row += maxGroups * laneCount)
        tapRows<maxGroups>(rowsAt(row), uStride, inner, v.data(), vStride, n, out.data() + row,
                           outStride);
    switch ((u.rows() - row) / laneCount) {
    case 3:
        tapRows<3>(rowsAt(row), uStride, inner, v.data(), vStride, n, out.data() + row, outStride);
        break;
    case 2:
        tapRows<2>(rowsAt(row), uStride, inner, v.data(), vStride, n, out.data() + row, outStride);
        break;
    case 1:
        tapRows<1>(rowsAt(row), uStride, inner, v.data(), vStride, n, out.data() + row, outStride);
        break;
    }
    row += (u.rows() - row) / laneCount * laneCount;
    if (row < u.rows()) out.bottomRows(u.rows() - row).noalias() = u.bottomRows(u.rows() - row) * v;
}

// The tower's square convolutions as Winograd convolutions, F(3, 3) down the rows and F(4, 3)
// across the columns: each 3x4 output tile comes from a 5x6 input tile through 30 products of
// (out x in) by (in x tiles). The board's 6x7 cells take 2x2 tiles (a 6x8 area, the eighth
// column thrown away), so a position costs 4 * 30 = 120 multiply-adds per channel pair
// instead of 42 * 9 = 378. Both transforms interpolate at small points (0, +-1, +-2), which
// keeps float32 rounding near the direct convolution's. The weights grow by 30/9, yet a
// single prediction ran fastest with these tiles of the three sizes tried (2x2, 2x4, 3x4).
template <int Out> struct Axis;
template <> struct Axis<3> {
    static constexpr int out = 3, in = 5;
    static constexpr float bt[in][in] = {
        {2, -1, -2, 1, 0}, {0, -2, -1, 1, 0}, {0, 2, -3, 1, 0}, {0, -1, 0, 1, 0}, {0, 2, -1, -2, 1}};
    static constexpr double g[in][3] = {{0.5, 0, 0},
                                        {-0.5, -0.5, -0.5},
                                        {-1.0 / 6, 1.0 / 6, -1.0 / 6},
                                        {1.0 / 6, 1.0 / 3, 2.0 / 3},
                                        {0, 0, 1}};
    static constexpr float at[out][in] = {{1, 1, 1, 1, 0}, {0, 1, -1, 2, 0}, {0, 1, 1, 4, 1}};
};
template <> struct Axis<4> {
    static constexpr int out = 4, in = 6;
    static constexpr float bt[in][in] = {{4, 0, -5, 0, 1, 0},  {0, -4, -4, 1, 1, 0},
                                         {0, 4, -4, -1, 1, 0}, {0, -2, -1, 2, 1, 0},
                                         {0, 2, -1, -2, 1, 0}, {0, 4, 0, -5, 0, 1}};
    static constexpr double g[in][3] = {{1.0 / 4, 0, 0},           {-1.0 / 6, -1.0 / 6, -1.0 / 6},
                                        {-1.0 / 6, 1.0 / 6, -1.0 / 6}, {1.0 / 24, 1.0 / 12, 1.0 / 6},
                                        {1.0 / 24, -1.0 / 12, 1.0 / 6}, {0, 0, 1}};
    static constexpr float at[out][in] = {
        {1, 1, 1, 1, 1, 0}, {0, 1, -1, 2, -2, 0}, {0, 1, 1, 4, 4, 0}, {0, 1, -1, 8, -8, 1}};
};
using RowAxis = Axis<3>;
using ColumnAxis = Axis<4>;
constexpr int tileRows = rows / RowAxis::out,
              tileColumns = (columns + ColumnAxis::out - 1) / ColumnAxis::out,
              tiles = tileRows * tileColumns, taps = RowAxis::in * ColumnAxis::in;
static_assert(rows % RowAxis::out == 0);

struct WinogradLayer {
    std::array<Matrix, taps> u; // G g G^T, one out x in matrix per tap
    Vector bias;
};

WinogradLayer winogradLayer(TowerWeights& w, const std::string& name, std::int64_t out,
                            std::int64_t in) {
    const Layer plain = layer(w, name, out, in * 9); // columns (in, kh, kw)
    WinogradLayer l;
    for (auto& u : l.u) u.resize(out, in);
    for (std::int64_t o = 0; o < out; ++o)
        for (std::int64_t i = 0; i < in; ++i)
            for (int a = 0; a < RowAxis::in; ++a)
                for (int b = 0; b < ColumnAxis::in; ++b) {
                    double sum = 0;
                    for (int kh = 0; kh < 3; ++kh)
                        for (int kw = 0; kw < 3; ++kw)
                            sum += RowAxis::g[a][kh] * plain.weight(o, i * 9 + kh * 3 + kw) *
                                   ColumnAxis::g[b][kw];
                    l.u[a * ColumnAxis::in + b](o, i) = static_cast<float>(sum);
                }
    l.bias = plain.bias;
    return l;
}

// Left (rows) and right (columns) products with a transform's constant matrices, skipping
// their zero coefficients.
//
// In WebAssembly, which fuses no multiply-adds, a sum starts at -0, the identity of addition,
// so that the compiler drops the first addition (it may not drop 0 + x, which turns -0 into
// +0), some 4% of a move under node. Only the sign of a zero result changes, and no output
// shows it, as every product downstream accumulates from +0. Where the compiler fuses, the
// start would change which products it fuses, and with them the outputs' last bits.
#if defined(__wasm__)
constexpr bool sumFromNegativeZero = true;
#else
constexpr bool sumFromNegativeZero = false;
#endif
template <class T> T sumStart() {
    return sumFromNegativeZero ? -T{} : T{};
}

template <class T, int R, int K, int C>
void leftMultiply(const float (&m)[R][K], const T (&x)[K][C], T (&y)[R][C]) {
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) {
            T sum = sumStart<T>();
            for (int k = 0; k < K; ++k)
                if (m[r][k] != 0) sum += m[r][k] * x[k][c];
            y[r][c] = sum;
        }
}
template <class T, int R, int K, int C>
void rightMultiplyTransposed(const T (&x)[R][K], const float (&m)[C][K], T (&y)[R][C]) {
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) {
            T sum = sumStart<T>();
            for (int k = 0; k < K; ++k)
                if (m[c][k] != 0) sum += m[c][k] * x[r][k];
            y[r][c] = sum;
        }
}

} // namespace

struct TowerNetwork::Impl {
    TowerArchitecture arch;
    Layer stem;
    std::vector<WinogradLayer> convs; // two per block
    Layer policyConv, policyFc, valueConv, valueFc1, valueFc2;
    // With int8 precision: the stem, then two a block, in place of stem and convs.
    std::vector<QuantizedConv> quantized;
    QuantizedWork quantizedWork;
    // Reused work buffers: activations are channels x (42 * batch), position-major columns.
    Matrix x, y, skip, patches, head, flat, hidden, v;
    Matrix transformed, products; // channels x (taps * tiles * batch), tap-major
    Vector zeros;

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

    // input (in x 42B) into transformed (in x taps * T): B^T d B of each tile's input area,
    // tap by tap, a vector of channels at a time.
    void winogradInput(const Matrix& input, Eigen::Index batch) {
        constexpr int R = RowAxis::in, C = ColumnAxis::in;
        const auto channels = input.rows(), tileCount = tiles * batch;
        transformed.resize(channels, taps * tileCount);
        zeros.setZero(channels);
        for (Eigen::Index b = 0; b < batch; ++b)
            for (int tr = 0; tr < tileRows; ++tr)
                for (int tc = 0; tc < tileColumns; ++tc) {
                    const float* d[R][C];
                    for (int i = 0; i < R; ++i)
                        for (int j = 0; j < C; ++j) {
                            const int r = RowAxis::out * tr - 1 + i, c = ColumnAxis::out * tc - 1 + j;
                            const bool on = r >= 0 && r < rows && c >= 0 && c < columns;
                            d[i][j] = on ? input.col(b * cells + r * columns + c).data() : zeros.data();
                        }
                    const auto tile = b * tiles + tr * tileColumns + tc;
                    forChannels(channels, [&](auto lane, Eigen::Index ch) {
                        using T = decltype(lane);
                        T x[R][C], t[R][C], v[R][C];
                        for (int i = 0; i < R; ++i)
                            for (int j = 0; j < C; ++j) x[i][j] = readAt<T>(d[i][j] + ch);
                        leftMultiply(RowAxis::bt, x, t);
                        rightMultiplyTransposed(t, ColumnAxis::bt, v);
                        for (int i = 0; i < R; ++i)
                            for (int j = 0; j < C; ++j)
                                writeAt(transformed.col((i * C + j) * tileCount + tile).data() + ch, v[i][j]);
                    });
                }
    }

    // products (out x taps * T) back to output (out x 42B): A^T m A of each tile, plus the bias.
    void winogradOutput(const Vector& bias, Matrix& output, Eigen::Index batch) {
        constexpr int R = RowAxis::in, C = ColumnAxis::in, OR = RowAxis::out, OC = ColumnAxis::out;
        const auto channels = products.rows(), tileCount = tiles * batch;
        output.resize(channels, cells * batch);
        for (Eigen::Index b = 0; b < batch; ++b)
            for (int tr = 0; tr < tileRows; ++tr)
                for (int tc = 0; tc < tileColumns; ++tc) {
                    const auto tile = b * tiles + tr * tileColumns + tc;
                    forChannels(channels, [&](auto lane, Eigen::Index ch) {
                        using T = decltype(lane);
                        T m[R][C], s[OR][C], y[OR][OC];
                        for (int i = 0; i < R; ++i)
                            for (int j = 0; j < C; ++j)
                                m[i][j] = readAt<T>(products.col((i * C + j) * tileCount + tile).data() + ch);
                        leftMultiply(RowAxis::at, m, s);
                        rightMultiplyTransposed(s, ColumnAxis::at, y);
                        const T offset = readAt<T>(bias.data() + ch);
                        for (int i = 0; i < OR; ++i)
                            for (int j = 0; j < OC; ++j) {
                                const int c = OC * tc + j; // past column 7 is outside the board
                                if (c < columns)
                                    writeAt(output.col(b * cells + (OR * tr + i) * columns + c).data() + ch,
                                            y[i][j] + offset);
                            }
                    });
                }
    }

    void conv3(const WinogradLayer& l, const Matrix& input, Matrix& output, Eigen::Index batch) {
        winogradInput(input, batch);
        const auto tileCount = tiles * batch;
        products.resize(l.u[0].rows(), taps * tileCount);
        for (int k = 0; k < taps; ++k)
            tapProduct(l.u[k], transformed.middleCols(k * tileCount, tileCount),
                       products.middleCols(k * tileCount, tileCount));
        winogradOutput(l.bias, output, batch);
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

    void conv3(const QuantizedConv& l, const Matrix& input, Matrix& output, Eigen::Index batch) {
        output.resize(l.outChannels(), cells * batch);
        l.apply(input.data(), batch, output.data(), quantizedWork);
    }

    // The n-th 3x3 convolution (0 the stem) in the chosen arithmetic.
    void conv3At(std::size_t n, const Matrix& input, Matrix& output, Eigen::Index batch) {
        if (!quantized.empty())
            conv3(quantized[n], input, output, batch);
        else if (n == 0)
            conv3(stem, input, output, batch);
        else
            conv3(convs[n - 1], input, output, batch);
    }

    // Rows 0..41 of `policy` and row 0 of `value` per position, column b.
    void forward(Eigen::Index batch, Matrix& policy, Vector& value) {
        conv3At(0, x, y, batch);
        x.resize(y.rows(), y.cols());
        relu(y.data(), nullptr, x.data(), y.size());
        for (std::size_t i = 0; i < 2 * static_cast<std::size_t>(arch.blocks); i += 2) {
            conv3At(i + 1, x, y, batch);
            relu(y.data(), nullptr, y.data(), y.size());
            skip.swap(x); // the block's input, kept without a copy
            conv3At(i + 2, y, x, batch);
            relu(x.data(), skip.data(), x.data(), x.size());
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

TowerNetwork::TowerNetwork(TowerWeights w, MLComputePrecision precision, const std::string& label)
    : impl(std::make_unique<Impl>()) {
    auto& a = impl->arch = w.architecture;
    if (precision == MLComputePrecision::int8) {
        if (w.int8.empty())
            throw MLModelError(label + ": int8 precision needs a model with an int8 section "
                                       "(training/quantize.py makes one)");
        for (const auto& name : convLayerNames(a)) {
            auto& q = w.int8.at(name);
            impl->quantized.emplace_back(q.weight, a.filters, name == "stem" ? 2 : a.filters,
                                         q.weightScale, q.inputScale, w.tensors.at(name + ".bias"));
        }
    }
    // The float32 convolutions only where they run: their Winograd weights are 7.9 MB for
    // the shipped tower.
    if (impl->quantized.empty()) impl->stem = convLayer(w, "stem", a.filters, 2);
    for (std::int64_t i = 0; impl->quantized.empty() && i < a.blocks; ++i) {
        const auto block = "block" + std::to_string(i);
        impl->convs.push_back(winogradLayer(w, block + ".conv1", a.filters, a.filters));
        impl->convs.push_back(winogradLayer(w, block + ".conv2", a.filters, a.filters));
    }
    impl->policyConv = layer(w, "policy.conv", a.policyFilters, a.filters);
    impl->policyFc = layer(w, "policy.fc", cells, a.policyFilters * cells);
    impl->valueConv = layer(w, "value.conv", a.valueFilters, a.filters);
    impl->valueFc1 = layer(w, "value.fc1", a.valueHidden, a.valueFilters * cells);
    impl->valueFc2 = layer(w, "value.fc2", 1, a.valueHidden);
}

TowerNetwork::~TowerNetwork() = default;

const TowerArchitecture& TowerNetwork::architecture() const { return impl->arch; }

MLComputePrecision TowerNetwork::precision() const {
    return impl->quantized.empty() ? MLComputePrecision::float32 : MLComputePrecision::int8;
}

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
    // The count comes from the caller's provider and sizes the work buffers, so a lying
    // provider must not reach the allocator. It is checked before it narrows to Eigen's index,
    // 32 bits in WebAssembly, where 2^40 entries would otherwise pass as none.
    const std::int64_t count = inputs.count();
    constexpr Eigen::Index maxBatch = 1 << 16;
    if (count < 0 || count > maxBatch)
        throw MLModelError("predictions: the batch reports " + std::to_string(count) +
                           " entries; a batch holds 0 to " + std::to_string(maxBatch));
    const auto batch = static_cast<Eigen::Index>(count);
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

std::shared_ptr<MLModel> MLModel::loadFromMemory(const std::string& manifest,
                                                 const std::string& weights,
                                                 const std::string& label) {
    return std::make_shared<TowerNetwork>(parseModelResource(manifest, weights, label));
}

std::shared_ptr<MLModel> MLModel::loadFromMemory(const std::string& manifest,
                                                 const std::string& weights,
                                                 const std::string& label,
                                                 const MLModelConfiguration& configuration) {
    if (configuration.computeThreads < 1)
        throw MLModelError(label + ": computeThreads must be at least 1");
    return std::make_shared<TowerNetwork>(parseModelResource(manifest, weights, label),
                                          configuration.precision, label);
}

std::shared_ptr<MLModel> MLModel::load(const std::filesystem::path& contentsOf,
                                       const MLModelConfiguration& configuration) {
    if (configuration.computeThreads < 1)
        throw MLModelError(contentsOf.string() + ": computeThreads must be at least 1");
    return std::make_shared<TowerNetwork>(readModelResource(contentsOf), configuration.precision,
                                          contentsOf.string());
}

} // namespace tarnwick::platform
