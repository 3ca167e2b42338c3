#include "gui/controls/FolderPicker.h"

#include <QDir>
#include <QFileDialog>

#include <utility>

namespace marrowick {

namespace {

FolderPickerFunction& ReplacedPicker() {
    static FolderPickerFunction picker;
    return picker;
}

} // namespace

QString PickFolder(QWidget* owner, const QString& title) {
    if (ReplacedPicker()) {
        return ReplacedPicker()(owner, title);
    }
    // From the top of the person's own files, as the desktop's is elsewhere; never the program's working folder.
    return QFileDialog::getExistingDirectory(owner, title, QDir::homePath(), QFileDialog::ShowDirsOnly);
}

void SetFolderPicker(FolderPickerFunction picker) {
    ReplacedPicker() = std::move(picker);
}

QString BrowseForExportFolder(QWidget* owner, const QString& title) {
    QString folder = PickFolder(owner, title);
    if (!folder.isEmpty() && !folder.endsWith(u'/')) {
        folder += u'/';
    }
    return folder;
}

} // namespace marrowick
