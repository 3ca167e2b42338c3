#pragma once

#include "core/backup/FileNode.h"

namespace marrowick {

// Visits every node below folder (not folder itself) depth first, each folder before its children, children in
// their order. Iterative, so that no depth of tree can exhaust the stack.
template <typename Visit>
void ForEachBelow(const FileNode& folder, Visit&& visit) {
    const FileNode* node = folder.FirstChild();
    while (node != nullptr) {
        visit(*node);
        if (node->FirstChild() != nullptr) {
            node = node->FirstChild();
            continue;
        }
        while (node != &folder && node->NextSibling() == nullptr) {
            node = node->Parent();
        }
        node = node == &folder ? nullptr : node->NextSibling();
    }
}

} // namespace marrowick
