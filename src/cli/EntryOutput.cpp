#include "cli/EntryOutput.h"

#include "cli/Json.h"
#include "core/backup/EntryText.h"

#include <ostream>

namespace marrowick::cli {

std::string ManifestName(ManifestKind manifestKind) {
    return manifestKind == ManifestKindDb ? "Manifest.db" : "Manifest.mbdb";
}

JsonObject BackupJson(const BackupRecord& backup) {
    JsonObject object;
    object.Add("name", backup.Name)
        .Add("time", backup.Time)
        .Add("version", backup.Version)
        .Add("deviceType", backup.DeviceType)
        .Add("serialNumber", backup.SerialNumber)
        .Add("folder", backup.FolderPath)
        .Add("manifest", ManifestName(backup.ManifestKind));
    return object;
}

std::string_view EntryTypeName(const FileNode& node) {
    if (node.IsFolder()) {
        return "folder";
    }
    return node.IsLink() ? "link" : "file";
}

std::string EntryJson(const FileNode& node, ContentPresence& presence) {
    JsonObject object;
    object.Add("name", node.Name())
        .Add("path", node.Path())
        .Add("type", EntryTypeName(node))
        .Add("size", node.Size())
        .Add("mtime", node.MTime())
        .Add("time", TimeText(node.MTime()))
        .Add("birth", node.BirthTime())
        .Add("mode", std::uint64_t{node.Mode()})
        .Add("fileID", node.FileID());
    if (node.IsLink()) {
        object.Add("target", node.LinkTarget());
    } else if (!node.IsFolder()) {
        object.Add("present", presence.Holds(node));
    }
    return object.Text();
}

JsonArrayWriter::JsonArrayWriter(std::ostream& out) : out_(out) {
    out_ << '[';
}

JsonArrayWriter::~JsonArrayWriter() {
    out_ << (first_ ? "]\n" : "\n]\n");
}

void JsonArrayWriter::Add(const std::string& element) {
    out_ << (first_ ? "\n" : ",\n") << element;
    first_ = false;
}

} // namespace marrowick::cli
