#include "tests/support/ReferenceTower.hpp"

#include <algorithm>
#include <cmath>

namespace tarnwick::testing {

namespace {

constexpr int rows = 6, columns = 7, cells = 42;

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

} // namespace

Outputs reference(const Tensors& t, const platform::TowerArchitecture& a, const Planes& input,
                  const ConvInputs& seeInput) {
    const auto F = a.filters;
    if (seeInput) seeInput("stem", input);
    auto x = conv3x3(input, 2, t.at("stem.weight"), t.at("stem.bias"), F);
    relu(x);
    for (std::int64_t i = 0; i < a.blocks; ++i) {
        const auto block = "block" + std::to_string(i);
        if (seeInput) seeInput(block + ".conv1", x);
        auto y = conv3x3(x, F, t.at(block + ".conv1.weight"), t.at(block + ".conv1.bias"), F);
        relu(y);
        if (seeInput) seeInput(block + ".conv2", y);
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

Planes randomPosition(std::mt19937& generator) {
    Planes planes(2 * cells, 0.0);
    std::uniform_int_distribution<int> cell(0, 2);
    for (int p = 0; p < cells; ++p)
        if (const int who = cell(generator)) planes[(who - 1) * cells + p] = 1.0;
    return planes;
}
} // namespace tarnwick::testing
