#include "gui/browser/BackgroundTask.h"

#include <exception>
#include <optional>
#include <utility>

namespace marrowick {

CBackgroundTask::CBackgroundTask(QObject* parent) : QObject(parent) {}

CBackgroundTask::~CBackgroundTask() {
    Wait();
}

bool CBackgroundTask::Start(std::function<void()> job) {
    if (running_) {
        return false;
    }
    running_ = true;
    try {
        thread_ = std::thread([this, job = std::move(job)] { RunJob(job); });
    } catch (const std::exception& error) {
        // No thread to run on: told as a job that threw is.
        QMetaObject::invokeMethod(
            this, [this, what = QString::fromUtf8(error.what())] { OnJobEnded(what); }, Qt::QueuedConnection);
    }
    return true;
}

void CBackgroundTask::Wait() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void CBackgroundTask::RunJob(const std::function<void()>& job) {
    // Nothing may leave the thread: an exception there would end the program.
    std::optional<QString> failure;
    try {
        try {
            job();
        } catch (const std::exception& error) {
            failure = QString::fromUtf8(error.what());
        } catch (...) {
            failure = QString();
        }
    } catch (...) {
        // The message could not be kept (memory ran out).
        failure = QString();
    }
    try {
        QMetaObject::invokeMethod(
            this, [this, failure = std::move(failure)] { OnJobEnded(failure); }, Qt::QueuedConnection);
    } catch (...) {
        // Memory ran out: the owner is not told, and its Wait still returns.
    }
}

void CBackgroundTask::OnJobEnded(const std::optional<QString>& failure) {
    Wait();
    if (failure) {
        Q_EMIT Failed(*failure);
    }
    running_ = false;
    Q_EMIT Finished();
}

} // namespace marrowick
