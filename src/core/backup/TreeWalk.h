#pragma once

#include "core/backup/FileNode.h"

namespace marrowick {

// Visits nodes below folder (not folder itself) depth first, each folder before its children, children in their
// order, until visit returns false: false then, true when every node was visited. Iterative, so that no depth of
// tree can exhaust the stack.
template <typename Visit>
bool ForEachBelowWhile(const FileNode& folder, Visit&& visit) {
    const FileNode* node = folder.FirstChild();
    while (node != nullptr) {
        if (!visit(*node)) {
            return false;
        }
        if (node->FirstChild() != nullptr) {
            node = node->FirstChild();
            continue;
        }
        while (node != &folder && node->NextSibling() == nullptr) {
            node = node->Parent();
        }
        node = node == &folder ? nullptr : node->NextSibling();
    }
    return true;
}

// Visits every node below folder in the same order.
template <typename Visit>
void ForEachBelow(const FileNode& folder, Visit&& visit) {
    ForEachBelowWhile(folder, [&visit](const FileNode& node) {
        visit(node);
        return true;
    });
}

} // namespace marrowick
