#pragma once

#include "core/backup/EntryRecord.h"
#include "core/backup/ManifestKind.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace marrowick {

// One file or folder of a backup. Nodes live in the BackupTree that made them; every link is non-owning.
class FileNode final {
public:
    FileNode() = default;

    // Device path: "/"-separated, beginning with "/var", no trailing "/".
    [[nodiscard]] std::string_view Path() const { return {path_, pathLength_}; }
    // The text after the last "/" of Path.
    [[nodiscard]] std::string_view Name() const { return Path().substr(nameOffset_); }
    // 40 lowercase hexadecimal digits naming the stored file; empty for the root and for implied folders.
    [[nodiscard]] std::string_view FileID() const { return {fileId_, fileIdLength_}; }
    // The manifest's flags text: "1" file, "2" folder, "4" link in Manifest.db.
    [[nodiscard]] std::string_view Flags() const { return {flags_, flagsLength_}; }
    // Type and permission bits as in st_mode: the record's, or made from Flags when the entry has no record.
    [[nodiscard]] std::uint32_t Mode() const { return mode_; }
    [[nodiscard]] bool IsFolder() const { return (mode_ & EntryRecord::TypeMask) == EntryRecord::FolderType; }
    [[nodiscard]] bool IsLink() const { return (mode_ & EntryRecord::TypeMask) == EntryRecord::LinkType; }
    // False when the manifest holds no readable record of the entry: size and time then come from the stored file.
    [[nodiscard]] bool HasRecord() const { return hasRecord_ != 0; }
    [[nodiscard]] std::uint64_t Size() const { return size_; }
    // Seconds since 1970-01-01 UTC.
    [[nodiscard]] std::int64_t MTime() const { return mtime_; }
    [[nodiscard]] std::int64_t BirthTime() const { return birth_; }
    // Where a link points on the device; empty for anything else.
    [[nodiscard]] std::string_view LinkTarget() const { return {target_, targetLength_}; }
    [[nodiscard]] std::uint32_t ProtectionClass() const { return protectionClass_; }
    // The wrapped key of the stored content as the record holds it, or empty; only the core reads it.
    [[nodiscard]] std::string_view EncryptionKey() const { return {key_, keyLength_}; }

    // Children are linked in ascending unsigned byte order of Name, no two with the same name.
    [[nodiscard]] const FileNode* FirstChild() const { return firstChild_; }
    [[nodiscard]] const FileNode* NextSibling() const { return nextSibling_; }
    [[nodiscard]] const FileNode* Parent() const { return parent_; }

private:
    friend class BackupTree;
    friend class ChildLinker;
    friend class SortedChildIndex;
    friend class StoredFileLookup;

    const char* path_ = nullptr;
    const char* fileId_ = nullptr;
    const char* flags_ = nullptr;
    const char* target_ = nullptr;
    const char* key_ = nullptr;
    std::uint64_t size_ = 0;
    std::int64_t mtime_ = 0;
    std::int64_t birth_ = 0;
    std::uint32_t pathLength_ = 0;
    std::uint32_t nameOffset_ = 0;
    std::uint32_t targetLength_ = 0;
    std::uint32_t childCount_ = 0;
    std::uint16_t mode_ = 0;
    std::uint8_t fileIdLength_ = 0;
    std::uint8_t flagsLength_ = 0;
    std::uint8_t keyLength_ = 0;
    std::uint8_t protectionClass_ = 0;
    std::uint8_t hasRecord_ = 0;
    FileNode* firstChild_ = nullptr;
    FileNode* nextSibling_ = nullptr;
    FileNode* parent_ = nullptr;
    FileNode* lastChild_ = nullptr;
};

// One manifest entry as a reader hands it to InsertIntoTree; the tree copies what it keeps.
struct FileEntry {
    std::string_view Path;
    std::string_view FileID;
    std::string_view Flags;
    // The manifest's record of the entry, or null when it holds none that can be read.
    const EntryRecord* Record = nullptr;
};

// True when path begins with folder followed by "/".
[[nodiscard]] bool IsUnder(std::string_view path, std::string_view folder);

// The node below root (root included) whose Path equals path byte for byte, or null.
[[nodiscard]] const FileNode* FindNode(const FileNode* root, std::string_view path);
// The same in the tree of CurrentRoot.
[[nodiscard]] const FileNode* FindNode(std::string_view path);

// The tree of the backup that is being read or shown; null until one is opened. Owned by BackupTreeCache.
extern const FileNode* CurrentRoot;
// The folder of the backup being opened, ending with "/".
extern std::string CurrentBackupPath;
// ManifestKindDb or ManifestKindMbdb for the backup being opened.
extern ManifestKind CurrentManifestKind;

} // namespace marrowick
