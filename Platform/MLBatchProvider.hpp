#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Platform/MLFeatureProvider.hpp"

namespace tarnwick::platform {

class MLBatchProvider {
public:
    virtual ~MLBatchProvider() = default;
    virtual std::int64_t count() const = 0;
    // Throws std::out_of_range outside 0..count-1.
    virtual std::shared_ptr<MLFeatureProvider> features(std::int64_t index) const = 0;
};

class MLArrayBatchProvider : public MLBatchProvider {
public:
    explicit MLArrayBatchProvider(std::vector<std::shared_ptr<MLFeatureProvider>> array)
        : array(std::move(array)) {}

    std::int64_t count() const override { return static_cast<std::int64_t>(array.size()); }
    std::shared_ptr<MLFeatureProvider> features(std::int64_t index) const override {
        if (index < 0 || index >= count())
            throw std::out_of_range("MLArrayBatchProvider: index " + std::to_string(index) +
                                    " outside a batch of " + std::to_string(count()));
        return array[static_cast<std::size_t>(index)];
    }

private:
    std::vector<std::shared_ptr<MLFeatureProvider>> array;
};

} // namespace tarnwick::platform
