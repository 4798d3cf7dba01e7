#pragma once
// Typed binding of the "version0328" model: one input "input1" (the encoded position) and two
// outputs, "output1" (value of the position for the player to move) and "output2" (one raw
// score per action index).

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Platform/MLFeatureProvider.hpp"
#include "Platform/MLModel.hpp"
#include "Platform/MLMultiArray.hpp"
#include "Tarnwick/rules/Errors.hpp"

namespace tarnwick {

// The shipped model could not be found or loaded; the message names the resource looked for.
class ModelLoadError : public FatalError {
public:
    using FatalError::FatalError;
};

class version0328Input : public platform::MLFeatureProvider {
public:
    explicit version0328Input(std::shared_ptr<platform::MLMultiArray> input1);

    std::shared_ptr<platform::MLMultiArray> input1;

    std::set<std::string> featureNames() const override;
    std::shared_ptr<platform::MLFeatureValue> featureValue(const std::string& featureName) const override;
};

class version0328Output : public platform::MLFeatureProvider {
public:
    explicit version0328Output(std::shared_ptr<platform::MLFeatureProvider> features);
    version0328Output(std::shared_ptr<platform::MLMultiArray> output1,
                      std::shared_ptr<platform::MLMultiArray> output2);

    std::set<std::string> featureNames() const override;
    std::shared_ptr<platform::MLFeatureValue> featureValue(const std::string& featureName) const override;

    // Taken from the provider on first read and cached; throws FatalError when the provider
    // has no such multi-array feature.
    std::shared_ptr<platform::MLMultiArray> output1();
    std::shared_ptr<platform::MLMultiArray> output2();
    void setOutput1(std::shared_ptr<platform::MLMultiArray> value);
    void setOutput2(std::shared_ptr<platform::MLMultiArray> value);

private:
    std::shared_ptr<platform::MLFeatureProvider> provider;
    std::shared_ptr<platform::MLMultiArray> output1_;
    std::shared_ptr<platform::MLMultiArray> output2_;
};

class version0328 {
public:
    std::shared_ptr<platform::MLModel> model;

    // Location of "version0328.mlmodelc" beside the library (see docs/model-format.md for the
    // search order); empty when no candidate exists.
    static std::optional<std::filesystem::path> urlOfModelInThisBundle();

    // Loads the resource from urlOfModelInThisBundle(); throws ModelLoadError naming it.
    version0328();
    explicit version0328(const platform::MLModelConfiguration& configuration);
    // Throw platform::MLModelError on a load failure.
    explicit version0328(const std::filesystem::path& contentsOf);
    version0328(const std::filesystem::path& contentsOf,
                const platform::MLModelConfiguration& configuration);
    // Wraps an already loaded model (tests, benchmarks, other networks).
    explicit version0328(std::shared_ptr<platform::MLModel> model);

    // What the model was loaded from, for messages: the resource folder, or "version0328" for
    // a model handed over already loaded.
    const std::string& resourceName() const { return resourceName_; }

    std::shared_ptr<version0328Output> prediction(const version0328Input& input);
    std::shared_ptr<version0328Output> prediction(const version0328Input& input,
                                                  const platform::MLPredictionOptions& options);
    std::shared_ptr<version0328Output> prediction(std::shared_ptr<platform::MLMultiArray> input1);
    std::vector<std::shared_ptr<version0328Output>>
    predictions(const std::vector<std::shared_ptr<version0328Input>>& inputs,
                const platform::MLPredictionOptions& options = {});

private:
    // `model` is public; a null written there is refused with FatalError at prediction.
    platform::MLModel& loaded() const;

    std::string resourceName_ = "version0328";
};

} // namespace tarnwick
