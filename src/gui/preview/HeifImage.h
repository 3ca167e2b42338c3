#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <cstddef>

namespace marrowick {

// The primary image of a HEIF file in memory, decoded by libheif with its rotation and mirroring applied, and
// scaled to fit into fitInto when that is valid; a null image, with problem set, when libheif cannot decode it or
// it would take more than maxImageBytes decoded.
[[nodiscard]] QImage DecodeHeifImage(const QByteArray& bytes, const QSize& fitInto, std::size_t maxImageBytes,
                                     QString* problem);

// The first thumbnail stored with a HEIF file's primary image (phones store one of a few hundred pixels), decoded;
// a null image when there is none or it does not decode.
[[nodiscard]] QImage DecodeHeifThumbnail(const QByteArray& bytes, std::size_t maxImageBytes);

} // namespace marrowick
