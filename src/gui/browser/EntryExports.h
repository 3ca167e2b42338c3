#pragma once

#include "core/backup/FileNode.h"
#include "core/backup/ManifestKind.h"
#include "core/export/ExportEngine.h"

#include <QPixmap>

#include <string>

class QWidget;

namespace marrowick {

// The ways an entry of one backup leaves it from the file manager: exported to a folder the person picks, copied
// into a private folder of the run for the desktop's program to open, or dragged out. The first two show the
// progress window; each tells what failed over window.
class EntryExports final {
public:
    // backupFolder ends with "/"; window outlives this.
    EntryExports(std::string backupFolder, ManifestKind manifestKind, QWidget& window);

    // Asks for a folder and exports entry into it; a null entry is told to select one first.
    void ExportToChosenFolder(const FileNode* entry);
    // "Open with...": a copy of the file, in a private folder that goes when the program ends, opened by the
    // desktop with the program it names for such files.
    void OpenWithDesktop(const FileNode& file);
    // Drags entry out of source; it is exported when the drop target asks for its files.
    void DragOut(const FileNode& entry, QWidget& source, const QPixmap& picture);

private:
    [[nodiscard]] ExportResult ExportWithProgress(const FileNode& entry, const std::string& targetFolder);
    void TellFailures(const ExportResult& result);

    std::string backupFolder_;
    ManifestKind manifestKind_;
    QWidget& window_;
};

} // namespace marrowick
