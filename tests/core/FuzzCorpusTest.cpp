#include "FuzzTargets.h"

#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace marrowick {
namespace {

// Every seed and every minimised finding of the fuzzers, replayed under the sanitizers of this build.
void Replay(const std::string& corpus, void (*target)(std::string_view)) {
    const std::filesystem::path folder = std::filesystem::path(MARROWICK_FUZZ_CORPUS) / corpus;
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string bytes = testing::ReadFile(entry.path());
        SCOPED_TRACE(entry.path().string());
        target(bytes);
        for (std::size_t cut = 0; cut < bytes.size(); cut += 7) {
            target(std::string_view(bytes).substr(0, cut));
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

TEST(FuzzCorpus, EntryRecordSeedsAndTheirPrefixesReplay) {
    Replay("entry_record", &fuzz::FuzzEntryRecord);
}

TEST(FuzzCorpus, KeybagSeedsAndTheirPrefixesReplay) {
    Replay("keybag", &fuzz::FuzzKeybag);
}

TEST(FuzzCorpus, PreviewSeedsAndTheirPrefixesReplay) {
    Replay("preview", &fuzz::FuzzPreview);
}

} // namespace
} // namespace marrowick
