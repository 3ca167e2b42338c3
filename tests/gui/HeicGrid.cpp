#include "HeicGrid.h"

#include "HeicEncoding.h"

#include <QtEndian>

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace marrowick::testing {
namespace {

// ---- Writing boxes

void Append(QByteArray& bytes, std::uint64_t value, int size) {
    for (int i = size - 1; i >= 0; --i) {
        bytes.append(static_cast<char>(value >> (8U * static_cast<unsigned>(i)) & 0xFFU));
    }
}

QByteArray MakeBox(std::string_view type, const QByteArray& body) {
    QByteArray box;
    Append(box, static_cast<std::uint64_t>(body.size()) + 8, 4);
    box.append(type.data(), static_cast<qsizetype>(type.size()));
    return box + body;
}

QByteArray MakeFullBox(std::string_view type, std::uint32_t flags, const QByteArray& body, std::uint8_t version = 0) {
    QByteArray versionAndFlags;
    Append(versionAndFlags, std::uint64_t{version} << 24U | flags, 4);
    return MakeBox(type, versionAndFlags + body);
}

// ---- Reading the one-image file libheif writes

struct Box {
    std::string_view Type;
    QByteArray Body; // after the header
};

// The boxes laid one after another in bytes, or nullopt when they run past its end.
std::optional<std::vector<Box>> ReadBoxes(const QByteArray& bytes) {
    std::vector<Box> boxes;
    for (qsizetype at = 0; at < bytes.size();) {
        if (bytes.size() - at < 8) {
            return std::nullopt;
        }
        const auto size = static_cast<qsizetype>(qFromBigEndian<std::uint32_t>(bytes.constData() + at));
        if (size < 8 || size > bytes.size() - at) {
            return std::nullopt;
        }
        boxes.push_back({std::string_view(bytes.constData() + at + 4, 4), bytes.mid(at + 8, size - 8)});
        at += size;
    }
    return boxes;
}

// The body of the first box of type in bytes (a run of boxes), after skip bytes of it; nullopt when there is none.
std::optional<QByteArray> Child(const std::optional<QByteArray>& bytes, std::string_view type, qsizetype skip = 0) {
    const auto boxes = bytes ? ReadBoxes(*bytes) : std::nullopt;
    if (boxes) {
        for (const Box& box : *boxes) {
            if (box.Type == type) {
                return box.Body.mid(skip);
            }
        }
    }
    return std::nullopt;
}

std::uint64_t ReadNumber(const QByteArray& bytes, qsizetype& at, int size) {
    std::uint64_t value = 0;
    for (int i = 0; i < size && at < bytes.size(); ++i) {
        value = value << 8U | static_cast<std::uint8_t>(bytes[at++]);
    }
    return value;
}

// The (offset, length) in the file of the one item of an item location box, with one extent.
std::optional<std::pair<qsizetype, qsizetype>> OnlyExtent(const QByteArray& iloc) {
    qsizetype at = 0;
    const auto version = static_cast<int>(ReadNumber(iloc, at, 4) >> 24U);
    const auto sizes = ReadNumber(iloc, at, 2);
    const int idSize = version < 2 ? 2 : 4;
    if (ReadNumber(iloc, at, idSize) != 1) {
        return std::nullopt;
    }
    ReadNumber(iloc, at, idSize);
    if (version > 0 && (ReadNumber(iloc, at, 2) & 15U) != 0) {
        return std::nullopt; // not in the file's data
    }
    ReadNumber(iloc, at, 2);
    const std::uint64_t base = ReadNumber(iloc, at, static_cast<int>(sizes >> 4U & 15U));
    if (ReadNumber(iloc, at, 2) != 1) {
        return std::nullopt;
    }
    ReadNumber(iloc, at, version == 0 ? 0 : static_cast<int>(sizes & 15U));
    const std::uint64_t offset = base + ReadNumber(iloc, at, static_cast<int>(sizes >> 12U));
    const std::uint64_t length = ReadNumber(iloc, at, static_cast<int>(sizes >> 8U & 15U));
    return std::pair{static_cast<qsizetype>(offset), static_cast<qsizetype>(length)};
}

struct CodedPicture {
    QByteArray Configuration; // the hvcC box
    QByteArray Colour;        // the colr box, or nothing
    QByteArray Data;          // the picture's NAL units
};

std::optional<CodedPicture> ReadCodedPicture(const QByteArray& file) {
    const auto meta = Child(file, "meta", 4);
    const auto ipco = Child(Child(meta, "iprp"), "ipco");
    const auto hvcC = Child(ipco, "hvcC");
    const auto colr = Child(ipco, "colr");
    const auto iloc = Child(meta, "iloc");
    const auto extent = iloc ? OnlyExtent(*iloc) : std::nullopt;
    if (!hvcC || !extent || extent->first < 0 || extent->second > file.size() - extent->first) {
        return std::nullopt;
    }
    return CodedPicture{MakeBox("hvcC", *hvcC), colr ? MakeBox("colr", *colr) : QByteArray(),
                        file.mid(extent->first, extent->second)};
}

// ---- Writing the grid

struct Layout {
    int Columns = 0;
    int Rows = 0;
    QSize Tile;
    QSize Size;
};

// Item 1 is the grid, items 2 on its tiles, row by row.
QByteArray ItemInfo(int tiles) {
    QByteArray entries;
    Append(entries, static_cast<std::uint64_t>(tiles) + 1, 2);
    const auto entry = [&entries](int id, std::string_view type, std::uint32_t flags) {
        QByteArray body;
        Append(body, static_cast<std::uint64_t>(id), 2);
        Append(body, 0, 2);
        body.append(type.data(), 4);
        body.append('\0');
        entries.append(MakeFullBox("infe", flags, body, 2));
    };
    entry(1, "grid", 0);
    for (int id = 2; id <= tiles + 1; ++id) {
        entry(id, "hvc1", 1); // hidden: a part of the grid
    }
    return MakeFullBox("iinf", 0, entries);
}

// Every tile's extent is the one coded picture, which follows the grid's description in the data box.
QByteArray ItemLocations(int tiles, qsizetype dataStart, qsizetype pictureSize) {
    QByteArray body;
    Append(body, 0x4400, 2); // 4-byte offsets and lengths, no base offset
    Append(body, static_cast<std::uint64_t>(tiles) + 1, 2);
    for (int id = 1; id <= tiles + 1; ++id) {
        Append(body, static_cast<std::uint64_t>(id), 2);
        Append(body, 0, 2);
        Append(body, 1, 2);
        Append(body, static_cast<std::uint64_t>(id == 1 ? dataStart : dataStart + 8), 4);
        Append(body, static_cast<std::uint64_t>(id == 1 ? 8 : pictureSize), 4);
    }
    return MakeFullBox("iloc", 0, body);
}

// Properties 1 to 4: the decoder configuration, the tile's size, the grid's size and the colours, if known.
QByteArray Properties(const CodedPicture& picture, const Layout& layout, int tiles) {
    const auto spatialExtent = [](QSize size) {
        QByteArray body;
        Append(body, static_cast<std::uint64_t>(size.width()), 4);
        Append(body, static_cast<std::uint64_t>(size.height()), 4);
        return MakeFullBox("ispe", 0, body);
    };
    const QByteArray ipco = MakeBox("ipco", picture.Configuration + spatialExtent(layout.Tile) +
                                                spatialExtent(layout.Size) + picture.Colour);
    const bool colour = !picture.Colour.isEmpty();
    QByteArray associations;
    Append(associations, static_cast<std::uint64_t>(tiles) + 1, 4);
    for (int id = 1; id <= tiles + 1; ++id) {
        Append(associations, static_cast<std::uint64_t>(id), 2);
        const std::vector<std::uint64_t> properties =
            id == 1 ? std::vector<std::uint64_t>{3} : std::vector<std::uint64_t>{0x81, 2}; // 0x80: essential
        Append(associations, properties.size() + (colour ? 1 : 0), 1);
        for (const std::uint64_t property : properties) {
            Append(associations, property, 1);
        }
        if (colour) {
            Append(associations, 4, 1);
        }
    }
    return MakeBox("iprp", ipco + MakeFullBox("ipma", 0, associations));
}

QByteArray GridReferences(int tiles) {
    QByteArray body;
    Append(body, 1, 2);
    Append(body, static_cast<std::uint64_t>(tiles), 2);
    for (int id = 2; id <= tiles + 1; ++id) {
        Append(body, static_cast<std::uint64_t>(id), 2);
    }
    return MakeFullBox("iref", 0, MakeBox("dimg", body));
}

QByteArray GridDescription(const Layout& layout) {
    QByteArray grid;
    Append(grid, 0, 2); // version, flags: 16-bit sizes
    Append(grid, static_cast<std::uint64_t>(layout.Rows - 1), 1);
    Append(grid, static_cast<std::uint64_t>(layout.Columns - 1), 1);
    Append(grid, static_cast<std::uint64_t>(layout.Size.width()), 2);
    Append(grid, static_cast<std::uint64_t>(layout.Size.height()), 2);
    return grid;
}

QByteArray WriteGrid(const CodedPicture& picture, const Layout& layout) {
    const int tiles = layout.Columns * layout.Rows;
    QByteArray ftypBody("heic");
    Append(ftypBody, 0, 4);
    ftypBody.append("mif1heic");
    const QByteArray ftyp = MakeBox("ftyp", ftypBody);
    QByteArray handler;
    Append(handler, 0, 4);
    handler.append("pict");
    Append(handler, 0, 12);
    handler.append('\0');
    QByteArray primary;
    Append(primary, 1, 2);
    const QByteArray fixed = MakeFullBox("hdlr", 0, handler) + MakeFullBox("pitm", 0, primary) + ItemInfo(tiles) +
                             GridReferences(tiles) + Properties(picture, layout, tiles);
    // The locations box's size does not depend on the offsets it holds.
    const qsizetype metaSize = 12 + fixed.size() + ItemLocations(tiles, 0, 0).size();
    const qsizetype dataStart = ftyp.size() + metaSize + 8;
    const QByteArray meta = MakeFullBox("meta", 0, fixed + ItemLocations(tiles, dataStart, picture.Data.size()));
    return ftyp + meta + MakeBox("mdat", GridDescription(layout) + picture.Data);
}

} // namespace

QByteArray EncodeHeicGrid(const QImage& tile, int columns, int rows, QSize size, int quality) {
    const auto picture = ReadCodedPicture(EncodeHeic(tile, quality));
    if (!picture || columns < 1 || rows < 1 || columns * rows > 0xFFFE) {
        return {};
    }
    return WriteGrid(*picture, Layout{columns, rows, tile.size(), size});
}

} // namespace marrowick::testing
