#include "gui/browser/EntrySearch.h"

#include <new>
#include <span>
#include <string>
#include <utility>

namespace marrowick {
namespace {

// Names read between two checks for Cancel: about ten milliseconds' worth.
constexpr std::size_t NamesPerRead = 16384;

} // namespace

CEntrySearch::CEntrySearch(SearchResultsModel* results, QObject* parent) : QObject(parent), model_(results) {
    model_->setParent(this);
    connect(this, &CEntrySearch::BatchFound, this, &CEntrySearch::OnBatchFound, Qt::QueuedConnection);
    connect(this, &CEntrySearch::SearchEnded, this, &CEntrySearch::OnSearchEnded, Qt::QueuedConnection);
    connect(this, &CEntrySearch::IndexBuilt, this, &CEntrySearch::OnIndexBuilt, Qt::QueuedConnection);
    connect(&task_, &CBackgroundTask::Failed, this, &CEntrySearch::OnTaskFailed);
    connect(&task_, &CBackgroundTask::Finished, this, &CEntrySearch::StartPending);
}

CEntrySearch::~CEntrySearch() {
    stop_.request_stop();
    forget_.request_stop();
    task_.Wait();
}

void CEntrySearch::Start(const FileNode* root, const QString& text) {
    StopRunning();
    model_->Clear();
    SearchQuery query(text.toStdString());
    if (root == nullptr || query.Empty()) {
        searching_ = false;
        Q_EMIT Finished(0, false);
        return;
    }
    searching_ = true;
    pending_ = Request{root, std::move(query), generation_, index_ && index_->Root() == root ? index_ : nullptr};
    if (!task_.Running()) {
        StartPending();
    }
}

void CEntrySearch::Prepare(const FileNode* root) {
    if (root == nullptr || (index_ && index_->Root() == root) || task_.Running()) {
        return;
    }
    pending_ = Request{root, SearchQuery(""), 0, nullptr};
    StartPending();
}

void CEntrySearch::Cancel() {
    StopRunning();
    searching_ = false;
    forget_.request_stop();
    index_.reset();
    ++treeGeneration_;
    task_.Wait();
}

void CEntrySearch::StopRunning() {
    ++generation_;
    pending_.reset();
    stop_.request_stop();
}

void CEntrySearch::StartPending() {
    if (!pending_) {
        return;
    }
    Request request = std::move(*std::exchange(pending_, std::nullopt));
    if (request.Index == nullptr && index_ && index_->Root() == request.Root) {
        request.Index = index_; // read by the search this one replaced
    }
    stop_ = std::stop_source();
    if (forget_.stop_requested()) {
        forget_ = std::stop_source();
    }
    runningGeneration_ = request.Generation;
    task_.Start([this, request = std::move(request), stop = stop_.get_token(), forget = forget_.get_token(),
                 treeGeneration = treeGeneration_] {
        if (request.Index == nullptr) {
            ReadIndexAndSearch(request, stop, forget, treeGeneration);
            return;
        }
        const SearchOutcome outcome = SearchNames(*request.Index, request.Query, stop, Deliverer(request.Generation));
        Q_EMIT SearchEnded(request.Generation, outcome.Capped, outcome.Cancelled, QPrivateSignal());
    });
}

SearchBatchFunction CEntrySearch::Deliverer(std::uint64_t generation) {
    return [this, generation](std::span<const FileNode* const> matches) {
        Q_EMIT BatchFound(generation, QList<const FileNode*>(matches.begin(), matches.end()), QPrivateSignal());
    };
}

// On the worker: the names are read whole even when the search is replaced meanwhile, as the next one needs them.
void CEntrySearch::ReadIndexAndSearch(const Request& request, const std::stop_token& stop,
                                      const std::stop_token& forget, std::uint64_t treeGeneration) {
    auto index = std::make_shared<NameIndex>(*request.Root);
    const SearchBatchFunction deliver = Deliverer(request.Generation);
    NameSearch search(request.Query, deliver);
    bool searching = !request.Query.Empty();
    while (!index->Complete()) {
        if (forget.stop_requested()) {
            return;
        }
        const std::size_t before = index->Size();
        if (!index->ReadMore(NamesPerRead)) {
            throw std::bad_alloc();
        }
        searching = searching && search.Search(*index, before, index->Size(), stop);
    }
    Q_EMIT IndexBuilt(treeGeneration, std::move(index), QPrivateSignal());
    if (!request.Query.Empty()) {
        const SearchOutcome outcome = search.Finish();
        Q_EMIT SearchEnded(request.Generation, outcome.Capped, outcome.Cancelled, QPrivateSignal());
    }
}

void CEntrySearch::OnIndexBuilt(std::uint64_t treeGeneration, const std::shared_ptr<const NameIndex>& index) {
    if (treeGeneration == treeGeneration_) {
        index_ = index;
    }
}

void CEntrySearch::OnBatchFound(std::uint64_t generation, const QList<const FileNode*>& batch) {
    if (generation == generation_) {
        model_->Append(std::span<const FileNode* const>(batch.constData(), static_cast<std::size_t>(batch.size())));
    }
}

void CEntrySearch::OnSearchEnded(std::uint64_t generation, bool capped, bool cancelled) {
    if (generation != generation_ || cancelled) {
        return;
    }
    searching_ = false;
    Q_EMIT Finished(model_->rowCount(), capped);
}

void CEntrySearch::OnTaskFailed() {
    if (runningGeneration_ != generation_ || !searching_) {
        return;
    }
    searching_ = false;
    Q_EMIT Finished(model_->rowCount(), true);
}

} // namespace marrowick
