#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

namespace marrowick::testing {

// A HEIC file laid out as phones store photos: a grid image of size pixels made of columns x rows tiles, each the
// HEVC picture of tile (encoded once by libheif at quality, and shared by every tile of the grid); empty when it
// cannot be made. libheif reads such files but does not write them.
[[nodiscard]] QByteArray EncodeHeicGrid(const QImage& tile, int columns, int rows, QSize size, int quality);

} // namespace marrowick::testing
