#pragma once

#include "core/backup/StoredFile.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace marrowick {

class FileNode;

// Size and time of the stored files of one Manifest.db backup. Only regular files count: a link, a FIFO or a folder
// at either place, or an id that names no stored file, leaves the node as it is.
class StoredFileLookup final {
public:
    // folder ends with "/".
    explicit StoredFileLookup(const std::string& folder);

    // Sets the node's size and time from its stored file; leaves them when the file cannot be read.
    void Read(FileNode& node);

private:
    StoredFiles files_;
};

// A StoredFileLookup on a thread of its own, so that the kernel looks up stored files while the caller goes on
// reading the manifest. Nodes are read in the order they were added.
class StoredFileStatusReader final {
public:
    explicit StoredFileStatusReader(const std::string& folder);
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
