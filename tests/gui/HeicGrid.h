#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

namespace marrowick::testing {

// A HEIC file laid out as phones store photos: a grid image of size pixels made of columns x rows tiles, each the
// HEVC picture of tile (encoded once by libheif at quality, and shared by every tile of the grid), with thumbnail
// stored beside it unless that is null; empty when it cannot be made (both must be 64 pixels or more each way,
// which libheif encodes as one picture). libheif reads such files but does not write them.
[[nodiscard]] QByteArray EncodeHeicGrid(const QImage& tile, int columns, int rows, QSize size, int quality,
                                        const QImage& thumbnail = QImage());

} // namespace marrowick::testing
