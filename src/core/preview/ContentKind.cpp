#include "core/preview/ContentKind.h"

#include "core/backup/TextConversion.h"
#include "core/platform/SqliteHandles.h"
#include "core/preview/PreviewText.h"

#include <algorithm>
#include <array>
#include <string>

namespace marrowick {
namespace {

using namespace std::string_view_literals;

struct Signature {
    std::size_t Offset;
    std::string_view Bytes;
    std::string_view Type;
};

// A few kinds a backup holds besides photos, plists and databases; each signature is long enough not to be chance.
constexpr std::array Signatures{
    Signature{0, "%PDF-"sv, "PDF document"sv},
    Signature{0, "PK\x03\x04"sv, "ZIP archive"sv},
    Signature{0, "\x1F\x8B"sv, "gzip archive"sv},
    Signature{0, "OggS"sv, "Ogg audio"sv},
    Signature{0, "ID3"sv, "MP3 audio"sv},
    Signature{0, "#!AMR"sv, "AMR audio"sv},
    Signature{0, "caff"sv, "Core Audio file"sv},
    Signature{4, "ftypM4A "sv, "MPEG-4 audio"sv},
    Signature{4, "ftypqt  "sv, "QuickTime movie"sv},
    Signature{4, "ftypisom"sv, "MPEG-4 video"sv},
    Signature{4, "ftypmp42"sv, "MPEG-4 video"sv},
    Signature{0, "\x00\x00\x01\x00"sv, "Windows icon"sv},
    Signature{8, "WEBP"sv, "WebP image"sv},
};

// Major brands of HEIF files whose images are HEVC-coded, or that may be (mif1, msf1).
constexpr std::array HeifBrands{"heic"sv, "heix"sv, "heim"sv, "heis"sv, "hevc"sv, "hevx"sv, "mif1"sv, "msf1"sv};

std::string LowerExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    std::string extension(dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(), AsciiLower);
    return extension;
}

bool IsImage(std::string_view head) {
    return head.starts_with("\xFF\xD8\xFF") || head.starts_with("\x89PNG\r\n\x1A\n") || head.starts_with("GIF87a") ||
           head.starts_with("GIF89a");
}

bool IsHeif(std::string_view head) {
    return head.size() >= 12 && head.substr(4, 4) == "ftyp" &&
           std::find(HeifBrands.begin(), HeifBrands.end(), head.substr(8, 4)) != HeifBrands.end();
}

// The start of a multi-byte character that the end of the bytes read cut.
bool IsCutSequence(std::string_view tail) {
    const auto first = static_cast<unsigned char>(tail[0]);
    const std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
    return first >= 0xC2 && first <= 0xF4 && tail.size() < length &&
           std::all_of(tail.begin() + 1, tail.end(),
                       [](char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; });
}

// Text as far as head goes: a character cut by its end is let pass.
bool IsText(std::string_view head) {
    for (std::size_t at = 0; at < head.size();) {
        const auto byte = static_cast<unsigned char>(head[at]);
        if ((byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r' && byte != '\f') || byte == 0x7F) {
            return false;
        }
        const std::size_t length = Utf8SequenceLength(head, at);
        if (length == 0) {
            return IsCutSequence(head.substr(at));
        }
        at += length;
    }
    return true;
}

bool IsXmlPlist(std::string_view head) {
    const std::size_t start = head.find_first_not_of(" \t\r\n"sv, head.starts_with("\xEF\xBB\xBF") ? 3 : 0);
    if (start == std::string_view::npos) {
        return false;
    }
    const std::string_view text = head.substr(start);
    return (text.starts_with("<?xml") || text.starts_with("<!DOCTYPE plist")) &&
           text.substr(0, 1024).find("<plist") != std::string_view::npos;
}

const Signature* OtherSignature(std::string_view head) {
    for (const Signature& signature : Signatures) {
        if (head.size() >= signature.Offset && head.substr(signature.Offset).starts_with(signature.Bytes)) {
            return &signature;
        }
    }
    return nullptr;
}

ContentKind KindByName(std::string_view name) {
    const std::string extension = LowerExtension(name);
    if (extension == "jpg" || extension == "jpeg" || extension == "png" || extension == "gif") {
        return ContentKind::Image;
    }
    if (extension == "heic" || extension == "heif") {
        return ContentKind::Heic;
    }
    return ContentKind::Other;
}

} // namespace

ContentKind SniffContentKind(std::string_view head, std::string_view name) {
    if (IsImage(head)) {
        return ContentKind::Image;
    }
    if (IsHeif(head)) {
        return ContentKind::Heic;
    }
    if (head.starts_with("bplist00")) {
        return ContentKind::BinaryPlist;
    }
    if (head.starts_with(SqliteHeader)) {
        return ContentKind::Sqlite;
    }
    if (OtherSignature(head) != nullptr) {
        return ContentKind::Other;
    }
    if (!head.empty() && IsText(head)) {
        return IsXmlPlist(head) || LowerExtension(name) == "plist" ? ContentKind::XmlPlist : ContentKind::Text;
    }
    return KindByName(name);
}

std::string_view GuessFileType(std::string_view head) {
    switch (SniffContentKind(head, {})) {
    case ContentKind::Image:
        return head.starts_with("\xFF") ? "JPEG image"sv : head.starts_with("\x89") ? "PNG image"sv : "GIF image"sv;
    case ContentKind::Heic:
        return "HEIF image"sv;
    case ContentKind::BinaryPlist:
        return "binary property list"sv;
    case ContentKind::XmlPlist:
        return "XML property list"sv;
    case ContentKind::Sqlite:
        return "SQLite database"sv;
    case ContentKind::Text:
        return "text"sv;
    case ContentKind::Other:
        break;
    }
    const Signature* other = OtherSignature(head);
    return other == nullptr ? std::string_view() : other->Type;
}

} // namespace marrowick
