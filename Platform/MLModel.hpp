#pragma once
// The model interface the library calls. A loaded resource is interpreted on the CPU;
// tests and benchmarks may subclass MLModel with networks of their own.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "Platform/MLBatchProvider.hpp"
#include "Platform/MLFeatureProvider.hpp"

namespace tarnwick::platform {

class MLModelError : public std::runtime_error {
public:
    explicit MLModelError(const std::string& message) : std::runtime_error(message) {}
};

// The arithmetic of the tower's 3x3 convolutions. int8 needs a resource with an int8 section
// (docs/model-format.md); its outputs are close to float32's, not equal.
enum class MLComputePrecision { float32, int8 };

struct MLModelConfiguration {
    // CPU threads a model may use. The interpreter computes on the caller's thread, so only 1
    // is used; larger values are accepted for the sake of hosts that set them.
    std::int64_t computeThreads = 1;
    MLComputePrecision precision = MLComputePrecision::float32;
};

struct MLPredictionOptions {};

class MLModel {
public:
    virtual ~MLModel() = default;

    // Reads a model resource folder (see docs/model-format.md); throws MLModelError.
    static std::shared_ptr<MLModel> load(const std::filesystem::path& contentsOf);
    static std::shared_ptr<MLModel> load(const std::filesystem::path& contentsOf,
                                         const MLModelConfiguration& configuration);

    // The same checks from the two files' bytes in memory (an app's bundled asset); `label`
    // names the model in error messages.
    static std::shared_ptr<MLModel> loadFromMemory(const std::string& manifest,
                                                   const std::string& weights,
                                                   const std::string& label = "model in memory");
    static std::shared_ptr<MLModel> loadFromMemory(const std::string& manifest,
                                                   const std::string& weights,
                                                   const std::string& label,
                                                   const MLModelConfiguration& configuration);

    virtual std::shared_ptr<MLFeatureProvider> prediction(const MLFeatureProvider& input,
                                                          const MLPredictionOptions& options) = 0;
    // The whole batch in one pass; results in batch order.
    virtual std::shared_ptr<MLBatchProvider> predictions(const MLBatchProvider& inputs,
                                                         const MLPredictionOptions& options) = 0;
};

} // namespace tarnwick::platform
