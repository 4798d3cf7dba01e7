// Memory of the search: heap bytes per tree node, and the peak resident memory of a whole
// bot-against-bot match. Kept apart from the timing benchmarks, whose allocations the
// counting allocator here would slow.

#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/play/Game.hpp"
#include "bench/BenchModels.hpp"

// Live heap bytes, for the size of a tree node.
namespace {
std::atomic<long long> liveBytes{0};
}

void* operator new(std::size_t size) {
    // The size is stored in front of the block so that delete can subtract it.
    auto* block = static_cast<std::max_align_t*>(std::malloc(size + sizeof(std::max_align_t)));
    if (!block) throw std::bad_alloc();
    *reinterpret_cast<std::size_t*>(block) = size;
    liveBytes += static_cast<long long>(size);
    return block + 1;
}
void operator delete(void* pointer) noexcept {
    if (!pointer) return;
    auto* block = static_cast<std::max_align_t*>(pointer) - 1;
    liveBytes -= static_cast<long long>(*reinterpret_cast<std::size_t*>(block));
    std::free(block);
}
void operator delete(void* pointer, std::size_t) noexcept { operator delete(pointer); }
// The tree's arena takes its chunks aligned; they are counted whole, used or not.
void* operator new(std::size_t size, std::align_val_t alignment) {
    const auto align = static_cast<std::size_t>(alignment);
    // The size goes in a whole alignment unit in front of the block.
    auto* block = static_cast<char*>(std::aligned_alloc(align, size + align));
    if (!block) throw std::bad_alloc();
    *reinterpret_cast<std::size_t*>(block) = size;
    liveBytes += static_cast<long long>(size);
    return block + align;
}
void operator delete(void* pointer, std::align_val_t alignment) noexcept {
    if (!pointer) return;
    auto* block = static_cast<char*>(pointer) - static_cast<std::size_t>(alignment);
    liveBytes -= static_cast<long long>(*reinterpret_cast<std::size_t*>(block));
    std::free(block);
}
void operator delete(void* pointer, std::size_t, std::align_val_t alignment) noexcept {
    operator delete(pointer, alignment);
}

namespace {

using namespace tarnwick;

using bench::agent;
using bench::position;

// Heap bytes held by the tree after a search, per node it holds.
void BytesPerNode(benchmark::State& state) {
    const auto model = std::make_shared<bench::ConstantModel>();
    const auto from = position(0);
    double perNode = 0, nodes = 0;
    for (auto _ : state) {
        const auto before = liveBytes.load();
        auto bot = agent(state.range(0), model);
        bot->act(from, false);
        nodes = static_cast<double>(bot->mcts->length());
        perNode = static_cast<double>(liveBytes.load() - before) / nodes;
    }
    state.counters["bytes/node"] = perNode;
    state.counters["nodes"] = nodes;
}
BENCHMARK(BytesPerNode)->Arg(800)->ArgName("sims")->Unit(benchmark::kMillisecond);

// Two bots with the shipped network play a whole match; their trees are never pruned.
void Match(benchmark::State& state) {
    const auto sims = state.range(0);
    const auto shipped = version0328().model;
    double nodes = 0;
    for (auto _ : state) {
        const auto game = Game::init(std::make_shared<Config>());
        std::map<std::int64_t, std::shared_ptr<ZenfoldAgent>> bots{{1, agent(sims, shipped)},
                                                                   {-1, agent(sims, shipped)}};
        bool done = false;
        for (int turn = 1; !done; ++turn)
            done = game->step(bots.at(game->currentPlayer)->act(game->gameState, turn < Config::TAU0)).done;
        nodes = static_cast<double>(bots[1]->mcts->length() + bots[-1]->mcts->length());
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peakRSS_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.counters["treeNodes"] = nodes;
}
BENCHMARK(Match)->Arg(800)->ArgName("sims")->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
