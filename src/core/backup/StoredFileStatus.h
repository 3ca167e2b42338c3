#pragma once

#include "core/platform/FileDescriptor.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace marrowick {

class FileNode;

// Appends where a backup keeps a file's content, relative to the backup folder: "<first two characters of
// ID>/<ID>" in a Manifest.db backup, "<ID>" in a Manifest.mbdb backup.
void AppendStoredFileName(std::string& path, std::string_view fileId, int manifestKind);

// Size and time of the stored files <folder>/<first two characters of ID>/<ID> of one Manifest.db backup.
class StoredFileLookup final {
public:
    // folder ends with "/".
    explicit StoredFileLookup(std::string folder);

    // Sets the node's size and time from its stored file; leaves them when the file cannot be read.
    void Read(FileNode& node);

private:
    std::string folder_;
    // The folder opened once, so that the kernel walks two components per file instead of the whole path; not
    // open when the folder cannot be opened, and absolute paths are used.
    FileDescriptor folderFd_;
    std::string path_;
};

// A StoredFileLookup on a thread of its own, so that the kernel looks up stored files while the caller goes on
// reading the manifest. Nodes are read in the order they were added.
class StoredFileStatusReader final {
public:
    explicit StoredFileStatusReader(std::string folder);
    ~StoredFileStatusReader();
    StoredFileStatusReader(const StoredFileStatusReader&) = delete;
    StoredFileStatusReader& operator=(const StoredFileStatusReader&) = delete;

    // Until Finish returns, the node's size and time belong to the reader: the caller neither reads nor writes
    // them, and keeps the node and its FileID alive.
    void Add(FileNode& node);
    // Returns when every node added has been read.
    void Finish();

private:
    using Batch = std::vector<FileNode*>;
    static constexpr std::size_t BatchSize = 256;
    static constexpr std::size_t MaxWaitingBatches = 64;

    void Hand(Batch batch);
    void Run();

    StoredFileLookup lookup_;
    Batch filling_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable room_;
    std::deque<Batch> waiting_;
    bool finishing_ = false;
    // Not running when no thread could be started; nodes are then read as they are added.
    std::thread thread_;
};

} // namespace marrowick
