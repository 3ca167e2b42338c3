#include "HeicEncoding.h"

#include "gui/preview/HeifHandles.h"

#include <algorithm>
#include <memory>
#include <tuple>

namespace marrowick::testing {
namespace {

struct HeifEncoderRelease {
    void operator()(heif_encoder* encoder) const { heif_encoder_release(encoder); }
};

heif_error AppendBytes(heif_context* /*context*/, const void* data, std::size_t size, void* target) {
    static_cast<QByteArray*>(target)->append(static_cast<const char*>(data), static_cast<qsizetype>(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// image's pixels as a libheif YCbCr 4:2:0 image (full range BT.601), as phones store photos: given RGB, libheif
// would encode 4:4:4, which decodes far slower.
HeifImage HeifPixels(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    const int width = rgb.width() & ~1;
    const int height = rgb.height() & ~1;
    heif_image* raw = nullptr;
    if (heif_image_create(width, height, heif_colorspace_YCbCr, heif_chroma_420, &raw).code != heif_error_Ok) {
        return nullptr;
    }
    HeifImage pixels(raw);
    for (const auto& [channel, w, h] :
         {std::tuple{heif_channel_Y, width, height}, std::tuple{heif_channel_Cb, width / 2, height / 2},
          std::tuple{heif_channel_Cr, width / 2, height / 2}}) {
        if (heif_image_add_plane(raw, channel, w, h, 8).code != heif_error_Ok) {
            return nullptr;
        }
    }
    int yStride = 0;
    int cbStride = 0;
    int crStride = 0;
    uint8_t* luma = heif_image_get_plane(raw, heif_channel_Y, &yStride);
    uint8_t* cb = heif_image_get_plane(raw, heif_channel_Cb, &cbStride);
    uint8_t* cr = heif_image_get_plane(raw, heif_channel_Cr, &crStride);
    const auto byte = [](double value) { return static_cast<uint8_t>(std::clamp(value + 0.5, 0.0, 255.0)); };
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            luma[y * yStride + x] = byte(0.299 * qRed(line[x]) + 0.587 * qGreen(line[x]) + 0.114 * qBlue(line[x]));
        }
    }
    for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < width / 2; ++x) {
            double r = 0;
            double g = 0;
            double b = 0;
            for (const QRgb pixel : {rgb.pixel(2 * x, 2 * y), rgb.pixel(2 * x + 1, 2 * y), rgb.pixel(2 * x, 2 * y + 1),
                                     rgb.pixel(2 * x + 1, 2 * y + 1)}) {
                r += qRed(pixel) / 4.0;
                g += qGreen(pixel) / 4.0;
                b += qBlue(pixel) / 4.0;
            }
            cb[y * cbStride + x] = byte(128 - 0.168736 * r - 0.331264 * g + 0.5 * b);
            cr[y * crStride + x] = byte(128 + 0.5 * r - 0.418688 * g - 0.081312 * b);
        }
    }
    return pixels;
}

} // namespace

bool CanEncodeHeic() {
    return heif_have_encoder_for_format(heif_compression_HEVC) != 0;
}

QByteArray EncodeHeic(const QImage& image, int quality, int thumbnailSide) {
    const HeifContext context(heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    if (!context ||
        heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder).code != heif_error_Ok) {
        return {};
    }
    const std::unique_ptr<heif_encoder, HeifEncoderRelease> encoder(rawEncoder);
    heif_encoder_set_lossy_quality(encoder.get(), quality);
    heif_encoder_set_parameter_string(encoder.get(), "preset", "ultrafast");
    const auto pixels = HeifPixels(image);
    heif_image_handle* rawPrimary = nullptr;
    if (!pixels || heif_context_encode_image(context.get(), pixels.get(), encoder.get(), nullptr, &rawPrimary).code !=
                       heif_error_Ok) {
        return {};
    }
    const HeifHandle primary(rawPrimary);
    heif_image_handle* rawThumbnail = nullptr;
    if (thumbnailSide > 0 && heif_context_encode_thumbnail(context.get(), pixels.get(), primary.get(), encoder.get(),
                                                           nullptr, thumbnailSide, &rawThumbnail)
                                     .code != heif_error_Ok) {
        return {};
    }
    const HeifHandle thumbnail(rawThumbnail);
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
