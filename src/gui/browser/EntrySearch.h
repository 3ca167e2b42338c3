#pragma once

#include "core/backup/FileNode.h"
#include "core/search/EntrySearch.h"
#include "core/search/NameIndex.h"
#include "core/search/SearchQuery.h"
#include "gui/browser/BackgroundTask.h"
#include "gui/browser/SearchResultsModel.h"

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>

namespace marrowick {

// Searches a backup's tree by name for a search box: each Start replaces the search before it, whose matches then
// never reach the model, and the matches of the new one stream into Model() while the window stays responsive.
// The search runs on a CBackgroundTask; a new one starts when the one it replaces has stopped, which takes a few
// milliseconds, and nothing on the window's thread waits for that. The first search of a tree (or Prepare) reads
// its names into a NameIndex, testing them as they come (under a second for a million entries); later searches
// of that tree go through the index in milliseconds.
class CEntrySearch final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CEntrySearch)

public:
    // The search fills results, which it takes as its child.
    explicit CEntrySearch(SearchResultsModel* results, QObject* parent = nullptr);
    // Stops a running search and waits for it: a few milliseconds.
    ~CEntrySearch() override;

    [[nodiscard]] SearchResultsModel* Model() const { return model_; }

    // Empties the model, stops any search, then searches the names below root (see SearchQuery for what text
    // finds). Text that finds nothing, or a null root, gives Finished(0, false) before Start returns. The tree
    // must outlive the search, the rows and the index: Cancel and Clear the model before it goes.
    void Start(const FileNode* root, const QString& text);
    // Reads the names below root into the index in the background, so that the first search need not, unless
    // they are read already or a search runs.
    void Prepare(const FileNode* root);
    // Stops the search, forgets the index and returns once the worker has let go of the tree (a few
    // milliseconds). It gives no Finished, and the rows found stay.
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
    void IndexBuilt(std::uint64_t treeGeneration, const std::shared_ptr<const marrowick::NameIndex>& index,
                    QPrivateSignal);

private:
    struct Request {
        const FileNode* Root = nullptr;
        SearchQuery Query;
        std::uint64_t Generation = 0;
        std::shared_ptr<const NameIndex> Index; // null until the tree's names are read
    };

    void StartPending();
    void OnBatchFound(std::uint64_t generation, const QList<const FileNode*>& batch);
    void OnSearchEnded(std::uint64_t generation, bool capped, bool cancelled);
    void OnTaskFailed();
    void OnIndexBuilt(std::uint64_t treeGeneration, const std::shared_ptr<const NameIndex>& index);
    [[nodiscard]] SearchBatchFunction Deliverer(std::uint64_t generation);
    void ReadIndexAndSearch(const Request& request, const std::stop_token& stop, const std::stop_token& forget,
                            std::uint64_t treeGeneration);
    void StopRunning();

    SearchResultsModel* model_;
    // Batches and ends of searches replaced since carry an older number and are dropped.
    std::uint64_t generation_ = 0;
    std::uint64_t runningGeneration_ = 0;
    bool searching_ = false;
    std::optional<Request> pending_;
    std::stop_source stop_;
    // Cancel forgets the index, and one still being read is dropped when it comes.
    std::shared_ptr<const NameIndex> index_;
    std::uint64_t treeGeneration_ = 0;
    std::stop_source forget_;
    // Last, so that it is destroyed first: the worker never outlives what it uses.
    CBackgroundTask task_;
};

} // namespace marrowick
