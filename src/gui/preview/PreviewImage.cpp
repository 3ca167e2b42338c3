#include "gui/preview/PreviewImage.h"

#include "core/preview/ContentKind.h"
#include "gui/preview/HeifImage.h"

#include <QBuffer>
#include <QImageReader>

#include <cstddef>
#include <string_view>

namespace marrowick {
namespace {

// Qt's readers refuse images larger than their allocation limit, which is the same.
constexpr std::size_t MaxImageBytes = std::size_t{256} << 20;
constexpr int MaxImageMegabytes = static_cast<int>(MaxImageBytes >> 20);

QImage Fitted(const QImage& image, const QSize& fitInto) {
    if (image.isNull() || !fitInto.isValid() ||
        (image.width() <= fitInto.width() && image.height() <= fitInto.height())) {
        return image;
    }
    return image.scaled(fitInto, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QImage ReadWithQt(const QByteArray& bytes, const QSize& fitInto, QString* problem) {
    QByteArray view = QByteArray::fromRawData(bytes.constData(), bytes.size());
    QBuffer buffer(&view);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(MaxImageMegabytes);
    const QSize size = reader.size();
    // Scaled while decoding; a quarter turn from the orientation swaps the sides to fit.
    const bool turned = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    const QSize box = turned ? fitInto.transposed() : fitInto;
    if (size.isValid() && box.isValid() && (size.width() > box.width() || size.height() > box.height())) {
        reader.setScaledSize(size.scaled(box, Qt::KeepAspectRatio));
    }
    QImage image = reader.read();
    if (image.isNull() && problem != nullptr) {
        *problem = reader.errorString();
    }
    return image;
}

} // namespace

QImage LoadPreviewThumbnail(const QByteArray& bytes, const QSize& fitInto) {
    const std::string_view head(bytes.constData(), std::min<std::size_t>(bytes.size(), SniffBytes));
    if (SniffContentKind(head, {}) != ContentKind::Heic) {
        return {};
    }
    const QImage thumbnail = DecodeHeifThumbnail(bytes, MaxImageBytes);
    return thumbnail.isNull() || !fitInto.isValid()
               ? thumbnail
               : thumbnail.scaled(fitInto, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QImage LoadPreviewImage(const QByteArray& bytes, const QSize& fitInto, QString* problem) {
    const std::string_view head(bytes.constData(), std::min<std::size_t>(bytes.size(), SniffBytes));
    if (SniffContentKind(head, {}) == ContentKind::Heic) {
        return DecodeHeifImage(bytes, fitInto, MaxImageBytes, problem);
    }
    QImage image = ReadWithQt(bytes, fitInto, problem);
    // A HEIF file of a brand not known here: libheif may still read it.
    if (image.isNull() && head.size() >= 12 && head.substr(4, 4) == "ftyp") {
        image = DecodeHeifImage(bytes, fitInto, MaxImageBytes, problem);
    }
    return Fitted(image, fitInto);
}

} // namespace marrowick
