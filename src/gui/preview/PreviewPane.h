#pragma once

#include "core/backup/FileNode.h"
#include "core/backup/ManifestKind.h"
#include "gui/browser/NewestJobs.h"
#include "gui/preview/PreviewContent.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QStackedWidget;
class QTableWidget;

namespace marrowick {

// Shows the selected entry of a backup without exporting it: an image, text (property lists as XML), a database's
// tables, or the first bytes in hexadecimal. Content is read and decoded on a worker while the window goes on; a
// busy indicator shows when that takes a moment, and only the newest entry's result is ever shown, without waiting
// for a photo before it to be decoded (CNewestJobs). Nothing is written to disk.
class CPreviewPane final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CPreviewPane)

public:
    enum class Page { Message, Busy, Image, Text, Table, Bytes };

    explicit CPreviewPane(QWidget* parent = nullptr);
    // Stops a read in progress and waits for the workers, which may be decoding an image.
    ~CPreviewPane() override;

    // Shows node (null: nothing) of the backup in backupFolder ("/" at its end). The node is copied: its tree may
    // go while the worker reads.
    void ShowEntry(const FileNode* node, const std::string& backupFolder, ManifestKind manifestKind);

    [[nodiscard]] Page CurrentPage() const;
    // From ShowEntry (or a choice of table) until its result is shown.
    [[nodiscard]] bool Loading() const { return wanted_ != shown_; }

Q_SIGNALS:
    // The newest entry's content (or why there is none), or another table's rows, is on screen.
    void Shown();
    // A photo's stored thumbnail is on screen while the photo itself is decoded; Shown follows.
    void ThumbnailShown();
    // From the worker: what request made, or showed early (content->Early).
    void Made(const std::shared_ptr<marrowick::PreviewContent>& content, std::uint64_t request, QPrivateSignal);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    using Job = std::function<PreviewContent(const std::stop_token& stop, const EarlyContent& early)>;

    void BuildPages();
    // Runs job for a new request, whose result replaces those of the jobs before.
    void Request(Job job, bool readsDatabase);
    void OnMade(const std::shared_ptr<PreviewContent>& content, std::uint64_t request);
    void OnFailed(std::uint64_t request, const QString& what);
    void Display(PreviewContent& content);
    void DisplayRows(const PreviewContent& content);
    void ShowMessage(const QString& text);
    void ShowScaledImage();
    void OnTableChosen(int table);
    [[nodiscard]] QSize ImageBox() const;

    QStackedWidget* pages_ = nullptr;
    QLabel* message_ = nullptr;
    QLabel* image_ = nullptr;
    QPlainTextEdit* text_ = nullptr;
    QComboBox* tables_ = nullptr;
    QTableWidget* rows_ = nullptr;
    QPlainTextEdit* bytes_ = nullptr;
    QLabel* note_ = nullptr;
    QTimer busyTimer_;

    QImage shownImage_;
    std::shared_ptr<SqlitePreview> database_;
    std::uint64_t wanted_ = 0; // the newest request
    std::uint64_t shown_ = 0;  // the request whose result is on screen
    std::stop_source stop_;
    // Last, so that it is destroyed first: a worker never outlives what it uses.
    CNewestJobs jobs_;
};

} // namespace marrowick
