#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstddef>

namespace marrowick {

// The primary image of a HEIF file in memory, decoded by libheif with its rotation and mirroring applied; a null
// image, with problem set, when libheif cannot decode it or it would take more than maxImageBytes decoded.
[[nodiscard]] QImage DecodeHeifImage(const QByteArray& bytes, std::size_t maxImageBytes, QString* problem);

} // namespace marrowick
