#pragma once
// CPU interpreter of the residual tower: float32 inside, doubles at the feature boundary.
// Work buffers live in the object and are reused across calls, so a model object is used by
// one thread at a time.

#include <memory>

#include "Platform/MLModel.hpp"
#include "Platform/ModelResource.hpp"

namespace tarnwick::platform {

class TowerNetwork : public MLModel {
public:
    // With MLComputePrecision::int8 the 3x3 convolutions run in int8 from the resource's int8
    // section; without one that throws MLModelError naming `label`.
    explicit TowerNetwork(TowerWeights weights,
                          MLComputePrecision precision = MLComputePrecision::float32,
                          const std::string& label = "model");
    ~TowerNetwork() override;

    const TowerArchitecture& architecture() const;
    MLComputePrecision precision() const;
    // Multiply-adds of one position, times two.
    double flopsPerPosition() const;

    std::shared_ptr<MLFeatureProvider> prediction(const MLFeatureProvider& input,
                                                  const MLPredictionOptions& options) override;
    std::shared_ptr<MLBatchProvider> predictions(const MLBatchProvider& inputs,
                                                 const MLPredictionOptions& options) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace tarnwick::platform
