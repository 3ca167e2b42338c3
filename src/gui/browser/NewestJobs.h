#pragma once

#include "gui/browser/BackgroundTask.h"

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace marrowick {

// Runs the newest job asked for, on two workers: a new job need not wait for one before it that cannot be stopped
// (a photo being decoded), so it starts at once while a worker is idle; asked for while both work, it waits for
// the first to end, and a job waiting is replaced by the next one asked for. Shared jobs (reading one database)
// never run beside one another. What a job makes it tells its owner itself, with its request number, so that the
// owner can keep the newest.
class CNewestJobs final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CNewestJobs)

public:
    using Job = std::function<void()>;

    explicit CNewestJobs(QObject* parent = nullptr);
    // Waits for the running jobs: a job never outlives what it uses.
    ~CNewestJobs() override;

    void Ask(std::uint64_t request, Job job, bool shared);
    // Forgets the job waiting, if any.
    void DropWaiting() { waiting_.reset(); }

Q_SIGNALS:
    // The job of request threw: what is the exception's message, "" when it had none.
    void Failed(std::uint64_t request, const QString& what);

private:
    struct Waiting {
        std::uint64_t Request = 0;
        Job Work;
        bool Shared = false;
    };
    struct Worker {
        CBackgroundTask Task;
        std::uint64_t Request = 0;
        bool Shared = false;
    };

    void StartWaiting();

    std::optional<Waiting> waiting_;
    // Last, so that they are destroyed first.
    std::array<Worker, 2> workers_;
};

} // namespace marrowick
