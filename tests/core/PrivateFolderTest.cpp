#include "core/platform/PrivateFolder.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace marrowick {
namespace {

namespace fs = std::filesystem;

pid_t EndedProcess() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    return child;
}

// A folder is only this user's and goes with its object; the folders of ended processes go with the next one made,
// those of running processes and of other prefixes stay.
TEST(PrivateFolder, IsPrivateGoesWithItsObjectAndClearsWhatEndedProcessesLeft) {
    const testing::ScopedTmpDir tmp;
    const fs::path abandoned = tmp.Path() / ("marrowick-test-" + std::to_string(EndedProcess()) + "-abcdef");
    const fs::path running = tmp.Path() / ("marrowick-test-" + std::to_string(::getppid()) + "-abcdef");
    const fs::path other = tmp.Path() / ("marrowick-other-" + std::to_string(EndedProcess()) + "-abcdef");
    for (const fs::path& folder : {abandoned, running, other}) {
        fs::create_directories(folder / "inside");
    }
    std::string made;
    {
        PrivateFolder folder("marrowick-test");
        EXPECT_EQ(folder.Path(), "");
        ASSERT_TRUE(folder.Make());
        made = folder.Path();
        ASSERT_TRUE(folder.Make());
        EXPECT_EQ(folder.Path(), made);
        EXPECT_EQ(fs::status(made).permissions(), fs::perms::owner_all);
        fs::create_directories(fs::path(made) / "a/b");
    }
    EXPECT_FALSE(fs::exists(made));
    EXPECT_FALSE(fs::exists(abandoned));
    EXPECT_TRUE(fs::exists(running));
    EXPECT_TRUE(fs::exists(other));
}

} // namespace
} // namespace marrowick
