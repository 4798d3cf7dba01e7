#include "Tarnwick/search/Random.hpp"

#include <cmath>
#include <limits>

namespace tarnwick {

std::mt19937_64& randomGenerator() {
    // One generator a thread: sessions on different threads draw without racing.
    thread_local std::mt19937_64 generator{[] {
        std::random_device device;
        return (static_cast<std::uint64_t>(device()) << 32) ^ device();
    }()};
    return generator;
}

void seedRandom(std::uint64_t seed) { randomGenerator().seed(seed); }

double uniform01() { return static_cast<double>(randomGenerator()() >> 11) * 0x1.0p-53; }

std::int64_t uniformInt(std::int64_t low, std::int64_t high) {
    return std::uniform_int_distribution<std::int64_t>(low, high)(randomGenerator());
}

// Giles' single-precision approximation, refined by Halley steps to double precision.
double erfinv(double x) {
    if (std::isnan(x) || x < -1.0 || x > 1.0) return std::numeric_limits<double>::quiet_NaN();
    if (x == 1.0) return std::numeric_limits<double>::infinity();
    if (x == -1.0) return -std::numeric_limits<double>::infinity();
    double w = -std::log((1.0 - x) * (1.0 + x));
    double p;
    if (w < 5.0) {
        w -= 2.5;
        p = 2.81022636e-08;
        p = 3.43273939e-07 + p * w;
        p = -3.5233877e-06 + p * w;
        p = -4.39150654e-06 + p * w;
        p = 0.00021858087 + p * w;
        p = -0.00125372503 + p * w;
        p = -0.00417768164 + p * w;
        p = 0.246640727 + p * w;
        p = 1.50140941 + p * w;
    } else {
        w = std::sqrt(w) - 3.0;
        p = -0.000200214257;
        p = 0.000100950558 + p * w;
        p = 0.00134934322 + p * w;
        p = -0.00367342844 + p * w;
        p = 0.00573950773 + p * w;
        p = -0.0076224613 + p * w;
        p = 0.00943887047 + p * w;
        p = 1.00167406 + p * w;
        p = 2.83297682 + p * w;
    }
    double y = p * x;
    const double twoOverSqrtPi = 1.1283791670955126;
    if (std::fabs(x) <= 0.5) {
        for (int i = 0; i < 2; ++i) {
            const double err = std::erf(y) - x;
            const double step = err / (twoOverSqrtPi * std::exp(-y * y));
            y -= step / (1.0 + y * step);
        }
        return y;
    }
    // Near +-1, erf(y) rounds to +-1 and carries no information about y, while 1 - |x| is
    // exact (Sterbenz). The first guess is fitted only to single precision, and beyond
    // |x| = 1 - 2^-24 it is off by up to 0.2, so Newton steps on log(erfc(y)) = log(1 - |x|),
    // which converge from that far, take it to double precision.
    const double logTarget = std::log(1.0 - std::fabs(x));
    y = std::fabs(y);
    for (int i = 0; i < 20; ++i) {
        const double e = std::erfc(y);
        if (!(e > 0.0)) break;
        const double delta = (std::log(e) - logTarget) / (-twoOverSqrtPi * std::exp(-y * y) / e);
        y -= delta;
        if (std::fabs(delta) <= 1e-16 * y) break;
    }
    return x < 0.0 ? -y : y;
}

double randn() { return std::sqrt(2.0) * erfinv(2.0 * uniform01() - 1.0); }

double gamrnd(double alpha, double beta) {
    // The designed message covers every alpha <= 0, minus infinity included; NaN and plus
    // infinity would never leave the rejection loop.
    if (alpha <= 0.0) throw GammaError::invalidInput("alpha <= 0!");
    if (!std::isfinite(alpha)) throw GammaError::invalidInput("alpha is not a finite number!");
    if (!(1.0 > alpha)) {
        const double d = alpha - 1.0 / 3.0;
        const double c = 1.0 / std::sqrt(9.0 * d);
        while (true) {
            double x = 0.0;
            double v = 0.0;
            do {
                x = randn();
                v = 1.0 + c * x;
            } while (!(v > 0.0));
            v = v * v * v;
            const double u = uniform01();
            if (std::log(u) < x * x / 2.0 + d * (1.0 - v + std::log(v))) return beta * d * v;
        }
    }
    if (alpha > 0.0) {
        const double g = gamrnd(alpha + 1.0, 1.0);
        const double u = uniform01();
        return beta * g * std::pow(u, 1.0 / alpha);
    }
    throw GammaError::invalidInput("alpha <= 0!");
}

namespace {

template <typename AlphaAt>
void drawDirichlet(std::size_t count, AlphaAt alphaAt, std::vector<double>& draws) {
    draws.clear();
    draws.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        draws.push_back(gamrnd(alphaAt(i)));
    double sum = 0.0;
    for (double g : draws) sum += g;
    for (double& g : draws) g /= sum;
}

} // namespace

std::vector<double> dirichlet(const std::vector<double>& alphas) {
    std::vector<double> draws;
    drawDirichlet(
        alphas.size(), [&alphas](std::size_t i) { return alphas[i]; }, draws);
    return draws;
}

void dirichlet(double alpha, std::size_t count, std::vector<double>& draws) {
    drawDirichlet(
        count, [alpha](std::size_t) { return alpha; }, draws);
}

namespace {

std::vector<std::int64_t> categorical(const std::vector<double>& weights) {
    const std::size_t k = weights.size();
    double sum = 0.0;
    for (double w : weights) sum += w;
    std::vector<double> bounds(k + 1, 0.0);
    for (std::size_t i = 0; i < k; ++i) bounds[i + 1] = bounds[i] + weights[i] / sum;
    // Only well-formed weights can be completed by drawing again; others mark nothing.
    bool wellFormed = std::isfinite(sum) && sum > 0.0;
    for (double w : weights) wellFormed = wellFormed && std::isfinite(w) && w >= 0.0;
    std::vector<std::int64_t> draw(k, 0);
    for (int attempt = 0; attempt < 64; ++attempt) {
        const double r = uniform01();
        bool marked = false;
        for (std::size_t i = 0; i < k; ++i) {
            if (bounds[i] <= r && r < bounds[i + 1]) {
                draw[i] = 1;
                marked = true;
            }
        }
        if (marked || !wellFormed) return draw;
    }
    // The last bound fell so far below 1 that 64 draws missed: take the last positive weight.
    for (std::size_t i = k; i-- > 0;)
        if (weights[i] > 0.0) {
            draw[i] = 1;
            break;
        }
    return draw;
}

} // namespace

std::vector<std::int64_t> multinomial(const std::vector<double>& weights, std::int64_t count) {
    if (count < 0) throw std::invalid_argument("multinomial: negative count");
    std::vector<std::int64_t> counts(weights.size(), 0);
    for (std::int64_t n = 0; n < count; ++n) {
        const auto draw = categorical(weights);
        for (std::size_t i = 0; i < counts.size(); ++i) counts[i] += draw[i];
    }
    return counts;
}

} // namespace tarnwick
