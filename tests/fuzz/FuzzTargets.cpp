#include "FuzzTargets.h"

#include "core/backup/BackupTree.h"
#include "core/backup/EntryRecord.h"
#include "core/backup/FileNode.h"
#include "core/backup/ManifestMbdbReader.h"
#include "core/backup/ManifestPlist.h"
#include "core/backup/SummaryReader.h"
#include "core/backup/TreeWalk.h"
#include "core/crypto/Keybag.h"
#include "core/preview/ContentKind.h"
#include "core/preview/PlistXml.h"
#include "core/preview/PreviewText.h"
#include "core/preview/SqlitePreview.h"

#include <algorithm>
#include <climits>

#include <cstdlib>

namespace marrowick::fuzz {

void FuzzSummaryPlist(std::string_view data) {
    (void)StatusPlistDateText(data);
    (void)ReadPlistDateValue(data, "Date");
    (void)ReadPlistDateValue(data, "Last Backup Date");
    for (const char* key : {"Display Name", "Product Version", "Product Name", "Serial Number"}) {
        (void)ReadBinaryPlistStringValue(data, key);
        (void)ReadPlistStringValue(data, "<key>" + std::string(key) + "</key>");
    }
    (void)ReadManifestPlistKeys(data);
}

void FuzzManifestMbdb(std::string_view data) {
    BackupTree tree("/nonexistent/", ManifestKindMbdb);
    ReadManifestMbdbData(data, tree);
    // Every node must sit below its parent's path, with a name that is the last component of its own.
    ForEachBelow(*tree.Root(), [](const FileNode& node) {
        if (node.Parent() == nullptr || !node.Path().ends_with(node.Name()) ||
            !IsUnder(node.Path(), node.Parent()->Path())) {
            std::abort();
        }
    });
}

void FuzzEntryRecord(std::string_view data) {
    // One record reused across inputs, as the reader reuses it: nothing of an earlier input may stay behind.
    static EntryRecord reused;
    EntryRecord fresh;
    const bool decoded = DecodeEntryRecord(data, reused);
    if (DecodeEntryRecord(data, fresh) != decoded || reused.Size != fresh.Size ||
        reused.LastModified != fresh.LastModified || reused.Birth != fresh.Birth || reused.Mode != fresh.Mode ||
        reused.ProtectionClass != fresh.ProtectionClass || reused.Target != fresh.Target ||
        reused.EncryptionKey != fresh.EncryptionKey || reused.EncryptionKey.size() > 64) {
        std::abort();
    }
    const bool cleared = fresh.Size == 0 && fresh.LastModified == 0 && fresh.Birth == 0 && fresh.Mode == 0 &&
                         fresh.ProtectionClass == 0 && fresh.Target.empty() && fresh.EncryptionKey.empty();
    if (!decoded && !cleared) {
        std::abort();
    }
}

void FuzzKeybag(std::string_view data) {
    const Result<Keybag> keybag = ParseKeybag(data);
    if (!keybag) {
        return;
    }
    // What a parsed keybag promises the derivation and the unlocking.
    const auto countFits = [](std::uint32_t count) { return count > 0 && count <= INT_MAX; };
    const bool twoStageCounts = !keybag->TwoStage() || countFits(*keybag->DoubleProtectionIterations);
    const bool unlockable = std::any_of(keybag->Classes.begin(), keybag->Classes.end(), Keybag::Unlockable);
    if (keybag->Salt.empty() || !countFits(keybag->Iterations) || !twoStageCounts || !unlockable) {
        std::abort();
    }
}

void FuzzPreview(std::string_view data) {
    constexpr std::size_t Bound = 4096;
    (void)SniffContentKind(data.substr(0, 512), "file.plist");
    (void)HexDump(data, 512);
    const std::string text = ShownText(data, Bound);
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, at);
        if (length == 0 || text.size() > Bound) {
            std::abort();
        }
        at += length;
    }
    (void)BinaryPlistToXml(data, Bound);
    // Few steps: a damaged database must fail quickly, not loop.
    if (Result<SqlitePreview> database = SqlitePreview::Open(std::string(data), 200000)) {
        for (const std::string& table : database->Tables()) {
            (void)database->FirstRows(table, 5);
        }
    }
}

} // namespace marrowick::fuzz
