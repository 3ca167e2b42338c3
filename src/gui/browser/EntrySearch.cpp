#include "gui/browser/EntrySearch.h"

#include "core/search/EntrySearch.h"

#include <span>
#include <string>
#include <utility>

namespace marrowick {

CEntrySearch::CEntrySearch(FileManagerIcons icons, QObject* parent)
    : QObject(parent), model_(new SearchResultsModel(std::move(icons), this)) {
    connect(this, &CEntrySearch::BatchFound, this, &CEntrySearch::OnBatchFound, Qt::QueuedConnection);
    connect(this, &CEntrySearch::SearchEnded, this, &CEntrySearch::OnSearchEnded, Qt::QueuedConnection);
    connect(&task_, &CBackgroundTask::Failed, this, &CEntrySearch::OnTaskFailed);
    connect(&task_, &CBackgroundTask::Finished, this, &CEntrySearch::StartPending);
}

CEntrySearch::~CEntrySearch() {
    stop_.request_stop();
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
    pending_ = Request{root, std::move(query), generation_};
    if (!task_.Running()) {
        StartPending();
    }
}

void CEntrySearch::Cancel() {
    StopRunning();
    searching_ = false;
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
    stop_ = std::stop_source();
    runningGeneration_ = request.Generation;
    task_.Start([this, request = std::move(request), stop = stop_.get_token()] {
        const auto deliver = [this, &request](std::span<const FileNode* const> matches) {
            Q_EMIT BatchFound(request.Generation, QList<const FileNode*>(matches.begin(), matches.end()),
                              QPrivateSignal());
        };
        const SearchOutcome outcome = SearchBelow(*request.Root, request.Query, stop, deliver);
        Q_EMIT SearchEnded(request.Generation, outcome.Capped, outcome.Cancelled, QPrivateSignal());
    });
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
