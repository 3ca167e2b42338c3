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

std::string EntryJson(const FileNode& node) {
    return JsonObject()
        .Add("name", node.Name())
        .Add("path", node.Path())
        .Add("type", node.IsFolder() ? "folder" : "file")
        .Add("size", std::uint64_t{node.Size()})
        .Add("mtime", node.MTime())
        .Add("time", TimeText(node.MTime()))
        .Add("fileID", node.FileID())
        .Text();
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
