#include "core/backup/StoredFileStatus.h"

#include "core/backup/FileNode.h"
#include "core/backup/StoredFile.h"
#include "core/platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <utility>

namespace marrowick {

namespace {

int HexValue(char c) {
    return c <= '9' ? c - '0' : c - 'a' + 10;
}

} // namespace

StoredFileLookup::StoredFileLookup(const std::string& folder) {
    if (Result<FileDescriptor> opened = OpenFolderHandle(folder)) {
        folderFd_ = std::move(*opened);
    }
}

int StoredFileLookup::SubfolderFd(unsigned index) {
    if (!tried_.test(index)) {
        tried_.set(index);
        const char name[] = {"0123456789abcdef"[index >> 4], "0123456789abcdef"[index & 15], '\0'};
        subfolders_[index] =
            FileDescriptor(::openat(folderFd_.Get(), name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    return subfolders_[index].Get();
}

void StoredFileLookup::Read(FileNode& node) {
    const std::string_view fileId = node.FileID();
    if (!folderFd_.IsOpen() || !IsStoredFileId(fileId)) {
        return;
    }
    const int subfolder = SubfolderFd(static_cast<unsigned>(HexValue(fileId[0]) * 16 + HexValue(fileId[1])));
    if (subfolder < 0) {
        return;
    }
    char name[41];
    fileId.copy(name, 40);
    name[40] = '\0';
    struct stat status {};
    if (::fstatat(subfolder, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode)) {
        node.size_ = static_cast<std::uint32_t>(status.st_size);
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
