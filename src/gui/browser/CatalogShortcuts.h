#pragma once

#include <array>
#include <string_view>

namespace marrowick {

// A "Common Catalog" item of the folder tree: a fixed way to a well-known device folder.
struct CatalogShortcut {
    std::string_view Label;
    int ImageIndex; // into the file manager's icon list
    std::string_view DevicePath;
};

inline constexpr std::string_view CatalogLabel = "Common Catalog";

// In the order of the items below "Common Catalog".
[[nodiscard]] const std::array<CatalogShortcut, 7>& CatalogShortcuts();

} // namespace marrowick
