#include "core/backup/StoredFileStatus.h"

#include "core/backup/FileNode.h"

#include <sys/stat.h>
#include <system_error>
#include <utility>

namespace marrowick {

StoredFileLookup::StoredFileLookup(const std::string& folder) : files_(folder, ManifestKindDb) {}

void StoredFileLookup::Read(FileNode& node) {
    struct stat status {};
    if (files_.Status(node.FileID(), status)) {
        node.size_ = static_cast<std::uint64_t>(status.st_size);
        node.mtime_ = status.st_mtim.tv_sec;
    }
}

StoredFileStatusReader::StoredFileStatusReader(const std::string& folder) : lookup_(folder) {
    filling_.reserve(BatchSize);
}

StoredFileStatusReader::~StoredFileStatusReader() {
    Finish();
}

void StoredFileStatusReader::Add(FileNode& node) {
    filling_.push_back(&node);
    if (filling_.size() == BatchSize) {
        Hand(std::exchange(filling_, {}));
        filling_.reserve(BatchSize);
    }
}

void StoredFileStatusReader::Hand(Batch batch) {
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { Run(); });
        } catch (const std::system_error&) {
            for (FileNode* node : batch) {
                lookup_.Read(*node);
            }
            return;
        }
    }
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return waiting_.size() < MaxWaitingBatches; });
    waiting_.push_back(std::move(batch));
    work_.notify_one();
}

void StoredFileStatusReader::Run() {
    for (;;) {
        Batch batch;
        {
            std::unique_lock lock(mutex_);
            work_.wait(lock, [this] { return !waiting_.empty() || finishing_; });
            if (waiting_.empty()) {
                return;
            }
            batch = std::move(waiting_.front());
            waiting_.pop_front();
            room_.notify_one();
        }
        for (FileNode* node : batch) {
            lookup_.Read(*node);
        }
    }
}

void StoredFileStatusReader::Finish() {
    if (!thread_.joinable()) {
        // Too few files to be worth a thread, or none could be started.
        for (FileNode* node : std::exchange(filling_, {})) {
            lookup_.Read(*node);
        }
        return;
    }
    if (!filling_.empty()) {
        Hand(std::exchange(filling_, {}));
    }
    {
        const std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    work_.notify_one();
    thread_.join();
    finishing_ = false;
}

} // namespace marrowick
