#include "core/backup/SummaryReader.h"

#include "core/backup/BinaryPlist.h"
#include "core/backup/TextConversion.h"
#include "core/backup/XmlPlist.h"
#include "core/platform/Files.h"
#include "core/platform/LocalTime.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <fcntl.h>
#include <optional>

namespace marrowick {
namespace {

std::optional<char32_t> ParseCharacterReference(std::string_view body) {
    int base = 10;
    if (body.size() > 1 && body[0] == '#' && (body[1] == 'x' || body[1] == 'X')) {
        base = 16;
        body.remove_prefix(2);
    } else if (!body.empty() && body[0] == '#') {
        body.remove_prefix(1);
    } else {
        return std::nullopt;
    }
    if (body.empty() || body.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : body) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digit);
    }
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return std::nullopt;
    }
    return static_cast<char32_t>(value);
}

std::optional<std::string> DecodeEntity(std::string_view body) {
    if (body == "amp") {
        return "&";
    }
    if (body == "lt") {
        return "<";
    }
    if (body == "gt") {
        return ">";
    }
    if (body == "quot") {
        return "\"";
    }
    if (body == "apos") {
        return "'";
    }
    const auto code = ParseCharacterReference(body);
    if (!code) {
        return std::nullopt;
    }
    std::u16string wide;
    if (*code < 0x10000) {
        wide += static_cast<char16_t>(*code);
    } else {
        wide += static_cast<char16_t>(0xD800 + ((*code - 0x10000) >> 10));
        wide += static_cast<char16_t>(0xDC00 + ((*code - 0x10000) & 0x3FF));
    }
    return WideToUtf8(wide);
}

// XML's five named entities and numeric references; anything else stays as written.
std::string DecodeCharacterReferences(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        // A reference is short: looking further for its ";" would make a text of many "&" quadratic.
        const std::size_t semicolon = text[i] == '&' ? text.substr(0, i + 13).find(';', i + 1) : std::string_view::npos;
        if (semicolon != std::string_view::npos) {
            if (const auto decoded = DecodeEntity(text.substr(i + 1, semicolon - i - 1))) {
                out += *decoded;
                i = semicolon + 1;
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

// Where key starts in plist, by the rule that keeps it out of the last key-length + 16 bytes.
std::optional<std::size_t> FindKey(std::string_view plist, std::string_view key) {
    const auto length = static_cast<std::int64_t>(plist.size());
    const auto keyLength = static_cast<std::int64_t>(key.size());
    const std::int64_t limit = length - keyLength - 16;
    if (limit <= 0 || key.empty()) {
        return std::nullopt;
    }
    const std::size_t found = plist.substr(0, static_cast<std::size_t>(limit) + key.size() - 1).find(key);
    if (found == std::string_view::npos) {
        return std::nullopt;
    }
    return found;
}

std::string StatusDateText(double appleSeconds) {
    // Beyond this a date has no calendar year that localtime can give.
    constexpr double Limit = 1.0e15;
    if (!std::isfinite(appleSeconds) || std::fabs(appleSeconds) > Limit) {
        return {};
    }
    return FormatLocalTime(static_cast<std::int64_t>(std::trunc(appleSeconds)) + AppleEpochOffset);
}

// Seconds since 1970 of "YYYY-MM-DDThh:mm:ssZ", the only form Apple's serializer writes; anything else is refused
// rather than guessed at.
std::optional<std::int64_t> ParseXmlPlistDate(std::string_view text) {
    constexpr std::string_view Form = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != Form.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < Form.size(); ++i) {
        const bool ok = Form[i] == 'd' ? text[i] >= '0' && text[i] <= '9' : text[i] == Form[i];
        if (!ok) {
            return std::nullopt;
        }
    }
    const auto number = [text](std::size_t at, std::size_t length) {
        std::int64_t value = 0;
        for (const char c : text.substr(at, length)) {
            value = value * 10 + (c - '0');
        }
        return value;
    };
    const std::chrono::year_month_day day{std::chrono::year{static_cast<int>(number(0, 4))},
                                          std::chrono::month{static_cast<unsigned>(number(5, 2))},
                                          std::chrono::day{static_cast<unsigned>(number(8, 2))}};
    const std::int64_t hour = number(11, 2);
    const std::int64_t minute = number(14, 2);
    const std::int64_t second = number(17, 2);
    if (!day.ok() || hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    const std::int64_t days = std::chrono::sys_days{day}.time_since_epoch().count();
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

std::string XmlPlistDateValue(std::string_view plist, std::string_view keyName) {
    const std::optional<std::string_view> text = XmlPlistElementText(plist, keyName, "date");
    const auto seconds = text ? ParseXmlPlistDate(*text) : std::nullopt;
    return seconds ? FormatLocalTime(*seconds) : std::string();
}

std::string InfoValue(std::string_view plist, bool binary, std::string_view keyName) {
    if (binary) {
        return ReadBinaryPlistStringValue(plist, keyName);
    }
    return ReadPlistStringValue(plist, "<key>" + std::string(keyName) + "</key>");
}

} // namespace

void BackupRecord::Reset() {
    Name.clear();
    Time.clear();
    Version.clear();
    DeviceType.clear();
    SerialNumber.clear();
    FolderPath.clear();
    ManifestKind = ManifestKindDb;
}

std::string ReadPlistStringValue(std::string_view plist, std::string_view key) {
    constexpr std::string_view Open = "<string>";
    constexpr std::string_view Close = "</string>";
    const auto keyAt = FindKey(plist, key);
    if (!keyAt) {
        return {};
    }
    std::optional<std::size_t> start;
    std::optional<std::size_t> end;
    for (std::size_t p = *keyAt + key.size(); p + Close.size() < plist.size(); ++p) {
        if (plist.compare(p, Open.size(), Open) == 0) {
            start = p;
        }
        if (plist.compare(p, Close.size(), Close) == 0) {
            end = p;
            break;
        }
    }
    if (!start || !end) {
        return {};
    }
    std::string_view value = plist.substr(*start + Open.size(), *end - *start - Open.size());
    value = value.substr(0, value.find('\0'));
    return Utf8ToAnsi(DecodeCharacterReferences(value));
}

std::string ReadBinaryPlistStringValue(std::string_view plist, std::string_view keyName) {
    const BinaryPlist reader(plist);
    const auto value = reader.DictionaryValue(reader.TopObject(), keyName);
    if (!value) {
        return {};
    }
    return Utf8ToAnsi(reader.String(*value).value_or(std::string()));
}

std::string ReadPlistDateValue(std::string_view plist, std::string_view keyName) {
    if (!BinaryPlist::IsBinary(plist)) {
        return XmlPlistDateValue(plist, keyName);
    }
    const BinaryPlist reader(plist);
    const auto value = reader.DictionaryValue(reader.TopObject(), keyName);
    const auto date = value ? reader.Date(*value) : std::nullopt;
    return date ? StatusDateText(*date) : std::string();
}

std::string StatusPlistDateText(std::string_view plist) {
    const BinaryPlist reader(plist);
    for (std::uint64_t object = 0; object < reader.ObjectCount(); ++object) {
        if (reader.Marker(object) == BinaryPlist::DateMarker) {
            const auto date = reader.Date(object);
            return date ? StatusDateText(*date) : std::string();
        }
    }
    return {};
}

namespace {

// The date of the Status.plist name in the folder open as folderFd (AT_FDCWD for a path), or "".
std::string StatusDateAt(int folderFd, const std::string& name) {
    const auto content = ReadRegularFileAt(folderFd, name, MaxSummaryFileBytes);
    return content ? StatusPlistDateText(*content) : std::string();
}

// Status.plist's date, or when it holds none (a cut-off backup, a copy without it) the date Manifest.plist, then
// Info.plist, keeps of the backup; "" when none of them has one.
std::string BackupTimeAt(int folderFd, std::string_view info) {
    std::string time = StatusDateAt(folderFd, "Status.plist");
    if (time.empty()) {
        const auto manifest = ReadRegularFileAt(folderFd, "Manifest.plist", MaxSummaryFileBytes);
        time = manifest ? ReadPlistDateValue(*manifest, "Date") : std::string();
    }
    return time.empty() ? ReadPlistDateValue(info, "Last Backup Date") : time;
}

} // namespace

std::string ReadStatusPlistDate(const std::string& path) {
    return StatusDateAt(AT_FDCWD, path);
}

bool ReadBackupSummary(BackupRecord& record, std::string folder) {
    const Result<FileDescriptor> handle = OpenFolderHandle(WithTrailingSlash(std::move(folder)));
    if (!handle) {
        return false;
    }
    const int at = handle->Get();
    if (!EntryExistsAt(at, "Info.plist")) {
        return false;
    }
    const bool hasDb = EntryExistsAt(at, "Manifest.db");
    if (!hasDb && !EntryExistsAt(at, "Manifest.mbdb")) {
        return false;
    }
    record.Reset();
    record.ManifestKind = hasDb ? ManifestKindDb : ManifestKindMbdb;
    const auto info = ReadRegularFileAt(at, "Info.plist", MaxSummaryFileBytes);
    if (!info) {
        return false;
    }
    const bool binary = BinaryPlist::IsBinary(*info);
    record.Name = InfoValue(*info, binary, "Display Name");
    record.Version = InfoValue(*info, binary, "Product Version");
    record.DeviceType = InfoValue(*info, binary, "Product Name");
    record.SerialNumber = InfoValue(*info, binary, "Serial Number");
    record.Time = BackupTimeAt(at, *info);
    return !record.Name.empty() && !record.Version.empty() && !record.SerialNumber.empty() && !record.Time.empty();
}

} // namespace marrowick
