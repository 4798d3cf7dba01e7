// `tarnwick bench`: the headline figures in a few seconds. The full set, with the machine's
// matrix-product rate beside them, is in the Google Benchmark programs under bench/.

#include <algorithm>
#include <chrono>
#include <functional>
#include <iomanip>
#include <ostream>
#include <vector>

#include <Eigen/Core>

#include "Platform/TowerNetwork.hpp"
#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "bench/BenchModels.hpp"
#include "tools/tarnwick/Commands.hpp"

namespace tarnwick::cli {

namespace {

// Median seconds of `reps` calls after one warm-up call.
double medianSeconds(int reps, const std::function<void()>& work) {
    work();
    std::vector<double> times;
    for (int i = 0; i < reps; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(times.begin(), times.begin() + reps / 2, times.end());
    return times[static_cast<std::size_t>(reps / 2)];
}

// FLOP/s of Eigen's float32 product of a tower convolution's shape, (filters x 9 filters) by
// (9 filters x cols): the machine's rate on the same day, for reading the network's figures.
double productRate(Eigen::Index filters, Eigen::Index cols) {
    using Matrix = Eigen::Matrix<float, Eigen::Dynamic, Eigen::Dynamic>;
    const Matrix a = Matrix::Random(filters, 9 * filters), b = Matrix::Random(9 * filters, cols);
    Matrix c(filters, cols);
    const int reps = cols > 42 ? 21 : 401;
    const double seconds = medianSeconds(reps, [&] { c.noalias() = a * b; });
    return 2.0 * static_cast<double>(filters * 9 * filters * cols) / seconds;
}

} // namespace

int bench(const BotOptions& options, std::ostream& out) {
    applySeed(options);
    // With --int8 the moves use the int8 network, and both arithmetics of the same weights are
    // measured side by side, float32 first.
    const auto model = loadModel(options.model, options.int8);
    const auto start = bench::position(0);
    const auto midgame = bench::position(1);
    const auto input = std::make_shared<version0328Input>(midgame->binary());
    const std::vector<std::shared_ptr<version0328Input>> batch(64, input);

    std::vector<std::pair<const char*, std::shared_ptr<version0328>>> networks;
    if (options.int8) networks.push_back({"float32 ", loadModel(options.model, false)});
    networks.push_back({options.int8 ? "int8    " : "", model});
    double singleRate = 0, batchRate = 0;
    for (const auto& [name, network] : networks) {
        const double single = medianSeconds(201, [&] { network->prediction(*input); });
        const double batched = medianSeconds(11, [&] { network->predictions(batch); });
        out << std::fixed << std::setprecision(1);
        out << name << "network prediction          " << std::setw(9) << single * 1e6 << " us\n";
        out << name << "network batch of 64         " << std::setw(9) << 64 / batched
            << " positions/s\n";
        // The interpreter's FLOP/s, counted as direct convolutions, over the float32 product rate.
        if (const auto* tower = dynamic_cast<const platform::TowerNetwork*>(network->model.get())) {
            const auto filters = tower->architecture().filters;
            const double flops = tower->flopsPerPosition();
            if (singleRate == 0) {
                singleRate = productRate(filters, 42);
                batchRate = productRate(filters, 42 * 64);
                out << "matrix products             " << std::setw(9) << singleRate / 1e9 << " / "
                    << batchRate / 1e9 << " GFLOP/s (one position / 64)\n";
            }
            out << std::setprecision(2);
            out << name << "network of product rate     " << std::setw(9)
                << flops / single / singleRate << " / " << flops * 64 / batched / batchRate
                << " (one / 64)\n";
            out << std::setprecision(1);
        }
    }
    const auto free = std::make_shared<bench::ConstantModel>();
    const double tree = medianSeconds(5, [&] { bench::agent(800, free)->act(midgame, false); });
    const double opening = medianSeconds(9, [&] { bench::agent(options.sims, model->model)->act(start, false); });
    const double middle = medianSeconds(9, [&] { bench::agent(options.sims, model->model)->act(midgame, false); });

    out << "search alone (free network) " << std::setw(9) << 800 / tree / 1e3 << " k simulations/s\n";
    out << options.sims << "-simulation move, start" << std::string(options.sims < 100 ? 5 : 4, ' ')
        << std::setw(9) << opening * 1e3 << " ms\n";
    out << options.sims << "-simulation move, midgame" << std::string(options.sims < 100 ? 3 : 2, ' ')
        << std::setw(9) << middle * 1e3 << " ms\n";
    return 0;
}

} // namespace tarnwick::cli
