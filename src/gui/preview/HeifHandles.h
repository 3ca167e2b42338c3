#pragma once

#include <libheif/heif.h>

#include <memory>

namespace marrowick {

// Owners of libheif's objects, which each free or release them when they go.
struct HeifContextFree {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HeifHandleRelease {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct HeifImageRelease {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
using HeifContext = std::unique_ptr<heif_context, HeifContextFree>;
using HeifHandle = std::unique_ptr<heif_image_handle, HeifHandleRelease>;
using HeifImage = std::unique_ptr<heif_image, HeifImageRelease>;

} // namespace marrowick
