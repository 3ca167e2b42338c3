#include "gui/controls/FolderPicker.h"

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
    return QFileDialog::getExistingDirectory(owner, title, QString(), QFileDialog::ShowDirsOnly);
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
