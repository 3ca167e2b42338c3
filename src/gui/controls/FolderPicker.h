#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace marrowick {

// Asks for a folder; returns its path, or "" when the person cancelled.
using FolderPickerFunction = std::function<QString(QWidget* owner, const QString& title)>;

// The system's folder browser, unless SetFolderPicker put another in its place. It opens where the last folder
// chosen in this run lies, or in the home folder.
[[nodiscard]] QString PickFolder(QWidget* owner, const QString& title);

// Replaces the folder browser (tests answer it without a window); an empty function restores the system's.
void SetFolderPicker(FolderPickerFunction picker);

// The export's target: PickFolder's folder ending with "/", or "".
[[nodiscard]] QString BrowseForExportFolder(QWidget* owner, const QString& title);

} // namespace marrowick
