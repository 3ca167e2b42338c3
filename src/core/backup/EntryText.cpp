#include "core/backup/EntryText.h"

#include "core/platform/LocalTime.h"

#include <cstdio>
#include <ctime>
#include <iterator>

namespace marrowick {
namespace {

// Times before this are taken for "never set" rather than shown.
constexpr std::int64_t EarliestShownTime = 630720000;

} // namespace

std::string SizeText(std::uint64_t size) {
    constexpr std::uint64_t Kilobyte = 1024;
    constexpr std::uint64_t Megabyte = 1048576;
    if (size >= Megabyte) {
        return std::to_string(size / Megabyte) + " MB";
    }
    if (size >= Kilobyte) {
        return std::to_string(size / Kilobyte) + " KB";
    }
    return std::to_string(size) + " bytes";
}

std::string ReadableSizeText(std::uint64_t bytes) {
    constexpr std::uint64_t Kilobyte = 1024;
    if (bytes < Kilobyte) {
        return std::to_string(bytes) + " bytes";
    }
    constexpr const char* Units[] = {"KB", "MB", "GB"};
    std::uint64_t unit = Kilobyte;
    std::size_t index = 0;
    // Tenths in whole numbers, so that no size overflows and 1023.96 KB becomes "1.0 MB", not "1024.0 KB".
    std::uint64_t tenths = 0;
    for (;;) {
        tenths = bytes / unit * 10 + ((bytes % unit) * 10 + unit / 2) / unit;
        if (tenths < Kilobyte * 10 || index + 1 == std::size(Units)) {
            break;
        }
        unit *= Kilobyte;
        ++index;
    }
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " " + Units[index];
}

std::string TimeText(std::int64_t mtime) {
    if (mtime < EarliestShownTime) {
        return {};
    }
    std::tm local{};
    if (!ToLocalTime(mtime, local)) {
        return {};
    }
    char text[64];
    std::snprintf(text, sizeof text, "%4.4d-%2.2d-%2.2d %2.2d:%2.2d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min);
    return text;
}

} // namespace marrowick
