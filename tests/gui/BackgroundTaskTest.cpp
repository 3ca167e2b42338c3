#include "gui/browser/BackgroundTask.h"

#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace marrowick {
namespace {

bool WaitUntil(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 10000);
}

// The task's signals in the order they came, with whether the task still ran at each.
struct Heard {
    explicit Heard(CBackgroundTask& task) {
        QObject::connect(&task, &CBackgroundTask::Failed, &task, [this, &task](const QString& what) {
            Signals.push_back("failed: " + what.toStdString());
            RunningAtFailed = task.Running();
        });
        QObject::connect(&task, &CBackgroundTask::Finished, &task, [this, &task] {
            Signals.push_back("finished");
            RunningAtFinished = task.Running();
        });
    }
    std::vector<std::string> Signals;
    bool RunningAtFailed = false;
    bool RunningAtFinished = true;
};

TEST(BackgroundTask, WhatTheJobThrowsBecomesFailedBeforeFinished) {
    CBackgroundTask task;
    Heard heard(task);
    const std::vector<std::pair<std::function<void()>, std::vector<std::string>>> cases{
        {[] { throw std::runtime_error("injected failure"); }, {"failed: injected failure", "finished"}},
        {[] { throw 42; }, {"failed: ", "finished"}},
        {[] {}, {"finished"}},
    };
    for (const auto& [job, expected] : cases) {
        heard.Signals.clear();
        ASSERT_TRUE(task.Start(job));
        EXPECT_TRUE(task.Running());
        ASSERT_TRUE(WaitUntil([&] { return !heard.Signals.empty() && heard.Signals.back() == "finished"; }));
        EXPECT_EQ(heard.Signals, expected);
        EXPECT_FALSE(heard.RunningAtFinished);
        EXPECT_FALSE(task.Running());
    }
    EXPECT_TRUE(heard.RunningAtFailed) << "Failed comes while the task still runs";
}

TEST(BackgroundTask, ASecondStartWaitsForFinishedAndDestroyingWaitsForTheJob) {
    std::atomic<bool> release{false};
    std::atomic<bool> jobEnded{false};
    std::atomic<int> runs{0};
    auto task = std::make_unique<CBackgroundTask>();
    const auto job = [&] {
        ++runs;
        while (!release) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        jobEnded = true;
    };
    ASSERT_TRUE(task->Start(job));
    EXPECT_FALSE(task->Start(job));
    ASSERT_TRUE(WaitUntil([&] { return runs.load() == 1; }));

    std::thread releaser([&release] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        release = true;
    });
    task.reset();
    EXPECT_TRUE(jobEnded.load()) << "the job ended before the task went";
    releaser.join();
    EXPECT_EQ(runs.load(), 1);
}

} // namespace
} // namespace marrowick
