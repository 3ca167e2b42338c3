#pragma once

#include <QString>

#include <string>

class QWidget;

// The main window's two settings commands, and the message boxes of the settings windows.
namespace marrowick {

inline constexpr auto FailedToWriteFileMessage = "Failed to write file.";

// Ctrl+A: runs the extra-locations dialog; after OK saves the locations ("Failed to write file." with the file and
// the reason when that fails). True when the backup list must be searched again (after OK, even a failed save).
[[nodiscard]] bool RunSetBackupPathCommand(QWidget* owner);

// Adds folder to the extra locations and saves them, as the extra-locations dialog would; says why when it cannot
// be added or saved. True when it was added (the backup list must be searched again).
[[nodiscard]] bool RememberBackupLocation(QWidget* owner, const std::string& folder);

// Ctrl+M: lists the first MobileSync folder, tells each problem met doing so, runs the relocation dialog (which
// relocates on OK). True when the backup list must be searched again (after OK).
[[nodiscard]] bool RunRelocationCommand(QWidget* owner);

// A warning of the settings windows: an empty caption and the exclamation icon.
void ShowSettingsWarning(QWidget* owner, const QString& text, const QString& details = QString());

} // namespace marrowick
