// libFuzzer target for loading a model from memory: the parser, then the interpreter. The
// input is the manifest text, a NUL byte, then the weights bytes (an input without NUL is all
// manifest, with empty weights). Any std::exception is an accepted refusal; a crash, leak or
// sanitizer report is a bug.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>

#include "Platform/MLModel.hpp"
#include "Platform/MLMultiArray.hpp"
#include "Platform/ModelResource.hpp"

using namespace tarnwick::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const auto* split = static_cast<const char*>(std::memchr(bytes, '\0', size));
    const std::size_t manifestSize = split ? static_cast<std::size_t>(split - bytes) : size;
    const std::string manifest(bytes, manifestSize);
    const std::string weights = split ? std::string(split + 1, bytes + size) : std::string();
    try {
        // The path an app's in-memory model takes; whatever it accepts must be able to run.
        const auto network = MLModel::loadFromMemory(manifest, weights, "fuzz-input");
        auto board = MLMultiArray::create({2, 6, 7}, MLMultiArrayDataType::Double);
        if (board) {
            board->set(3, 1.0);
            board->set(42 + 10, 1.0);
            const MLDictionaryFeatureProvider input(
                {{"input1", MLFeatureValue::featureValueWithMultiArray(board)}});
            network->prediction(input, {});
        }
    } catch (const std::exception&) {
    }
    return 0;
}
