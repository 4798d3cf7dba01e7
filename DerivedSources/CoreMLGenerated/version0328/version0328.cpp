#include "DerivedSources/CoreMLGenerated/version0328/version0328.hpp"

#include <dlfcn.h>
#include <unistd.h>

namespace tarnwick {

using namespace platform;

version0328Input::version0328Input(std::shared_ptr<MLMultiArray> input1) : input1(std::move(input1)) {}

std::set<std::string> version0328Input::featureNames() const { return {"input1"}; }

std::shared_ptr<MLFeatureValue> version0328Input::featureValue(const std::string& featureName) const {
    if (featureName != "input1") return nullptr;
    return MLFeatureValue::featureValueWithMultiArray(input1);
}

version0328Output::version0328Output(std::shared_ptr<MLFeatureProvider> features)
    : provider(std::move(features)) {
    if (!provider) throw FatalError("version0328Output: no feature provider");
}

version0328Output::version0328Output(std::shared_ptr<MLMultiArray> output1,
                                     std::shared_ptr<MLMultiArray> output2)
    : provider(std::make_shared<MLDictionaryFeatureProvider>(
          std::map<std::string, std::shared_ptr<MLFeatureValue>>{
              {"output1", MLFeatureValue::featureValueWithMultiArray(std::move(output1))},
              {"output2", MLFeatureValue::featureValueWithMultiArray(std::move(output2))}})) {}

std::set<std::string> version0328Output::featureNames() const { return provider->featureNames(); }

std::shared_ptr<MLFeatureValue> version0328Output::featureValue(const std::string& featureName) const {
    return provider->featureValue(featureName);
}

namespace {
std::shared_ptr<MLMultiArray> take(const MLFeatureProvider& provider, const char* name) {
    const auto value = provider.featureValue(name);
    auto array = value ? value->multiArrayValue() : nullptr;
    if (!array) throw FatalError(std::string("version0328: the model gave no \"") + name + "\"");
    return array;
}
} // namespace

std::shared_ptr<MLMultiArray> version0328Output::output1() {
    if (!output1_) output1_ = take(*provider, "output1");
    return output1_;
}

std::shared_ptr<MLMultiArray> version0328Output::output2() {
    if (!output2_) output2_ = take(*provider, "output2");
    return output2_;
}

void version0328Output::setOutput1(std::shared_ptr<MLMultiArray> value) { output1_ = std::move(value); }
void version0328Output::setOutput2(std::shared_ptr<MLMultiArray> value) { output2_ = std::move(value); }

namespace {

constexpr const char* resourceName = "version0328.mlmodelc";

std::vector<std::filesystem::path> candidates() {
    std::vector<std::filesystem::path> places;
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        places.push_back(exe.parent_path() / resourceName);
        places.push_back(exe.parent_path() / ".." / "share" / "tarnwick" / resourceName);
    }
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&candidates), &info) && info.dli_fname) {
        const auto lib = std::filesystem::absolute(info.dli_fname, error).parent_path();
        places.push_back(lib / resourceName);
        places.push_back(lib / ".." / "share" / "tarnwick" / resourceName);
    }
#ifdef TARNWICK_DATA_DIR
    places.push_back(std::filesystem::path(TARNWICK_DATA_DIR) / resourceName);
#endif
#ifdef TARNWICK_SOURCE_RESOURCES
    places.push_back(std::filesystem::path(TARNWICK_SOURCE_RESOURCES) / resourceName);
#endif
    return places;
}

} // namespace

std::optional<std::filesystem::path> version0328::urlOfModelInThisBundle() {
    std::error_code error;
    for (const auto& place : candidates())
        if (std::filesystem::is_directory(place, error)) return place;
    return std::nullopt;
}

namespace {
std::shared_ptr<MLModel> loadBundled(const MLModelConfiguration* configuration) {
    const auto url = version0328::urlOfModelInThisBundle();
    if (!url) {
        std::string searched;
        for (const auto& place : candidates()) searched += "\n  " + place.string();
        throw ModelLoadError(std::string("the model resource \"") + resourceName +
                             "\" was not found; searched:" + searched);
    }
    try {
        return configuration ? MLModel::load(*url, *configuration) : MLModel::load(*url);
    } catch (const std::exception& failure) {
        throw ModelLoadError(std::string("the model resource \"") + resourceName +
                             "\" cannot be loaded: " + failure.what());
    }
}
} // namespace

version0328::version0328() : model(loadBundled(nullptr)) {
    if (const auto url = urlOfModelInThisBundle()) resourceName_ = url->string();
}
version0328::version0328(const MLModelConfiguration& configuration)
    : model(loadBundled(&configuration)) {
    if (const auto url = urlOfModelInThisBundle()) resourceName_ = url->string();
}
version0328::version0328(const std::filesystem::path& contentsOf)
    : model(MLModel::load(contentsOf)), resourceName_(contentsOf.string()) {}
version0328::version0328(const std::filesystem::path& contentsOf,
                         const MLModelConfiguration& configuration)
    : model(MLModel::load(contentsOf, configuration)), resourceName_(contentsOf.string()) {}
version0328::version0328(std::shared_ptr<MLModel> model) : model(std::move(model)) {
    if (!this->model) throw FatalError("version0328: no model given");
}

MLModel& version0328::loaded() const {
    if (!model) throw FatalError("version0328: the model has been set to null");
    return *model;
}

std::shared_ptr<version0328Output> version0328::prediction(const version0328Input& input) {
    return prediction(input, MLPredictionOptions{});
}

std::shared_ptr<version0328Output> version0328::prediction(const version0328Input& input,
                                                           const MLPredictionOptions& options) {
    return std::make_shared<version0328Output>(loaded().prediction(input, options));
}

std::shared_ptr<version0328Output> version0328::prediction(std::shared_ptr<MLMultiArray> input1) {
    return prediction(version0328Input(std::move(input1)));
}

std::vector<std::shared_ptr<version0328Output>>
version0328::predictions(const std::vector<std::shared_ptr<version0328Input>>& inputs,
                         const MLPredictionOptions& options) {
    std::vector<std::shared_ptr<MLFeatureProvider>> providers(inputs.begin(), inputs.end());
    const auto batch = loaded().predictions(MLArrayBatchProvider(std::move(providers)), options);
    std::vector<std::shared_ptr<version0328Output>> results;
    results.reserve(inputs.size());
    for (std::int64_t i = 0; i < batch->count(); ++i)
        results.push_back(std::make_shared<version0328Output>(batch->features(i)));
    return results;
}

} // namespace tarnwick
