#pragma once

#include "core/backup/FileNode.h"
#include "core/search/SearchQuery.h"
#include "gui/browser/BackgroundTask.h"
#include "gui/browser/FileListModel.h"
#include "gui/browser/SearchResultsModel.h"

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <stop_token>

namespace marrowick {

// Searches a backup's tree by name for a search box: each Start replaces the search before it, whose matches then
// never reach the model, and the matches of the new one stream into Model() while the window stays responsive.
// The search runs on a CBackgroundTask; a new one starts when the one it replaces has stopped, which takes a few
// milliseconds, and nothing on the window's thread waits for that.
class CEntrySearch final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CEntrySearch)

public:
    explicit CEntrySearch(FileManagerIcons icons, QObject* parent = nullptr);
    // Stops a running search and waits for it: a few milliseconds.
    ~CEntrySearch() override;

    [[nodiscard]] SearchResultsModel* Model() const { return model_; }

    // Empties the model, stops any search, then searches the names below root (see SearchQuery for what text
    // finds). Text that finds nothing, or a null root, gives Finished(0, false) before Start returns. The tree
    // must outlive the search and the rows: Cancel and Clear the model before it goes.
    void Start(const FileNode* root, const QString& text);
    // Stops the search and returns once its worker has let go of the tree (a few milliseconds). It gives no
    // Finished, and the rows it found stay.
    void Cancel();
    // From Start until the search it started has ended or been replaced or cancelled.
    [[nodiscard]] bool Searching() const { return searching_; }

Q_SIGNALS:
    // The search has looked at every name, or stopped at the most matches it keeps (capped); count is the model's
    // rows. A search whose worker failed (memory ran out) ends with the rows it found, marked capped.
    void Finished(qsizetype count, bool capped);

    // From the worker.
    void BatchFound(std::uint64_t generation, const QList<const marrowick::FileNode*>& batch, QPrivateSignal);
    void SearchEnded(std::uint64_t generation, bool capped, bool cancelled, QPrivateSignal);

private:
    struct Request {
        const FileNode* Root = nullptr;
        SearchQuery Query;
        std::uint64_t Generation = 0;
    };

    void StartPending();
    void OnBatchFound(std::uint64_t generation, const QList<const FileNode*>& batch);
    void OnSearchEnded(std::uint64_t generation, bool capped, bool cancelled);
    void OnTaskFailed();
    void StopRunning();

    SearchResultsModel* model_;
    // Batches and ends of searches replaced since carry an older number and are dropped.
    std::uint64_t generation_ = 0;
    std::uint64_t runningGeneration_ = 0;
    bool searching_ = false;
    std::optional<Request> pending_;
    std::stop_source stop_;
    // Last, so that it is destroyed first: the worker never outlives what it uses.
    CBackgroundTask task_;
};

} // namespace marrowick
