#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include "Platform/MLFeatureValue.hpp"

namespace tarnwick::platform {

// Named feature values: a model's inputs or outputs.
class MLFeatureProvider {
public:
    virtual ~MLFeatureProvider() = default;
    virtual std::set<std::string> featureNames() const = 0;
    // Null for a name the provider does not have.
    virtual std::shared_ptr<MLFeatureValue> featureValue(const std::string& featureName) const = 0;
};

class MLDictionaryFeatureProvider : public MLFeatureProvider {
public:
    explicit MLDictionaryFeatureProvider(std::map<std::string, std::shared_ptr<MLFeatureValue>> dictionary)
        : dictionary(std::move(dictionary)) {}

    std::set<std::string> featureNames() const override {
        std::set<std::string> names;
        for (const auto& [name, value] : dictionary) names.insert(name);
        return names;
    }
    std::shared_ptr<MLFeatureValue> featureValue(const std::string& featureName) const override {
        const auto found = dictionary.find(featureName);
        return found == dictionary.end() ? nullptr : found->second;
    }

private:
    std::map<std::string, std::shared_ptr<MLFeatureValue>> dictionary;
};

} // namespace tarnwick::platform
