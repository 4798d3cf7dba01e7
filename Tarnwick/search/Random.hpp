#pragma once
// Sampling for the search and the move choice. Every draw comes from the calling thread's
// generator, seeded from the system's entropy unless seedRandom seeds it (for that thread).

#include <cstdint>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnwick {

class GammaError : public std::invalid_argument {
public:
    enum class Kind { invalidInput };
    GammaError(Kind kind, const std::string& message) : std::invalid_argument(message), kind(kind) {}
    static GammaError invalidInput(const std::string& message) {
        return GammaError(Kind::invalidInput, message);
    }
    Kind kind;
};

std::mt19937_64& randomGenerator();
void seedRandom(std::uint64_t seed);
// Uniform on [0, 1).
double uniform01();
// Uniform integer in [low, high].
std::int64_t uniformInt(std::int64_t low, std::int64_t high);

double erfinv(double x);
double randn();
// Marsaglia-Tsang; throws GammaError for alpha <= 0 and for a non-finite alpha.
double gamrnd(double alpha, double beta = 1.0);
std::vector<double> dirichlet(const std::vector<double>& alphas);
// The same draw for `count` equal alphas, written into `draws`, whose memory a caller that
// draws every simulation keeps.
void dirichlet(double alpha, std::size_t count, std::vector<double>& draws);
// Counts of `count` categorical draws from the weights. A draw that rounding leaves unmarked
// is drawn again; all-zero or non-finite weights mark nothing. Throws for a negative count.
std::vector<std::int64_t> multinomial(const std::vector<double>& weights, std::int64_t count = 1);

// An index of a greatest element, ties broken uniformly at random; empty for an empty array.
template <typename T> std::optional<std::int64_t> argmax(const std::vector<T>& values) {
    if (values.empty()) return std::nullopt;
    T best = values.front();
    for (const auto& v : values)
        if (v > best) best = v;
    std::vector<std::int64_t> ties;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (values[i] >= best) ties.push_back(static_cast<std::int64_t>(i));
    if (ties.empty()) return std::nullopt;
    return ties[static_cast<std::size_t>(uniformInt(0, static_cast<std::int64_t>(ties.size()) - 1))];
}

} // namespace tarnwick
