#include "core/backup/ManifestMbdbReader.h"

#include "core/platform/ErrorText.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::MbdbRecord;

constexpr std::uint16_t FileMode = 0x81A4;
constexpr std::uint16_t FolderMode = 0x41ED;
constexpr std::uint16_t LinkMode = 0xA1ED;

MbdbRecord Record(std::optional<std::string> domain, std::optional<std::string> path, std::uint16_t mode = FileMode) {
    MbdbRecord record;
    record.Domain = std::move(domain);
    record.Path = std::move(path);
    record.Mode = mode;
    return record;
}

// Every node below root in depth-first order as "path|fileID|flags|size|mtime".
std::vector<std::string> Listing(const FileNode* root) {
    std::vector<std::string> lines;
    std::vector<const FileNode*> pending{root};
    while (!pending.empty()) {
        const FileNode* node = pending.back();
        pending.pop_back();
        lines.push_back(std::string(node->Path()) + "|" + std::string(node->FileID()) + "|" +
                        std::string(node->Flags()) + "|" + std::to_string(node->Size()) + "|" +
                        std::to_string(node->MTime()));
        std::vector<const FileNode*> children;
        for (const FileNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling()) {
            children.push_back(child);
        }
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return lines;
}

class MbdbData : public ::testing::Test {
protected:
    void Parse(const std::string& bytes) { ReadManifestMbdbData(bytes, tree); }
    void Parse(const std::vector<MbdbRecord>& records) { Parse(testing::MakeMbdb(records)); }
    const FileNode* Find(std::string_view path) const { return FindNode(tree.Root(), path); }

    BackupTree tree{"/nonexistent/", ManifestKindMbdb};
};

TEST_F(MbdbData, FileRecordGivesLeafWithHashedFileID) {
    MbdbRecord sms = Record("HomeDomain", "Library/SMS/sms.db");
    sms.Size = 12345;
    sms.MTime = 1500000000;
    Parse({sms});
    const FileNode* leaf = Find("/var/mobile/Library/SMS/sms.db");
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->FileID(), testing::Sha1Hex("HomeDomain-Library/SMS/sms.db"));
    EXPECT_EQ(leaf->Flags(), "1");
    EXPECT_EQ(leaf->Size(), 12345U);
    EXPECT_EQ(leaf->MTime(), 1500000000);
    EXPECT_TRUE(Find("/var/mobile/Library/SMS")->FileID().empty());
}

TEST_F(MbdbData, DomainFolderRecordGivesFolderItsFileID) {
    Parse({Record("HomeDomain", "", FolderMode), Record("HomeDomain", "Library/x")});
    const FileNode* mobile = Find("/var/mobile");
    ASSERT_NE(mobile, nullptr);
    EXPECT_EQ(mobile->FileID(), testing::Sha1Hex("HomeDomain-"));
    EXPECT_EQ(mobile->Flags(), "2");
    EXPECT_NE(Find("/var/mobile/Library/x"), nullptr);
}

TEST_F(MbdbData, LinksAndSkippedRecordsDoNotDisturbTheNextOne) {
    MbdbRecord link = Record("HomeDomain", "link", LinkMode);
    link.LinkTarget = "/var/mobile/target";
    link.Properties = {{"a", "1"}, {"b", "2"}};
    MbdbRecord withThreeProperties = Record("RootDomain", "props");
    withThreeProperties.Properties = {{"p1", "v1"}, {"p2", std::string("v\0 2", 4)}, {"p3", ""}};
    Parse({link, Record("HomeDomain", "after-link"), Record(std::nullopt, "no-domain"), Record("", "empty-domain"),
           Record("HomeDomain", "after-domainless"), withThreeProperties, Record("RootDomain", "after-props")});
    ASSERT_NE(Find("/var/mobile/link"), nullptr);
    EXPECT_TRUE(Find("/var/mobile/link")->IsLink());
    EXPECT_EQ(Find("/var/mobile/link")->LinkTarget(), "/var/mobile/target");
    EXPECT_NE(Find("/var/mobile/after-link"), nullptr);
    EXPECT_NE(Find("/var/mobile/after-domainless"), nullptr);
    EXPECT_NE(Find("/var/root/props"), nullptr);
    EXPECT_NE(Find("/var/root/after-props"), nullptr);
    EXPECT_EQ(tree.NodeCount(), 8U);
}

TEST_F(MbdbData, AbsentAndEmptyPathsBothMapToTheDomainFolder) {
    Parse({Record("MediaDomain", std::nullopt, FolderMode), Record("RootDomain", "", FolderMode)});
    ASSERT_NE(Find("/var/mobile"), nullptr);
    EXPECT_EQ(Find("/var/mobile")->FileID(), testing::Sha1Hex("MediaDomain-"));
    ASSERT_NE(Find("/var/root"), nullptr);
    EXPECT_EQ(Find("/var/root")->FileID(), testing::Sha1Hex("RootDomain-"));
}

TEST_F(MbdbData, SizeIsWholeAndTimeIsSigned) {
    MbdbRecord large = Record("HomeDomain", "large");
    large.Size = (std::uint64_t{1} << 32) + 0x40000000; // 5 GiB
    MbdbRecord old = Record("HomeDomain", "old");
    old.MTime = 0x80000000;
    MbdbRecord last = Record("HomeDomain", "last");
    last.MTime = 0xFFFFFFFF;
    Parse({large, old, last});
    EXPECT_EQ(Find("/var/mobile/large")->Size(), large.Size);
    EXPECT_EQ(Find("/var/mobile/old")->MTime(), -2147483648LL);
    EXPECT_EQ(Find("/var/mobile/last")->MTime(), -1);
}

TEST_F(MbdbData, DuplicatePathKeepsFirstRecord) {
    MbdbRecord first = Record("HomeDomain", "dup");
    first.Size = 1;
    MbdbRecord second = Record("HomeDomain", "dup");
    second.Size = 2;
    Parse({first, second});
    EXPECT_EQ(Find("/var/mobile/dup")->Size(), 1U);
}

TEST_F(MbdbData, StringsEndAtTheirFirstZeroByte) {
    Parse({Record("HomeDomain", std::string("a\0b", 3))});
    const FileNode* leaf = Find("/var/mobile/a");
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->FileID(), testing::Sha1Hex("HomeDomain-a"));
}

TEST_F(MbdbData, HashCoversLongPathsWhole) {
    const std::string path = "Library/" + std::string(1000, 'p');
    Parse({Record("HomeDomain", path)});
    const FileNode* leaf = Find("/var/mobile/" + path);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->FileID(), testing::Sha1Hex("HomeDomain-" + path));
}

TEST_F(MbdbData, HeaderIsNotChecked) {
    std::string bytes = testing::MakeMbdb({Record("HomeDomain", "x")});
    bytes.replace(0, 6, "garbag");
    Parse(bytes);
    EXPECT_NE(Find("/var/mobile/x"), nullptr);
}

class ShortMbdb : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ShortMbdb, HoldsNoRecords) {
    // The smallest record is 50 bytes: the first 16 bytes of a file never hold one.
    const std::string bytes = testing::MakeMbdb({Record("D", "p")}).substr(0, GetParam());
    BackupTree tree("/nonexistent/", ManifestKindMbdb);
    ReadManifestMbdbData(bytes, tree);
    EXPECT_EQ(tree.NodeCount(), 1U);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ShortMbdb, ::testing::Values(0, 5, 6, 7, 15, 16));

TEST(MbdbCut, EveryCutKeepsTheWholeRecordsBeforeIt) {
    MbdbRecord withProperties = Record("RootDomain", "second");
    withProperties.Properties = {{"name", "value"}};
    const std::vector<MbdbRecord> records{Record("HomeDomain", "first"), withProperties, Record("HomeDomain", "third")};
    const std::string whole = testing::MakeMbdb(records);
    std::vector<std::size_t> ends;
    std::size_t end = 6;
    for (const MbdbRecord& record : records) {
        end += testing::MakeMbdbRecord(record).size();
        ends.push_back(end);
    }
    for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
        // A copy of exactly cut bytes, so that the address sanitizer sees any read past the data.
        const std::string bytes = whole.substr(0, cut);
        BackupTree tree("/nonexistent/", ManifestKindMbdb);
        ReadManifestMbdbData(bytes, tree);
        const auto complete = std::count_if(ends.begin(), ends.end(), [cut](std::size_t e) { return e <= cut; });
        EXPECT_EQ(FindNode(tree.Root(), "/var/mobile/first") != nullptr, complete >= 1) << "cut " << cut;
        EXPECT_EQ(FindNode(tree.Root(), "/var/root/second") != nullptr, complete >= 2) << "cut " << cut;
        EXPECT_EQ(FindNode(tree.Root(), "/var/mobile/third") != nullptr, complete >= 3) << "cut " << cut;
    }
}

TEST(MbdbCut, LengthsRunningPastTheDataEndTheParse) {
    std::string bytes = testing::MakeMbdb({Record("HomeDomain", "kept")});
    bytes += std::string("\x00\x0A"
                         "HomeDomain"
                         "\xFF\xF0"
                         "short",
                         19); // path length 0xFFF0, five bytes given
    BackupTree tree("/nonexistent/", ManifestKindMbdb);
    ReadManifestMbdbData(bytes, tree);
    EXPECT_NE(FindNode(tree.Root(), "/var/mobile/kept"), nullptr);
    EXPECT_EQ(tree.NodeCount(), 3U);
}

class MbdbFile : public ::testing::Test {
protected:
    void Write(const std::string& bytes) { testing::WriteFile(dir.Path() / "Manifest.mbdb", bytes); }

    testing::TempDir dir;
};

TEST_F(MbdbFile, FileGivesSameTreeAsItsBytesAcrossReadBlocks) {
    std::vector<MbdbRecord> records;
    for (int i = 0; i < 30000; ++i) {
        MbdbRecord record = Record(i % 3 == 0 ? "CameraRollDomain" : "AppDomain-app" + std::to_string(i % 7),
                                   "Media/DCIM/" + std::to_string(i % 50) + "/IMG_" + std::to_string(i) + ".JPG");
        record.Size = static_cast<std::uint64_t>(i);
        record.MTime = static_cast<std::uint32_t>(i * 7);
        if (i == 12000) {
            // One record longer than a read block.
            for (int p = 0; p < 20; ++p) {
                record.Properties.emplace_back("k" + std::to_string(p), std::string(60000, 'v'));
            }
        }
        records.push_back(record);
    }
    const std::string bytes = testing::MakeMbdb(records);
    ASSERT_GT(bytes.size(), 3U << 20);
    Write(bytes + std::string("\x00\x0A"
                              "HomeDomain"
                              "\x00\x40"
                              "partial/path",
                              26)); // a record cut at the end

    BackupTree fromFile(dir.Path().string(), ManifestKindMbdb);
    ASSERT_TRUE(ReadManifestMbdb(fromFile));
    BackupTree fromBytes("/nonexistent/", ManifestKindMbdb);
    ReadManifestMbdbData(bytes, fromBytes);

    EXPECT_EQ(fromFile.NodeCount(), fromBytes.NodeCount());
    EXPECT_EQ(Listing(fromFile.Root()), Listing(fromBytes.Root()));
    EXPECT_NE(FindNode(fromFile.Root(), "/var/mobile/Media/DCIM/0/IMG_29850.JPG"), nullptr);
}

TEST_F(MbdbFile, StoredFilesAreNotStatted) {
    MbdbRecord record = Record("HomeDomain", "x");
    record.Size = 7;
    record.MTime = 99;
    Write(testing::MakeMbdb({record}));
    const std::string id = testing::Sha1Hex("HomeDomain-x");
    testing::WriteFile(dir.Path() / id, "a longer stored file");
    testing::WriteFile(dir.Path() / id.substr(0, 2) / id, "another");

    BackupTree tree(dir.Path().string(), ManifestKindMbdb);
    ASSERT_TRUE(ReadManifestMbdb(tree));
    const FileNode* leaf = FindNode(tree.Root(), "/var/mobile/x");
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->Size(), 7U);
    EXPECT_EQ(leaf->MTime(), 99);
}

TEST_F(MbdbFile, MissingFileLeavesRootAloneAndSaysWhy) {
    BackupTree tree(dir.Path().string(), ManifestKindMbdb);
    const Result<void> read = ReadManifestMbdb(tree);
    ASSERT_FALSE(read);
    EXPECT_EQ(FailureText(read.Error()), "Manifest.mbdb: No such file or directory");
    EXPECT_EQ(tree.NodeCount(), 1U);
}

TEST_F(MbdbFile, ReadingChangesNothingInTheBackupFolder) {
    testing::SampleBackup backup;
    backup.Manifest = testing::SampleManifest::Mbdb;
    backup.Files = {testing::SampleFile{.RelativePath = "Library/SMS/sms.db", .Content = "sms"}};
    testing::WriteSampleBackup(dir.Path(), backup);
    const auto before = testing::SnapshotFolder(dir.Path());
    BackupTree tree(dir.Path().string(), ManifestKindMbdb);
    ASSERT_TRUE(ReadManifestMbdb(tree));
    EXPECT_EQ(testing::SnapshotFolder(dir.Path()), before);
    ASSERT_NE(FindNode(tree.Root(), "/var/mobile/Library/SMS/sms.db"), nullptr);
    EXPECT_EQ(FindNode(tree.Root(), "/var/mobile/Library/SMS/sms.db")->Size(), 3U);
}

} // namespace
} // namespace marrowick
