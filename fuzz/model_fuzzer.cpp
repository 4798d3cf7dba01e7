// libFuzzer target for loading a model from memory: the parser, then the interpreter. The
// input is the manifest text, a NUL byte, then the weights bytes (an input without NUL is all manifest, with empty weights). Any
// std::exception is an accepted refusal; a crash, leak or sanitizer report is a bug, and so
// is an accepted model that answers a value or score that is not finite.
//
// Each input is parsed on a thread with a phone's 512 KiB stack, so deeply nested manifests
// (corpus: deep-manifest) overflow here if they would overflow there; the corpus also holds
// weights of extreme and of large but acceptable sizes (extreme-weights, large-weights).

#include <pthread.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>

#include "Platform/MLModel.hpp"
#include "Platform/MLMultiArray.hpp"
#include "Platform/ModelResource.hpp"

using namespace tarnwick::platform;

namespace {

struct Input {
    std::string manifest;
    std::string weights;
};

bool finite(const MLFeatureProvider& output, const char* name) {
    const auto value = output.featureValue(name);
    const auto array = value ? value->multiArrayValue() : nullptr;
    if (!array) return false;
    for (std::int64_t i = 0; i < array->count(); ++i)
        if (!std::isfinite((*array)[i])) return false;
    return true;
}

void* run(void* raw) {
    const auto& input = *static_cast<const Input*>(raw);
    try {
        // The path an app's in-memory model takes; whatever it accepts must run, finitely.
        const auto network = MLModel::loadFromMemory(input.manifest, input.weights, "fuzz-input");
        auto board = MLMultiArray::create({2, 6, 7}, MLMultiArrayDataType::Double);
        if (board) {
            for (std::int64_t i = 0; i < 84; i += 5) board->set(i, 1.0);
            const MLDictionaryFeatureProvider features(
                {{"input1", MLFeatureValue::featureValueWithMultiArray(board)}});
            const auto output = network->prediction(features, {});
            if (!finite(*output, "output1") || !finite(*output, "output2")) __builtin_trap();
        }
    } catch (const std::exception&) {
    }
    return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const auto* split = static_cast<const char*>(std::memchr(bytes, '\0', size));
    const std::size_t manifestSize = split ? static_cast<std::size_t>(split - bytes) : size;
    Input input{std::string(bytes, manifestSize),
                split ? std::string(split + 1, bytes + size) : std::string()};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 512 * 1024);
    pthread_t thread;
    if (pthread_create(&thread, &attributes, run, &input) == 0)
        pthread_join(thread, nullptr);
    else
        run(&input);
    pthread_attr_destroy(&attributes);
    return 0;
}
