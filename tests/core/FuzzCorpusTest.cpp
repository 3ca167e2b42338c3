#include "FuzzTargets.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace marrowick {
namespace {

// Every seed and every minimised finding of the fuzzers, replayed under the sanitizers of this build.
void Replay(const std::string& corpus, void (*target)(std::string_view)) {
    const std::filesystem::path folder = std::filesystem::path(MARROWICK_FUZZ_CORPUS) / corpus;
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream file(entry.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << file.rdbuf();
        SCOPED_TRACE(entry.path().string());
        target(bytes.str());
        for (std::size_t cut = 0; cut < bytes.str().size(); cut += 7) {
            target(std::string_view(bytes.str()).substr(0, cut));
        }
        ++replayed;
    }
    EXPECT_GT(replayed, 0) << "no corpus in " << folder;
}

TEST(FuzzCorpus, SummaryPlistSeedsAndTheirPrefixesReplay) {
    Replay("status_plist", &fuzz::FuzzSummaryPlist);
}

TEST(FuzzCorpus, ManifestMbdbSeedsAndTheirPrefixesReplay) {
    Replay("manifest_mbdb", &fuzz::FuzzManifestMbdb);
}

} // namespace
} // namespace marrowick
