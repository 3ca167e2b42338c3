#include "FuzzTargets.h"

#include "core/backup/FileNode.h"
#include "core/backup/ManifestMbdbReader.h"
#include "core/backup/SummaryReader.h"
#include "core/backup/TreeWalk.h"

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

} // namespace marrowick::fuzz
