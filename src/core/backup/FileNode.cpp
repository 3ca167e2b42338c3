#include "core/backup/FileNode.h"

namespace marrowick {

const FileNode* CurrentRoot = nullptr;
std::string CurrentBackupPath;
ManifestKind CurrentManifestKind = ManifestKindDb;

bool IsUnder(std::string_view path, std::string_view folder) {
    return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

const FileNode* FindNode(const FileNode* root, std::string_view path) {
    const FileNode* node = root;
    while (node != nullptr) {
        if (node->Path() == path) {
            return node;
        }
        node = IsUnder(path, node->Path()) ? node->FirstChild() : node->NextSibling();
    }
    return nullptr;
}

const FileNode* FindNode(std::string_view path) {
    return FindNode(CurrentRoot, path);
}

} // namespace marrowick
