// Loading models for the C interface: from a folder, from the two files' bytes, or from the
// default lookup. Every path ends in the same checks of the model resource.

#include <filesystem>
#include <memory>
#include <string>

#include "Platform/ModelResource.hpp"
#include "capi/Handles.hpp"
#include "capi/Status.hpp"

using namespace tarnwick;
using tarnwick::capi::fail;
using tarnwick::capi::guarded;

namespace {

tarnwick_status hand(platform::TowerWeights weights, tarnwick_model** out) {
    auto model = std::make_unique<tarnwick_model>();
    model->weights = std::make_shared<const platform::TowerWeights>(std::move(weights));
    *out = model.release();
    return TARNWICK_OK;
}

} // namespace

extern "C" {

tarnwick_status tarnwick_model_load_file(const char* folder_path, tarnwick_model** out_model) {
    return guarded([&] {
        if (!out_model) return fail(TARNWICK_INVALID_ARGUMENT, "out_model is NULL");
        *out_model = nullptr;
        if (!folder_path) return fail(TARNWICK_INVALID_ARGUMENT, "folder_path is NULL");
        return hand(platform::readModelResource(std::filesystem::path(folder_path)), out_model);
    });
}

tarnwick_status tarnwick_model_load_memory(const void* manifest, size_t manifest_size,
                                           const void* weights, size_t weights_size,
                                           tarnwick_model** out_model) {
    return guarded([&] {
        if (!out_model) return fail(TARNWICK_INVALID_ARGUMENT, "out_model is NULL");
        *out_model = nullptr;
        if (!manifest && manifest_size > 0)
            return fail(TARNWICK_INVALID_ARGUMENT, "manifest is NULL");
        if (!weights && weights_size > 0) return fail(TARNWICK_INVALID_ARGUMENT, "weights is NULL");
        const std::string manifestText(manifest ? static_cast<const char*>(manifest) : "",
                                       manifest_size);
        const std::string weightsBytes(weights ? static_cast<const char*>(weights) : "",
                                       weights_size);
        return hand(platform::parseModelResource(manifestText, weightsBytes, "model in memory"),
                    out_model);
    });
}

tarnwick_status tarnwick_model_load_default(tarnwick_model** out_model) {
    return guarded([&] {
        if (!out_model) return fail(TARNWICK_INVALID_ARGUMENT, "out_model is NULL");
        *out_model = nullptr;
        const auto folder = version0328::urlOfModelInThisBundle();
        if (!folder)
            return fail(TARNWICK_MODEL_ERROR,
                        "version0328.mlmodelc was not found beside the program or the library, "
                        "nor in the installed share/tarnwick folder");
        return hand(platform::readModelResource(*folder), out_model);
    });
}

void tarnwick_model_free(tarnwick_model* model) {
    delete model;
}

} // extern "C"
