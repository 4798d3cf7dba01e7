#pragma once
// Dense multi-dimensional array of numbers, the unit of data exchanged with a model.
// Storage is contiguous with the last dimension fastest; element types are fixed at creation.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tarnwick::platform {

enum class MLMultiArrayDataType { Double, Float32, Int32 };

std::size_t byteSize(MLMultiArrayDataType type);

class MLMultiArray {
public:
    // Empty result when the shape is invalid (a negative dimension, an element count that
    // overflows) or the storage cannot be allocated.
    static std::shared_ptr<MLMultiArray> create(std::vector<std::int64_t> shape,
                                                MLMultiArrayDataType dataType);

    const std::vector<std::int64_t>& shape() const { return shape_; }
    const std::vector<std::int64_t>& strides() const { return strides_; }
    MLMultiArrayDataType dataType() const { return dataType_; }
    std::int64_t count() const { return count_; }

    void* dataPointer() { return storage_.get(); }
    const void* dataPointer() const { return storage_.get(); }

    // Element at a linear position, converted to double; throws std::out_of_range.
    double operator[](std::int64_t index) const;
    void set(std::int64_t index, double value);
    // Element at a full multi-index; throws std::out_of_range on a wrong rank or index.
    double operator[](const std::vector<std::int64_t>& index) const;
    void set(const std::vector<std::int64_t>& index, double value);

    MLMultiArray(std::vector<std::int64_t> shape, MLMultiArrayDataType dataType, std::int64_t count,
                 std::unique_ptr<std::byte[]> storage);

private:
    std::int64_t linearIndex(const std::vector<std::int64_t>& index) const;
    void checkIndex(std::int64_t index) const;

    std::vector<std::int64_t> shape_;
    std::vector<std::int64_t> strides_;
    MLMultiArrayDataType dataType_;
    std::int64_t count_;
    std::unique_ptr<std::byte[]> storage_;
};

} // namespace tarnwick::platform
