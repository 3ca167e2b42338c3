#pragma once

#include <QByteArray>
#include <QImage>

namespace marrowick::testing {

// True when this libheif has an HEVC encoder (x265), so that HEIC files can be made.
[[nodiscard]] bool CanEncodeHeic();

// The HEIC file of image, encoded by libheif at quality (0 to 100) with the encoder's fastest preset, with a
// thumbnail whose longer side is thumbnailSide when that is not 0, as phones store one; empty when it cannot be
// encoded.
[[nodiscard]] QByteArray EncodeHeic(const QImage& image, int quality, int thumbnailSide = 0);

} // namespace marrowick::testing
