// `tarnwick selfplay-data`: training records from the library's own search agent playing
// itself (root noise as designed, sampled opening moves), in the TWSP format that
// training/ reads (docs/training.md). Records are appended game by game and the header's
// count rewritten after each, so a stopped run loses at most the game in progress and the
// same command carries on.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <limits>
#include <ostream>
#include <vector>

#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/play/Game.hpp"
#include "tools/tarnwick/Commands.hpp"
#include "tools/tarnwick/NumericOption.hpp"

namespace tarnwick::cli {

namespace {

constexpr char magic[4] = {'T', 'W', 'S', 'P'};
constexpr std::uint32_t version = 1;
constexpr std::size_t headerBytes = 16;
constexpr std::size_t recordFloats = 84 + 42 + 1;
constexpr std::size_t recordBytes = recordFloats * 4;

struct Record {
    std::vector<float> values; // planes, visit distribution, result (filled in at the end)
    std::int64_t mover;
};

// At most one game's records, and a part of one more, follow the header's count when a run
// stopped between writing a game and counting it.
constexpr std::uint64_t unfinishedBytes = 43 * recordBytes;

// Opens `path` for appending and returns the records it already holds; creates it when
// missing, and cuts off what an interrupted run left uncounted. A file whose header does not
// match its size is refused untouched: it is not one this tool wrote.
std::uint64_t openRecords(const std::filesystem::path& path, std::fstream& file) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        std::ofstream create(path, std::ios::binary);
        const std::uint64_t zero = 0;
        create.write(magic, 4);
        create.write(reinterpret_cast<const char*>(&version), 4);
        create.write(reinterpret_cast<const char*>(&zero), 8);
        if (!create) throw std::runtime_error(path.string() + ": cannot be created");
    }
    if (!std::filesystem::is_regular_file(path, error))
        throw std::runtime_error(path.string() + ": not a regular file");
    file.open(path, std::ios::binary | std::ios::in | std::ios::out);
    char head[headerBytes] = {};
    if (!file.read(head, headerBytes) || std::memcmp(head, magic, 4) != 0)
        throw std::runtime_error(path.string() + ": not a self-play record file");
    std::uint32_t fileVersion = 0;
    std::uint64_t count = 0;
    std::memcpy(&fileVersion, head + 4, 4);
    std::memcpy(&count, head + 8, 8);
    if (fileVersion != version)
        throw std::runtime_error(path.string() + ": unsupported version " + std::to_string(fileVersion));
    const auto size = std::filesystem::file_size(path);
    if (count > (size - headerBytes) / recordBytes)
        throw std::runtime_error(path.string() + ": its header counts " + std::to_string(count) +
                                 " records, more than the file holds");
    const auto counted = headerBytes + count * recordBytes;
    if (size - counted >= unfinishedBytes)
        throw std::runtime_error(path.string() + ": holds " + std::to_string(size - counted) +
                                 " bytes past its header's " + std::to_string(count) +
                                 " records, more than an interrupted game leaves");
    file.close();
    if (size != counted) std::filesystem::resize_file(path, counted);
    file.open(path, std::ios::binary | std::ios::in | std::ios::out);
    return count;
}

// The games an earlier run finished, from the progress file beside the records.
std::int64_t gamesDone(const std::filesystem::path& progressPath) {
    std::ifstream progress(progressPath);
    if (!progress) return 0;
    std::string text;
    progress >> text;
    const auto games = parseDecimal(text, 0, std::numeric_limits<std::int64_t>::max());
    if (!games)
        throw std::runtime_error(progressPath.string() + ": \"" + text +
                                 "\" is not a count of games");
    return static_cast<std::int64_t>(*games);
}

// The file is little-endian; so is every machine this builds for.
void append(std::fstream& file, std::uint64_t& count, const std::vector<Record>& records) {
    file.seekp(0, std::ios::end);
    for (const auto& r : records)
        file.write(reinterpret_cast<const char*>(r.values.data()), recordBytes);
    count += records.size();
    file.seekp(8);
    file.write(reinterpret_cast<const char*>(&count), 8);
    file.flush();
    if (!file) throw std::runtime_error("writing the records failed");
}

} // namespace

int selfplayData(const SelfPlayDataOptions& options, std::ostream& log) {
    applySeed(options.bot);
    const auto model = loadModel(options.bot.model, options.bot.int8);
    const std::filesystem::path path = options.out;
    const auto progressPath = std::filesystem::path(options.out + ".games");
    std::int64_t done = gamesDone(progressPath);
    std::fstream file;
    std::uint64_t count = openRecords(path, file);

    const auto start = std::chrono::steady_clock::now();
    const auto begunAt = done;
    for (; done < options.games; ++done) {
        const auto game = Game::init(std::make_shared<Config>());
        ZenfoldAgent bot("selfplay", game->stateSize(), game->actionSize(), options.bot.sims, Config::CPUCT);
        bot.setModel(model);
        std::vector<Record> records;
        StepResult last{game->gameState, 0.0, false};
        for (std::int64_t turn = 1; !last.done; ++turn) {
            const auto state = game->gameState;
            const auto action = bot.act(state, turn <= options.tau);
            Record record{std::vector<float>(recordFloats, 0.0f), state->playerTurn};
            const auto planes = state->binary();
            for (int i = 0; i < 84; ++i) record.values[i] = static_cast<float>((*planes)[i]);
            double total = 0;
            for (const auto& edge : bot.mcts->root->edges) total += edge->stats.N;
            for (const auto& edge : bot.mcts->root->edges)
                record.values[static_cast<std::size_t>(84 + edge->action)] =
                    static_cast<float>(total > 0 ? edge->stats.N / total : 0.0);
            records.push_back(std::move(record));
            last = game->step(action);
        }
        // A finished game's value is -1 when the player now to move has lost.
        const std::int64_t winner = last.value == -1.0 ? -game->gameState->playerTurn : 0;
        for (auto& r : records) r.values[126] = winner == 0 ? 0.0f : (r.mover == winner ? 1.0f : -1.0f);
        append(file, count, records);
        std::ofstream(progressPath) << done + 1 << "\n";

        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double rate = static_cast<double>(done + 1 - begunAt) / std::max(seconds, 1e-9);
        log << "\rgames " << done + 1 << "/" << options.games << "  positions " << count << "  "
            << std::fixed << std::setprecision(2) << rate << " games/s  left "
            << static_cast<long>(static_cast<double>(options.games - done - 1) / rate) << " s   "
            << std::flush;
    }
    log << "\n";
    return 0;
}

} // namespace tarnwick::cli
