#include "core/export/PrivateExport.h"

#include "core/platform/PrivateFolder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace marrowick {
namespace {

// Shared by the whole run: a drop target may copy its files, a viewer read them, after the export has returned.
PrivateFolder& RunFolder() {
    static PrivateFolder folder("marrowick-out");
    return folder;
}

} // namespace

std::string ExportedPath(const std::string& folder, const FileNode& entry) {
    return folder + "/" + std::string(entry.Name());
}

Result<std::string> NewPrivateExportFolder() {
    if (Result<void> made = RunFolder().Make(); !made) {
        return made.Error();
    }
    // Each export into a folder of its own, so that two entries of the same name do not meet.
    std::string folder = RunFolder().Path() + "export-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        return Failure::System(FailureStep::Create, RunFolder().Path(), errno);
    }
    return folder;
}

PrivateExportResult ExportPrivately(const FileNode& entry, const std::string& backupFolder, ManifestKind manifestKind) {
    PrivateExportResult result;
    const Result<std::string> folder = NewPrivateExportFolder();
    if (!folder) {
        result.Export.Stopped = folder.Error();
        return result;
    }
    ExportParameters parameters;
    parameters.SelectedNode = &entry;
    parameters.BackupFolder = backupFolder;
    parameters.ManifestKind = manifestKind;
    parameters.TargetFolder = *folder;
    ExportCancelled = 0;
    result.Export = RunExport(parameters);
    const std::string exported = ExportedPath(*folder, entry);
    struct stat status {};
    if (::lstat(exported.c_str(), &status) == 0) {
        result.Path = exported;
    }
    return result;
}

} // namespace marrowick
