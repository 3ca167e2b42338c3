#include "HeicEncoding.h"

#include <libheif/heif.h>

#include <cstring>
#include <memory>

namespace marrowick::testing {
namespace {

struct HeifContextFree {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HeifEncoderRelease {
    void operator()(heif_encoder* encoder) const { heif_encoder_release(encoder); }
};
struct HeifImageRelease {
    void operator()(heif_image* image) const { heif_image_release(image); }
};

heif_error AppendBytes(heif_context* /*context*/, const void* data, std::size_t size, void* target) {
    static_cast<QByteArray*>(target)->append(static_cast<const char*>(data), static_cast<qsizetype>(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// image's pixels as a libheif RGB image.
std::unique_ptr<heif_image, HeifImageRelease> HeifPixels(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    heif_image* raw = nullptr;
    if (heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &raw).code !=
        heif_error_Ok) {
        return nullptr;
    }
    std::unique_ptr<heif_image, HeifImageRelease> pixels(raw);
    if (heif_image_add_plane(raw, heif_channel_interleaved, rgb.width(), rgb.height(), 8).code != heif_error_Ok) {
        return nullptr;
    }
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(raw, heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y) {
        std::memcpy(plane + static_cast<std::ptrdiff_t>(y) * stride, rgb.constScanLine(y),
                    static_cast<std::size_t>(rgb.width()) * 3);
    }
    return pixels;
}

} // namespace

bool CanEncodeHeic() {
    return heif_have_encoder_for_format(heif_compression_HEVC) != 0;
}

QByteArray EncodeHeic(const QImage& image, int quality) {
    const std::unique_ptr<heif_context, HeifContextFree> context(heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    if (!context ||
        heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder).code != heif_error_Ok) {
        return {};
    }
    const std::unique_ptr<heif_encoder, HeifEncoderRelease> encoder(rawEncoder);
    heif_encoder_set_lossy_quality(encoder.get(), quality);
    heif_encoder_set_parameter_string(encoder.get(), "preset", "ultrafast");
    const auto pixels = HeifPixels(image);
    if (!pixels ||
        heif_context_encode_image(context.get(), pixels.get(), encoder.get(), nullptr, nullptr).code != heif_error_Ok) {
        return {};
    }
    QByteArray bytes;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = &AppendBytes;
    if (heif_context_write(context.get(), &writer, &bytes).code != heif_error_Ok) {
        return {};
    }
    return bytes;
}

} // namespace marrowick::testing
