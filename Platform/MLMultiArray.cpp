#include "Platform/MLMultiArray.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

namespace tarnwick::platform {

std::size_t byteSize(MLMultiArrayDataType type) {
    switch (type) {
    case MLMultiArrayDataType::Double: return sizeof(double);
    case MLMultiArrayDataType::Float32: return sizeof(float);
    case MLMultiArrayDataType::Int32: return sizeof(std::int32_t);
    }
    return sizeof(double);
}

namespace {
// Larger arrays than this are refused rather than attempted: no model of ours needs them. Where
// size_t has 32 bits (WebAssembly), the byte count must also fit it, or it would wrap to a small
// allocation behind a large count.
constexpr std::int64_t maxBytes =
    std::min<std::uint64_t>(std::uint64_t{1} << 34, std::numeric_limits<std::size_t>::max() / 2);
} // namespace

std::shared_ptr<MLMultiArray> MLMultiArray::create(std::vector<std::int64_t> shape,
                                                   MLMultiArrayDataType dataType) {
    const auto elementBytes = static_cast<std::int64_t>(byteSize(dataType));
    std::int64_t count = 1;
    for (auto dim : shape) {
        if (dim < 0) return nullptr;
        if (dim != 0 && count > maxBytes / elementBytes / dim) return nullptr;
        count *= dim;
    }
    std::unique_ptr<std::byte[]> storage(new (std::nothrow)
                                             std::byte[static_cast<std::size_t>(count * elementBytes) + 1]);
    if (!storage) return nullptr;
    std::memset(storage.get(), 0, static_cast<std::size_t>(count * elementBytes));
    try {
        return std::make_shared<MLMultiArray>(std::move(shape), dataType, count, std::move(storage));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

MLMultiArray::MLMultiArray(std::vector<std::int64_t> shape, MLMultiArrayDataType dataType,
                           std::int64_t count, std::unique_ptr<std::byte[]> storage)
    : shape_(std::move(shape)), strides_(shape_.size(), 1), dataType_(dataType), count_(count),
      storage_(std::move(storage)) {
    for (std::size_t i = shape_.size(); i-- > 1;) strides_[i - 1] = strides_[i] * shape_[i];
}

void MLMultiArray::checkIndex(std::int64_t index) const {
    if (index < 0 || index >= count_)
        throw std::out_of_range("MLMultiArray: index " + std::to_string(index) +
                                " outside 0..." + std::to_string(count_));
}

double MLMultiArray::operator[](std::int64_t index) const {
    checkIndex(index);
    const auto i = static_cast<std::size_t>(index);
    switch (dataType_) {
    case MLMultiArrayDataType::Double: return static_cast<const double*>(dataPointer())[i];
    case MLMultiArrayDataType::Float32: return static_cast<const float*>(dataPointer())[i];
    case MLMultiArrayDataType::Int32: return static_cast<const std::int32_t*>(dataPointer())[i];
    }
    return 0.0;
}

void MLMultiArray::set(std::int64_t index, double value) {
    checkIndex(index);
    const auto i = static_cast<std::size_t>(index);
    switch (dataType_) {
    case MLMultiArrayDataType::Double: static_cast<double*>(dataPointer())[i] = value; break;
    case MLMultiArrayDataType::Float32:
        static_cast<float*>(dataPointer())[i] = static_cast<float>(value);
        break;
    case MLMultiArrayDataType::Int32:
        // Out-of-range conversions are undefined; saturate instead.
        if (!(value == value)) value = 0;
        if (value > std::numeric_limits<std::int32_t>::max()) value = std::numeric_limits<std::int32_t>::max();
        if (value < std::numeric_limits<std::int32_t>::min()) value = std::numeric_limits<std::int32_t>::min();
        static_cast<std::int32_t*>(dataPointer())[i] = static_cast<std::int32_t>(value);
        break;
    }
}

std::int64_t MLMultiArray::linearIndex(const std::vector<std::int64_t>& index) const {
    if (index.size() != shape_.size())
        throw std::out_of_range("MLMultiArray: index of rank " + std::to_string(index.size()) +
                                " for an array of rank " + std::to_string(shape_.size()));
    std::int64_t linear = 0;
    for (std::size_t d = 0; d < index.size(); ++d) {
        if (index[d] < 0 || index[d] >= shape_[d])
            throw std::out_of_range("MLMultiArray: index " + std::to_string(index[d]) +
                                    " outside dimension " + std::to_string(d));
        linear += index[d] * strides_[d];
    }
    return linear;
}

double MLMultiArray::operator[](const std::vector<std::int64_t>& index) const {
    return (*this)[linearIndex(index)];
}

void MLMultiArray::set(const std::vector<std::int64_t>& index, double value) {
    set(linearIndex(index), value);
}

} // namespace tarnwick::platform
