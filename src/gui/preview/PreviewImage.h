#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace marrowick {

// An image decoded from bytes in memory: JPEG, PNG and GIF through Qt's readers, HEIF/HEIC through libheif, turned
// as its orientation says. When fitInto is valid the image comes no larger than it, keeping its proportions (a JPEG
// is then decoded at a reduced scale, which is far faster). A null image, with problem (when given) saying why,
// for bytes no reader decodes or an image of more than 256 MiB of pixels.
[[nodiscard]] QImage LoadPreviewImage(const QByteArray& bytes, const QSize& fitInto, QString* problem);

// A HEIF file's stored thumbnail scaled to fill fitInto (keeping its proportions), to show while the whole image is
// decoded; a null image for other files, or when there is none.
[[nodiscard]] QImage LoadPreviewThumbnail(const QByteArray& bytes, const QSize& fitInto);

} // namespace marrowick
