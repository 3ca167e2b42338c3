#include "gui/browser/NewestJobs.h"

#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <future>
#include <mutex>
#include <vector>

namespace marrowick {
namespace {

// Jobs that say when they ran, some of them held until Release.
class NewestJobsTest : public ::testing::Test {
protected:
    CNewestJobs::Job Held(std::uint64_t request) {
        return [this, request, gate = gate_] {
            gate.wait();
            Record(request);
        };
    }
    CNewestJobs::Job Quick(std::uint64_t request) {
        return [this, request] { Record(request); };
    }
    void Release() { open_.set_value(); }
    std::vector<std::uint64_t> Ran() {
        const std::scoped_lock lock(mutex_);
        return ran_;
    }
    bool RanAll(std::size_t count) {
        return QTest::qWaitFor([&] { return Ran().size() == count; }, 10000);
    }

private:
    void Record(std::uint64_t request) {
        const std::scoped_lock lock(mutex_);
        ran_.push_back(request);
    }

    std::promise<void> open_;
    std::shared_future<void> gate_ = open_.get_future().share();
    std::mutex mutex_;
    std::vector<std::uint64_t> ran_;

protected:
    // Last: its workers end before what they use goes.
    CNewestJobs jobs_;
};

TEST_F(NewestJobsTest, AJobStartsBesideOneThatCannotStop) {
    jobs_.Ask(1, Held(1), false);
    jobs_.Ask(2, Quick(2), false);
    ASSERT_TRUE(RanAll(1));
    Release();
    ASSERT_TRUE(RanAll(2));
    EXPECT_EQ(Ran(), (std::vector<std::uint64_t>{2, 1}));
}

TEST_F(NewestJobsTest, WhileBothWorkOnlyTheNewestJobWaits) {
    jobs_.Ask(1, Held(1), false);
    jobs_.Ask(2, Held(2), false);
    jobs_.Ask(3, Quick(3), false);
    jobs_.Ask(4, Quick(4), false);
    Release();
    ASSERT_TRUE(RanAll(3));
    std::vector<std::uint64_t> ran = Ran();
    std::sort(ran.begin(), ran.end());
    EXPECT_EQ(ran, (std::vector<std::uint64_t>{1, 2, 4}));
}

TEST_F(NewestJobsTest, SharedJobsNeverRunSideBySide) {
    jobs_.Ask(1, Held(1), true);
    jobs_.Ask(2, Quick(2), true);
    Release();
    ASSERT_TRUE(RanAll(2));
    EXPECT_EQ(Ran(), (std::vector<std::uint64_t>{1, 2}));
}

} // namespace
} // namespace marrowick
