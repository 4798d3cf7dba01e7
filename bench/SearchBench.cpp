// The search apart from the network (a model that costs nothing), and a whole move with the
// shipped network with the share of it spent outside the network.

#include <chrono>
#include <memory>

#include <benchmark/benchmark.h>

#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "bench/BenchModels.hpp"

namespace {

using namespace tarnwick;

using bench::agent;
using bench::position;

// A fresh tree every iteration: the cost of a whole move request, tree building included.
void SearchOnly(benchmark::State& state) {
    const auto sims = state.range(0);
    const auto from = position(state.range(1));
    const auto model = std::make_shared<bench::ConstantModel>();
    for (auto _ : state) benchmark::DoNotOptimize(agent(sims, model)->act(from, false));
    state.counters["sims/s"] =
        benchmark::Counter(static_cast<double>(sims), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(SearchOnly)->ArgsProduct({{50, 800}, {0, 1}})->ArgNames({"sims", "midgame"})
    ->Unit(benchmark::kMicrosecond);

void ShippedMove(benchmark::State& state) {
    const auto sims = state.range(0);
    const auto from = position(state.range(1));
    const auto timed = std::make_shared<bench::TimedModel>(version0328().model);
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(agent(sims, timed)->act(from, false));
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["outsideNetwork"] = 1.0 - timed->seconds / total;
    state.counters["networkCalls/move"] =
        static_cast<double>(timed->calls) / static_cast<double>(state.iterations());
}
BENCHMARK(ShippedMove)->ArgsProduct({{50, 800}, {0, 1}})->ArgNames({"sims", "midgame"})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
