#pragma once

#include "core/backup/FileNode.h"
#include "core/backup/ManifestKind.h"
#include "core/export/ExportEngine.h"

#include <QList>
#include <QMimeData>
#include <QTreeView>
#include <QUrl>

#include <optional>
#include <string>

namespace marrowick {

// An entry dragged out of the file list: a drop target that asks for its files gets file URLs of a copy exported
// then into a private folder of the run, which it copies in turn. The folder goes when the program ends.
class CDragExportData final : public QMimeData {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CDragExportData)

public:
    CDragExportData(const FileNode& entry, std::string backupFolder, ManifestKind manifestKind);
    ~CDragExportData() override;

    [[nodiscard]] QStringList formats() const override;
    [[nodiscard]] bool hasFormat(const QString& mimeType) const override;
    // The export, once a drop target asked for the files.
    [[nodiscard]] const std::optional<ExportResult>& Exported() const { return exported_; }

protected:
    [[nodiscard]] QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    void Export() const;

    const FileNode& entry_;
    std::string backupFolder_;
    ManifestKind manifestKind_;
    mutable std::optional<ExportResult> exported_;
    mutable QList<QUrl> urls_;
};

// The file list, whose drags its owner makes (DragRequested), so that it knows when a drag has ended.
class CFileListView final : public QTreeView {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CFileListView)

public:
    using QTreeView::QTreeView;
    ~CFileListView() override;

Q_SIGNALS:
    void DragRequested();

protected:
    void startDrag(Qt::DropActions supportedActions) override;
};

} // namespace marrowick
