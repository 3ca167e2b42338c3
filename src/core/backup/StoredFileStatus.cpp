#include "core/backup/StoredFileStatus.h"

#include "core/backup/FileNode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <utility>

namespace marrowick {

void AppendStoredFileName(std::string& path, std::string_view fileId, int manifestKind) {
    if (manifestKind == ManifestKindDb) {
        path.append(fileId.substr(0, 2));
        path.push_back('/');
    }
    path.append(fileId);
}

StoredFileLookup::StoredFileLookup(std::string folder)
    : folder_(std::move(folder)), folderFd_(::open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}

void StoredFileLookup::Read(FileNode& node) {
    const std::string_view fileId = node.FileID();
    if (fileId.empty()) {
        return;
    }
    path_.assign(folderFd_.IsOpen() ? std::string_view() : std::string_view(folder_));
    AppendStoredFileName(path_, fileId, ManifestKindDb);
    struct stat status {};
    if (::fstatat(folderFd_.IsOpen() ? folderFd_.Get() : AT_FDCWD, path_.c_str(), &status, 0) == 0) {
        node.size_ = static_cast<std::uint32_t>(status.st_size);
        node.mtime_ = status.st_mtim.tv_sec;
    }
}

StoredFileStatusReader::StoredFileStatusReader(std::string folder) : lookup_(std::move(folder)) {
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
