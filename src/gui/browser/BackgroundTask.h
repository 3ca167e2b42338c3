#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <thread>

namespace marrowick {

// The windows' one shape for work in the background: a job runs on a thread of its own and tells the task's thread
// what happened only through queued signals carrying copies: its owner's signals while it runs, then this task's,
// which come on the task's thread and after the job's. Whatever the job throws is caught at the thread's edge and
// becomes Failed. Nothing waits in a nested event loop and nothing polls: Wait blocks until the thread has ended,
// so a job must never wait for its owner's thread unless the owner can release it first.
class CBackgroundTask final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CBackgroundTask)

public:
    explicit CBackgroundTask(QObject* parent = nullptr);
    // Waits for a running job: a job never outlives the objects it reports through.
    ~CBackgroundTask() override;

    // Runs job on a new thread; false, and nothing started, while an earlier job's Finished has not come yet. A
    // thread that cannot be made is told as a job that threw.
    bool Start(std::function<void()> job);
    // Returns once the job's thread has ended; at once when there is none. Finished still comes, queued.
    void Wait();
    // From Start until Finished.
    [[nodiscard]] bool Running() const { return running_; }

Q_SIGNALS:
    // The job threw: what is the exception's message, "" when it had none. Comes just before Finished.
    void Failed(const QString& what);
    // The job has returned or failed and its thread has ended: the last signal of a job.
    void Finished();

private:
    void RunJob(const std::function<void()>& job);
    void OnJobEnded(const std::optional<QString>& failure);

    bool running_ = false;
    std::thread thread_;
};

} // namespace marrowick
