#include "gui/preview/HeifImage.h"

#include "gui/preview/HeifHandles.h"

namespace marrowick {
namespace {

// Photos of phones are grids of tiles, which libheif decodes on this many threads.
constexpr int DecodingThreads = 4;

QImage Fail(QString* problem, const QString& text) {
    if (problem != nullptr) {
        *problem = text;
    }
    return {};
}

QImage Fail(QString* problem, const heif_error& error) {
    return Fail(problem, QString::fromUtf8(error.message));
}

// A context reading bytes in place (they outlive it), or null with problem set.
HeifContext ReadContext(const QByteArray& bytes, QString* problem) {
    HeifContext context(heif_context_alloc());
    if (!context) {
        Fail(problem, QStringLiteral("out of memory"));
        return nullptr;
    }
    heif_context_set_max_decoding_threads(context.get(), DecodingThreads);
    const heif_error error = heif_context_read_from_memory_without_copy(
        context.get(), bytes.constData(), static_cast<std::size_t>(bytes.size()), nullptr);
    if (error.code != heif_error_Ok) {
        Fail(problem, error);
        return nullptr;
    }
    return context;
}

HeifHandle PrimaryImage(heif_context* context, QString* problem) {
    heif_image_handle* rawHandle = nullptr;
    const heif_error error = heif_context_get_primary_image_handle(context, &rawHandle);
    HeifHandle handle(rawHandle);
    if (error.code != heif_error_Ok) {
        Fail(problem, error);
        return nullptr;
    }
    return handle;
}

QImage DecodeHandle(heif_image_handle* handle, const QSize& fitInto, std::size_t maxImageBytes, QString* problem) {
    const auto width = static_cast<std::size_t>(heif_image_handle_get_width(handle));
    const auto height = static_cast<std::size_t>(heif_image_handle_get_height(handle));
    if (width == 0 || height == 0 || width > maxImageBytes / 4 / height) {
        return Fail(problem, QStringLiteral("the image is %1 by %2 pixels, too large to show").arg(width).arg(height));
    }
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    heif_image* rawImage = nullptr;
    const heif_error error =
        heif_decode_image(handle, &rawImage, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr);
    const HeifImage image(rawImage);
    if (error.code != heif_error_Ok) {
        return Fail(problem, error);
    }
    int stride = 0;
    const uint8_t* pixels = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (pixels == nullptr) {
        return Fail(problem, QStringLiteral("libheif gave no pixels"));
    }
    const QImage view(pixels, heif_image_get_width(image.get(), heif_channel_interleaved),
                      heif_image_get_height(image.get(), heif_channel_interleaved), stride,
                      alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    // Scaled straight from libheif's pixels, or copied before they go.
    if (fitInto.isValid() && (view.width() > fitInto.width() || view.height() > fitInto.height())) {
        return view.scaled(fitInto, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    return view.convertToFormat(alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
}

} // namespace

QImage DecodeHeifImage(const QByteArray& bytes, const QSize& fitInto, std::size_t maxImageBytes, QString* problem) {
    const HeifContext context = ReadContext(bytes, problem);
    const HeifHandle primary = context ? PrimaryImage(context.get(), problem) : nullptr;
    return primary ? DecodeHandle(primary.get(), fitInto, maxImageBytes, problem) : QImage();
}

QImage DecodeHeifThumbnail(const QByteArray& bytes, std::size_t maxImageBytes) {
    const HeifContext context = ReadContext(bytes, nullptr);
    const HeifHandle primary = context ? PrimaryImage(context.get(), nullptr) : nullptr;
    heif_item_id id = 0;
    if (!primary || heif_image_handle_get_list_of_thumbnail_IDs(primary.get(), &id, 1) != 1) {
        return {};
    }
    heif_image_handle* rawThumbnail = nullptr;
    const heif_error error = heif_image_handle_get_thumbnail(primary.get(), id, &rawThumbnail);
    const HeifHandle thumbnail(rawThumbnail);
    return error.code == heif_error_Ok ? DecodeHandle(thumbnail.get(), QSize(), maxImageBytes, nullptr) : QImage();
}

} // namespace marrowick
