#pragma once

#include "core/backup/BackupTreeCache.h"
#include "core/backup/SummaryReader.h"

class QWidget;

namespace marrowick {

// OpenBackupTree for the windows: a tree not read yet is read on a worker thread while the windows keep
// painting (input waits, and a busy box names the backup when it takes a while), so that a manifest of a
// million entries never freezes the program.
[[nodiscard]] BackupTreeResult OpenBackupTreeResponsive(const BackupRecord& backup, QWidget* parent);

} // namespace marrowick
