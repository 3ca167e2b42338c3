#pragma once

#include "core/backup/FileNode.h"

namespace marrowick {

// The node after node in a walk below folder, depth first, each folder before its children, children in their
// order: node's first child, else the next sibling of node or of its nearest folder below folder that has one;
// null after the last.
inline const FileNode* NextBelow(const FileNode& folder, const FileNode& node) {
    if (node.FirstChild() != nullptr) {
        return node.FirstChild();
    }
    const FileNode* at = &node;
    while (at != &folder && at->NextSibling() == nullptr) {
        at = at->Parent();
    }
    return at == &folder ? nullptr : at->NextSibling();
}

// Visits every node below folder (not folder itself) in the order of NextBelow. Iterative, so that no depth of
// tree can exhaust the stack.
template <typename Visit>
void ForEachBelow(const FileNode& folder, Visit&& visit) {
    for (const FileNode* node = folder.FirstChild(); node != nullptr; node = NextBelow(folder, *node)) {
        visit(*node);
    }
}

} // namespace marrowick
