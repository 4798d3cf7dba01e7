#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <random>

#include "Tarnwick/search/Random.hpp"

using namespace tarnwick;

TEST(Erfinv, InvertsErfToDoublePrecision) {
    for (double x = -0.999999; x < 1.0; x += 0.0137) EXPECT_NEAR(std::erf(erfinv(x)), x, 1e-15);
    EXPECT_NEAR(erfinv(1 - 1e-12), 5.0420297, 1e-5);
    EXPECT_EQ(erfinv(0.0), 0.0);
    EXPECT_EQ(erfinv(1.0), std::numeric_limits<double>::infinity());
    EXPECT_EQ(erfinv(-1.0), -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(erfinv(1.5)));
}

// In the tails erf rounds to +-1, so accuracy is measured against erfc there.
TEST(Erfinv, AccurateAndMonotonicIntoTheTails) {
    double previous = 0.0;
    for (int k = 1; k <= 53; ++k) {
        const double tail = std::ldexp(1.0, -k);
        const double y = erfinv(1.0 - tail);
        EXPECT_NEAR(std::erfc(y) / tail, 1.0, 1e-13) << "1 - 2^-" << k;
        EXPECT_GT(y, previous) << "1 - 2^-" << k;
        EXPECT_EQ(erfinv(tail - 1.0), -y) << "odd at 2^-" << k << " - 1";
        previous = y;
    }
    EXPECT_NEAR(erfinv(1.0 - 0x1p-53), 5.8636, 1e-4);
    double last = -std::numeric_limits<double>::infinity();
    for (int i = -10000; i <= 10000; ++i) {
        const double x = i / 10000.5;
        const double y = erfinv(x);
        EXPECT_GT(y, last) << x;
        last = y;
    }
}

TEST(Randn, HasStandardNormalMoments) {
    seedRandom(1);
    const int n = 200000;
    double sum = 0, sq = 0;
    for (int i = 0; i < n; ++i) {
        const double x = randn();
        sum += x;
        sq += x * x;
    }
    EXPECT_NEAR(sum / n, 0.0, 0.01);
    EXPECT_NEAR(sq / n, 1.0, 0.015);
}

TEST(Gamrnd, RefusesNonPositiveAndNonFiniteShapes) {
    for (double alpha : {0.0, -1.0, -0.5, -std::numeric_limits<double>::infinity()}) {
        try {
            gamrnd(alpha);
            ADD_FAILURE() << "alpha " << alpha << " accepted";
        } catch (const GammaError& error) {
            EXPECT_STREQ(error.what(), "alpha <= 0!");
            EXPECT_EQ(error.kind, GammaError::Kind::invalidInput);
        }
    }
    EXPECT_THROW(gamrnd(std::numeric_limits<double>::quiet_NaN()), GammaError);
    EXPECT_THROW(gamrnd(std::numeric_limits<double>::infinity()), GammaError);
}

TEST(Gamrnd, MeanAndVarianceMatchShapeAndScaleInBothBranches) {
    seedRandom(2);
    for (double alpha : {0.8, 1.0, 3.5}) {
        const int n = 100000;
        double sum = 0, sq = 0;
        for (int i = 0; i < n; ++i) {
            const double g = gamrnd(alpha, 2.0);
            ASSERT_GE(g, 0.0);
            sum += g;
            sq += g * g;
        }
        const double mean = sum / n;
        EXPECT_NEAR(mean, 2.0 * alpha, 0.03 * 2.0 * alpha) << alpha;
        EXPECT_NEAR(sq / n - mean * mean, 4.0 * alpha, 0.06 * 4.0 * alpha) << alpha;
    }
}

TEST(Gamrnd, ScaleMultipliesTheSameDraws) {
    seedRandom(3);
    const double one = gamrnd(0.8, 1.0);
    seedRandom(3);
    const double two = gamrnd(0.8, 2.0);
    EXPECT_DOUBLE_EQ(two, 2.0 * one);
}

TEST(Dirichlet, SumsToOneAndHasTheRightMeans) {
    seedRandom(4);
    EXPECT_TRUE(dirichlet({}).empty());
    std::vector<double> mean(3, 0.0);
    const int n = 50000;
    for (int i = 0; i < n; ++i) {
        const auto d = dirichlet({0.8, 0.8, 1.6});
        ASSERT_EQ(d.size(), 3u);
        EXPECT_NEAR(d[0] + d[1] + d[2], 1.0, 1e-12);
        for (int k = 0; k < 3; ++k) {
            ASSERT_GT(d[k], 0.0);
            mean[k] += d[k] / n;
        }
    }
    EXPECT_NEAR(mean[0], 0.25, 0.01);
    EXPECT_NEAR(mean[2], 0.5, 0.01);
}

TEST(Dirichlet, TheBufferedDrawIsTheSameDraw) {
    // The search draws its root noise into a kept buffer; the numbers, and the generator's
    // state after them, must be those of the plain draw, to the bit.
    std::vector<double> buffer{9.0, 9.0, 9.0, 9.0, 9.0, 9.0, 9.0, 9.0, 9.0};
    for (const std::size_t count : {7u, 3u, 0u, 1u, 7u}) {
        seedRandom(count + 10);
        const auto plain = dirichlet(std::vector<double>(count, 0.8));
        const auto next = uniform01();
        seedRandom(count + 10);
        dirichlet(0.8, count, buffer);
        ASSERT_EQ(buffer, plain);
        EXPECT_EQ(uniform01(), next);
    }
}

TEST(Multinomial, CountsFollowTheWeights) {
    seedRandom(5);
    EXPECT_EQ(multinomial({0, 1, 0}, 1), (std::vector<std::int64_t>{0, 1, 0}));
    EXPECT_EQ(multinomial({0.3, 0.7}, 0), (std::vector<std::int64_t>{0, 0}));
    const auto counts = multinomial({2, 2, 4}, 80000);
    EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), std::int64_t{0}), 80000);
    EXPECT_NEAR(counts[0] / 80000.0, 0.25, 0.01);
    EXPECT_NEAR(counts[2] / 80000.0, 0.5, 0.01);
    EXPECT_THROW(multinomial({1.0}, -1), std::invalid_argument);
}

TEST(Multinomial, DegenerateWeightsMarkNothing) {
    EXPECT_EQ(multinomial({0, 0, 0}, 1), (std::vector<std::int64_t>{0, 0, 0}));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(multinomial({nan, 1.0}, 1), (std::vector<std::int64_t>{0, 0}));
}

TEST(Multinomial, WellFormedWeightsAlwaysMarkExactlyOneEntry) {
    seedRandom(6);
    std::mt19937 shapes(11);
    for (int i = 0; i < 20000; ++i) {
        std::vector<double> weights(1 + shapes() % 42);
        for (auto& w : weights) w = (shapes() % 3 == 0) ? 0.0 : std::ldexp(shapes() % 1000 + 1.0, -int(shapes() % 60));
        weights[shapes() % weights.size()] += 1e-300;
        const auto draw = multinomial(weights, 1);
        ASSERT_EQ(std::accumulate(draw.begin(), draw.end(), std::int64_t{0}), 1);
        for (std::size_t k = 0; k < draw.size(); ++k)
            if (draw[k]) {
                ASSERT_GT(weights[k], 0.0);
            }
    }
}

TEST(Argmax, BreaksTiesUniformlyAtRandom) {
    seedRandom(8);
    EXPECT_FALSE(argmax(std::vector<double>{}).has_value());
    EXPECT_EQ(argmax(std::vector<int>{5}), 0);
    int ones = 0, twos = 0;
    for (int i = 0; i < 10000; ++i) {
        const auto index = argmax(std::vector<double>{1, 3, 3, 2});
        ASSERT_TRUE(index == 1 || index == 2);
        (*index == 1 ? ones : twos)++;
    }
    EXPECT_NEAR(ones / 10000.0, 0.5, 0.03);
    // Not a number never becomes the maximum, and nothing compares greater or equal to it.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(argmax(std::vector<double>{1, nan, 4}), 2);
}
