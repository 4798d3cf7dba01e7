#pragma once

#include <memory>

#include "Platform/MLMultiArray.hpp"

namespace tarnwick::platform {

// A value handed to or returned by a model; multi-arrays are the only kind we need.
class MLFeatureValue {
public:
    static std::shared_ptr<MLFeatureValue> featureValueWithMultiArray(std::shared_ptr<MLMultiArray> array) {
        return std::make_shared<MLFeatureValue>(std::move(array));
    }
    explicit MLFeatureValue(std::shared_ptr<MLMultiArray> array) : array(std::move(array)) {}

    std::shared_ptr<MLMultiArray> multiArrayValue() const { return array; }

private:
    std::shared_ptr<MLMultiArray> array;
};

} // namespace tarnwick::platform
