#include "gui/browser/NewestJobs.h"

#include <utility>

namespace marrowick {

CNewestJobs::CNewestJobs(QObject* parent) : QObject(parent) {
    for (Worker& worker : workers_) {
        connect(&worker.Task, &CBackgroundTask::Failed, this,
                [this, &worker](const QString& what) { Q_EMIT Failed(worker.Request, what); });
        connect(&worker.Task, &CBackgroundTask::Finished, this, &CNewestJobs::StartWaiting);
    }
}

CNewestJobs::~CNewestJobs() {
    for (Worker& worker : workers_) {
        worker.Task.Wait();
    }
}

void CNewestJobs::Ask(std::uint64_t request, Job job, bool shared) {
    waiting_ = Waiting{request, std::move(job), shared};
    StartWaiting();
}

void CNewestJobs::StartWaiting() {
    if (!waiting_) {
        return;
    }
    Worker* idle = nullptr;
    for (Worker& worker : workers_) {
        if (!worker.Task.Running()) {
            idle = idle != nullptr ? idle : &worker;
        } else if (waiting_->Shared && worker.Shared) {
            return;
        }
    }
    if (idle == nullptr) {
        return;
    }
    idle->Request = waiting_->Request;
    idle->Shared = waiting_->Shared;
    Job job = std::move(waiting_->Work);
    waiting_.reset();
    idle->Task.Start(std::move(job));
}

} // namespace marrowick
