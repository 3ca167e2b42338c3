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

// value big-endian in size bytes; those past the eighth are zero.
void Append(QByteArray& bytes, std::uint64_t value, int size) {
    for (int i = size - 1; i >= 0; --i) {
        bytes.append(i < 8 ? static_cast<char>(value >> (8U * static_cast<unsigned>(i)) & 0xFFU) : '\0');
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

// An item of the file, numbered from 1 in the order of the list.
struct Item {
    std::string_view Type;
    bool Hidden = false;
    qsizetype Offset = 0; // of its data in the data box's body
    qsizetype Length = 0;
    std::vector<std::uint8_t> Properties; // their numbers in the property box, 0x80 marking the essential ones
};

QByteArray ItemInfo(const std::vector<Item>& items) {
    QByteArray entries;
    Append(entries, items.size(), 2);
    for (std::size_t at = 0; at < items.size(); ++at) {
        QByteArray body;
        Append(body, at + 1, 2);
        Append(body, 0, 2);
        body.append(items[at].Type.data(), 4);
        body.append('\0');
        entries.append(MakeFullBox("infe", items[at].Hidden ? 1 : 0, body, 2));
    }
    return MakeFullBox("iinf", 0, entries);
}

QByteArray ItemLocations(const std::vector<Item>& items, qsizetype dataStart) {
    QByteArray body;
    Append(body, 0x4400, 2); // 4-byte offsets and lengths, no base offset
    Append(body, items.size(), 2);
    for (std::size_t at = 0; at < items.size(); ++at) {
        Append(body, at + 1, 2);
        Append(body, 0, 2);
        Append(body, 1, 2);
        Append(body, static_cast<std::uint64_t>(dataStart + items[at].Offset), 4);
        Append(body, static_cast<std::uint64_t>(items[at].Length), 4);
    }
    return MakeFullBox("iloc", 0, body);
}

QByteArray SpatialExtent(QSize size) {
    QByteArray body;
    Append(body, static_cast<std::uint64_t>(size.width()), 4);
    Append(body, static_cast<std::uint64_t>(size.height()), 4);
    return MakeFullBox("ispe", 0, body);
}

QByteArray ItemProperties(const QByteArray& properties, const std::vector<Item>& items) {
    QByteArray associations;
    Append(associations, items.size(), 4);
    for (std::size_t at = 0; at < items.size(); ++at) {
        Append(associations, at + 1, 2);
        Append(associations, items[at].Properties.size(), 1);
        for (const std::uint8_t property : items[at].Properties) {
            Append(associations, property, 1);
        }
    }
    return MakeBox("iprp", MakeBox("ipco", properties) + MakeFullBox("ipma", 0, associations));
}

QByteArray References(std::string_view type, std::uint64_t from, std::uint64_t firstTo, std::uint64_t count) {
    QByteArray body;
    Append(body, from, 2);
    Append(body, count, 2);
    for (std::uint64_t to = firstTo; to < firstTo + count; ++to) {
        Append(body, to, 2);
    }
    return MakeBox(type, body);
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

QByteArray FileStart() {
    QByteArray ftyp("heic");
    Append(ftyp, 0, 4);
    ftyp.append("mif1heic");
    QByteArray handler;
    Append(handler, 0, 4);
    handler.append("pict");
    Append(handler, 0, 12);
    handler.append('\0');
    QByteArray primary;
    Append(primary, 1, 2); // the grid
    return MakeBox("ftyp", ftyp) + MakeFullBox("hdlr", 0, handler) + MakeFullBox("pitm", 0, primary);
}

// Item 1 is the grid, items 2 on its tiles, row by row, all of them the one coded picture; the thumbnail, if any,
// comes last. Properties: 1 the tile's decoder configuration, 2 its size, 3 the grid's size, then the thumbnail's
// configuration and size, then the colours.
QByteArray WriteGrid(const CodedPicture& tile, const std::optional<CodedPicture>& thumbnail, QSize thumbnailSize,
                     const Layout& layout) {
    const int tiles = layout.Columns * layout.Rows;
    const QByteArray grid = GridDescription(layout);
    std::vector<std::uint8_t> colour;
    if (!tile.Colour.isEmpty()) {
        colour.push_back(thumbnail ? 6 : 4);
    }
    const auto with = [&colour](std::vector<std::uint8_t> properties) {
        properties.insert(properties.end(), colour.begin(), colour.end());
        return properties;
    };
    std::vector<Item> items{{"grid", false, 0, grid.size(), with({3})}};
    for (int i = 0; i < tiles; ++i) {
        items.push_back({"hvc1", true, grid.size(), tile.Data.size(), with({0x81, 2})});
    }
    QByteArray data = grid + tile.Data;
    QByteArray properties = tile.Configuration + SpatialExtent(layout.Tile) + SpatialExtent(layout.Size);
    QByteArray references = References("dimg", 1, 2, static_cast<std::uint64_t>(tiles));
    if (thumbnail) {
        items.push_back({"hvc1", false, data.size(), thumbnail->Data.size(), with({0x84, 5})});
        data += thumbnail->Data;
        properties += thumbnail->Configuration + SpatialExtent(thumbnailSize);
        references += References("thmb", items.size(), 1, 1);
    }
    const QByteArray start = FileStart();
    const qsizetype ftypSize = qFromBigEndian<std::uint32_t>(start.constData());
    const QByteArray fixed = start.mid(ftypSize) + ItemInfo(items) + MakeFullBox("iref", 0, references) +
                             ItemProperties(properties + tile.Colour, items);
    // The locations box's size does not depend on the offsets it holds.
    const qsizetype dataStart = ftypSize + 12 + fixed.size() + ItemLocations(items, 0).size() + 8;
    const QByteArray meta = MakeFullBox("meta", 0, fixed + ItemLocations(items, dataStart));
    return start.left(ftypSize) + meta + MakeBox("mdat", data);
}

} // namespace

QByteArray EncodeHeicGrid(const QImage& tile, int columns, int rows, QSize size, int quality, const QImage& thumbnail) {
    const auto picture = ReadCodedPicture(EncodeHeic(tile, quality));
    const auto small = thumbnail.isNull() ? std::nullopt : ReadCodedPicture(EncodeHeic(thumbnail, quality));
    if (!picture || (!thumbnail.isNull() && !small) || columns < 1 || rows < 1 || columns * rows > 0xFFF0) {
        return {};
    }
    return WriteGrid(*picture, small, thumbnail.size(), Layout{columns, rows, tile.size(), size});
}

} // namespace marrowick::testing
