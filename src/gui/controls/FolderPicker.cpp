#include "gui/controls/FolderPicker.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <utility>

namespace marrowick {

namespace {

FolderPickerFunction& ReplacedPicker() {
    static FolderPickerFunction picker;
    return picker;
}

QString& LastFolderChosen() {
    static QString folder;
    return folder;
}

// Where the last pick of the run ended, while it still exists; at first the top of the person's own files, as the
// desktop's browsers do; never the program's working folder.
QString StartFolder() {
    const QString& last = LastFolderChosen();
    return !last.isEmpty() && QFileInfo(last).isDir() ? last : QDir::homePath();
}

} // namespace

QString PickFolder(QWidget* owner, const QString& title) {
    if (ReplacedPicker()) {
        return ReplacedPicker()(owner, title);
    }
    QString folder = QFileDialog::getExistingDirectory(owner, title, StartFolder(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty()) {
        LastFolderChosen() = folder;
    }
    return folder;
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
