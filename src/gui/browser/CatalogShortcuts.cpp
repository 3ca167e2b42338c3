#include "gui/browser/CatalogShortcuts.h"

namespace marrowick {

const std::array<CatalogShortcut, 7>& CatalogShortcuts() {
    // The paths the domain mapping gives the home, camera-roll and application domains.
    static constexpr std::array<CatalogShortcut, 7> Shortcuts{{
        {"Messages", 2, "/var/mobile/Library/SMS"},
        {"Wechat", 3, "/var/mobile/Applications/com.tencent.xin"},
        {"QQ", 4, "/var/mobile/Applications/com.tencent.mqq"},
        {"Photos", 5, "/var/mobile/Media/DCIM"},
        {"Contacts", 6, "/var/mobile/Library/AddressBook"},
        {"Call History", 7, "/var/mobile/Library/CallHistoryDB"},
        {"Notes", 8, "/var/mobile/Library/Notes"},
    }};
    return Shortcuts;
}

} // namespace marrowick
