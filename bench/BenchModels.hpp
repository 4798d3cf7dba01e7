#pragma once
// Models for measuring the search apart from the network: one whose answer costs nothing, and
// a wrapper that times the network it forwards to.

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "Platform/MLFeatureValue.hpp"
#include "Platform/MLModel.hpp"
#include "Platform/MLMultiArray.hpp"
#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/rules/Config.hpp"
#include "Tarnwick/rules/GameState.hpp"
#include "Tarnwick/rules/Notation.hpp"

namespace tarnwick::bench {

// Value 0 and equal scores everywhere; the same result object every call.
class ConstantModel : public platform::MLModel {
public:
    ConstantModel() {
        using platform::MLMultiArray, platform::MLMultiArrayDataType, platform::MLFeatureValue;
        auto value = MLMultiArray::create({1}, MLMultiArrayDataType::Double);
        auto scores = MLMultiArray::create({42}, MLMultiArrayDataType::Double);
        value->set(0, 0.0);
        for (int i = 0; i < 42; ++i) scores->set(i, 0.0);
        result = std::make_shared<platform::MLDictionaryFeatureProvider>(
            std::map<std::string, std::shared_ptr<MLFeatureValue>>{
                {"output1", MLFeatureValue::featureValueWithMultiArray(value)},
                {"output2", MLFeatureValue::featureValueWithMultiArray(scores)}});
    }
    std::shared_ptr<platform::MLFeatureProvider> prediction(const platform::MLFeatureProvider&,
                                                            const platform::MLPredictionOptions&) override {
        return result;
    }
    std::shared_ptr<platform::MLBatchProvider> predictions(const platform::MLBatchProvider& inputs,
                                                           const platform::MLPredictionOptions&) override {
        std::vector<std::shared_ptr<platform::MLFeatureProvider>> all(
            static_cast<std::size_t>(inputs.count()), result);
        return std::make_shared<platform::MLArrayBatchProvider>(std::move(all));
    }

private:
    std::shared_ptr<platform::MLFeatureProvider> result;
};

// Forwards to `inner` and adds up the wall time spent inside it.
class TimedModel : public platform::MLModel {
public:
    explicit TimedModel(std::shared_ptr<platform::MLModel> inner) : inner(std::move(inner)) {}
    std::shared_ptr<platform::MLFeatureProvider> prediction(const platform::MLFeatureProvider& input,
                                                            const platform::MLPredictionOptions& options) override {
        const auto start = std::chrono::steady_clock::now();
        auto out = inner->prediction(input, options);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++calls;
        return out;
    }
    std::shared_ptr<platform::MLBatchProvider> predictions(const platform::MLBatchProvider& inputs,
                                                           const platform::MLPredictionOptions& options) override {
        const auto start = std::chrono::steady_clock::now();
        auto out = inner->predictions(inputs, options);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++calls;
        return out;
    }
    double seconds = 0;
    long calls = 0;

private:
    std::shared_ptr<platform::MLModel> inner;
};

// The empty board (0) or a fixed midgame position (1).
inline std::shared_ptr<GameState> position(std::int64_t which) {
    return parseMoves(which == 0 ? "" : "4453342156").state;
}

// A fresh bot on `model`, with no tree yet.
inline std::shared_ptr<ZenfoldAgent> agent(std::int64_t sims, std::shared_ptr<platform::MLModel> model) {
    auto bot = std::make_shared<ZenfoldAgent>("bench", 84, 42, sims, Config::CPUCT);
    bot->setModel(std::make_shared<version0328>(std::move(model)));
    return bot;
}

} // namespace tarnwick::bench
