// The interpreter against the machine's own matrix-product rate: every figure of a tower is
// also given as a fraction of the float32 product rate measured in the same run.

#include <ctime>
#include <map>
#include <memory>
#include <vector>

#include <Eigen/Core>
#include <benchmark/benchmark.h>

#include "DerivedSources/CoreMLGenerated/version0328/version0328.hpp"
#include "Platform/TowerNetwork.hpp"
#include "bench/BenchModels.hpp"
#include "tests/support/ModelWriter.hpp"

namespace {

using namespace tarnwick;
using platform::TowerArchitecture;
using Matrix = Eigen::Matrix<float, Eigen::Dynamic, Eigen::Dynamic>;

// CPU time of this thread, as the benchmark library counts it, so that a busy machine
// shifts both sides of a ratio alike.
double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// FLOP/s of a (rows x inner) by (inner x cols) product, timed for about a quarter second.
double productRate(Eigen::Index rows, Eigen::Index inner, Eigen::Index cols) {
    const Matrix a = Matrix::Random(rows, inner), b = Matrix::Random(inner, cols);
    Matrix c(rows, cols);
    long reps = 0;
    const double start = cpuSeconds();
    double seconds = 0;
    do {
        c.noalias() = a * b;
        benchmark::DoNotOptimize(c.data());
        ++reps;
        seconds = cpuSeconds() - start;
    } while (seconds < 0.25);
    return 2.0 * static_cast<double>(rows * inner * cols * reps) / seconds;
}

// The tower's 3x3 convolution as one product: filters x (9 filters) by (9 filters) x cells.
double singleRate(Eigen::Index filters) { return productRate(filters, 9 * filters, 42); }
double batchRate(Eigen::Index filters) { return productRate(filters, 9 * filters, 42 * 64); }

void Product(benchmark::State& state) {
    const auto rows = state.range(0), inner = state.range(1), cols = state.range(2);
    const Matrix a = Matrix::Random(rows, inner), b = Matrix::Random(inner, cols);
    Matrix c(rows, cols);
    for (auto _ : state) {
        c.noalias() = a * b;
        benchmark::DoNotOptimize(c.data());
    }
    state.counters["FLOP/s"] = benchmark::Counter(2.0 * rows * inner * cols,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(Product)->Args({42, 288, 32})->Args({32, 288, 42})->Args({32, 288, 42 * 64})
    ->Args({64, 576, 42})->Args({64, 576, 42 * 64});

std::shared_ptr<platform::TowerNetwork> tower(std::int64_t blocks, std::int64_t filters) {
    const TowerArchitecture arch{blocks, filters, 2, 1, 64};
    return std::make_shared<platform::TowerNetwork>(
        platform::TowerWeights{arch, testing::randomTensors(arch, 7), "benchmark tower"});
}

std::shared_ptr<version0328Input> midgameInput() {
    return std::make_shared<version0328Input>(bench::position(1)->binary());
}

// `seconds`: CPU time of the timed loop.
void report(benchmark::State& state, double flopsPerPosition, double positions, double rate,
            double seconds) {
    const double achieved = flopsPerPosition * positions * static_cast<double>(state.iterations()) / seconds;
    state.counters["ofProductRate"] = achieved / rate;
    state.counters["positions/s"] =
        benchmark::Counter(positions, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["FLOP/s"] = benchmark::Counter(flopsPerPosition * positions,
                                                  benchmark::Counter::kIsIterationInvariantRate);
    state.counters["productRate"] = benchmark::Counter(rate, benchmark::Counter::kDefaults, benchmark::Counter::kIs1000);
    state.counters["MFLOP/position"] = flopsPerPosition / 1e6;
}

// Fraction of the product rate: FLOP/s divided by productRate, both shown per row.
void Single(benchmark::State& state) {
    const auto net = tower(state.range(0), state.range(1));
    const auto input = midgameInput();
    const double start = cpuSeconds();
    for (auto _ : state) benchmark::DoNotOptimize(net->prediction(*input, {}));
    const double seconds = cpuSeconds() - start;
    report(state, net->flopsPerPosition(), 1, singleRate(state.range(1)), seconds);
}
BENCHMARK(Single)->Args({4, 32})->Args({5, 48})->Args({6, 64})->Unit(benchmark::kMicrosecond);

void Batch64(benchmark::State& state) {
    const auto net = tower(state.range(0), state.range(1));
    const std::vector<std::shared_ptr<platform::MLFeatureProvider>> inputs(64, midgameInput());
    const platform::MLArrayBatchProvider batch(inputs);
    const double start = cpuSeconds();
    for (auto _ : state) benchmark::DoNotOptimize(net->predictions(batch, {}));
    const double seconds = cpuSeconds() - start;
    report(state, net->flopsPerPosition(), 64, batchRate(state.range(1)), seconds);
}
BENCHMARK(Batch64)->Args({4, 32})->Args({5, 48})->Args({6, 64})->Unit(benchmark::kMicrosecond);

// The network that ships, through the typed binding the agent uses.
void ShippedSingle(benchmark::State& state) {
    version0328 model;
    const auto input = midgameInput();
    const double start = cpuSeconds();
    for (auto _ : state) benchmark::DoNotOptimize(model.prediction(*input));
    const double seconds = cpuSeconds() - start;
    const auto* net = dynamic_cast<const platform::TowerNetwork*>(model.model.get());
    if (net) report(state, net->flopsPerPosition(), 1, singleRate(net->architecture().filters), seconds);
}
BENCHMARK(ShippedSingle)->Unit(benchmark::kMicrosecond);

void ShippedBatch64(benchmark::State& state) {
    version0328 model;
    const std::vector<std::shared_ptr<version0328Input>> inputs(64, midgameInput());
    const double start = cpuSeconds();
    for (auto _ : state)
        benchmark::DoNotOptimize(model.predictions(inputs));
    const double seconds = cpuSeconds() - start;
    const auto* net = dynamic_cast<const platform::TowerNetwork*>(model.model.get());
    if (net)
        report(state, net->flopsPerPosition(), 64, batchRate(net->architecture().filters), seconds);
}
BENCHMARK(ShippedBatch64)->Unit(benchmark::kMicrosecond);

// The shipped weights with int8 convolutions, quantized here with fixed input scales (the
// speed does not depend on them), so that the row exists whatever the shipped resource holds.
// Its fraction is of the float32 product rate, as the rows above.
std::shared_ptr<platform::TowerNetwork> shippedInt8() {
    auto weights = platform::readModelResource(version0328::urlOfModelInThisBundle().value());
    const auto& a = weights.architecture;
    auto resource = testing::makeResource(a, weights.tensors);
    std::map<std::string, float> scales;
    for (const auto& layer : platform::convLayerNames(a)) scales[layer] = 0.02f;
    testing::addInt8Section(resource, a, weights.tensors, scales);
    return std::make_shared<platform::TowerNetwork>(
        platform::parseModelResource(resource.manifest.dump(), resource.weights, "int8"),
        platform::MLComputePrecision::int8);
}

void ShippedInt8Single(benchmark::State& state) {
    const auto net = shippedInt8();
    const auto input = midgameInput();
    const double start = cpuSeconds();
    for (auto _ : state) benchmark::DoNotOptimize(net->prediction(*input, {}));
    const double seconds = cpuSeconds() - start;
    report(state, net->flopsPerPosition(), 1, singleRate(net->architecture().filters), seconds);
}
BENCHMARK(ShippedInt8Single)->Unit(benchmark::kMicrosecond);

void ShippedInt8Batch64(benchmark::State& state) {
    const auto net = shippedInt8();
    const std::vector<std::shared_ptr<platform::MLFeatureProvider>> inputs(64, midgameInput());
    const platform::MLArrayBatchProvider batch(inputs);
    const double start = cpuSeconds();
    for (auto _ : state) benchmark::DoNotOptimize(net->predictions(batch, {}));
    const double seconds = cpuSeconds() - start;
    report(state, net->flopsPerPosition(), 64, batchRate(net->architecture().filters), seconds);
}
BENCHMARK(ShippedInt8Batch64)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
