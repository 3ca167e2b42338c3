#include "core/crypto/DecryptAhead.h"

#include "core/backup/TreeWalk.h"
#include "core/platform/FileCopy.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <system_error>

namespace marrowick {
namespace {

// Few enough system calls, and the bytes read stay in the processor's cache until they are decrypted.
constexpr std::size_t ChunkBytes = std::size_t{128} << 10;

using Readiness = PreparedFile::Readiness;

} // namespace

DecryptAhead::DecryptAhead(std::shared_ptr<const UnlockedBackup> backup, const std::string& backupFolder,
                           ManifestKind manifestKind, const FileNode& selected)
    : backup_(std::move(backup)), storedFiles_(backupFolder, manifestKind),
      cipher_(std::make_unique_for_overwrite<char[]>(ChunkBytes)) {
    try {
        thread_ = std::jthread([this, &selected](const std::stop_token& stop) { PrepareAll(stop, selected); });
    } catch (const std::system_error&) {
        done_ = true; // each file is prepared on the caller's thread as it is taken
    }
}

DecryptAhead::~DecryptAhead() = default;

bool DecryptAhead::HasStoredFile(const FileNode& node) {
    return !node.IsFolder() && !node.IsLink() && IsStoredFileId(node.FileID());
}

PreparedFile& DecryptAhead::Take(const FileNode& node) {
    GiveBackTaken();
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return filled_ > 0 || done_; });
        if (filled_ == 0) {
            break;
        }
        PreparedFile& file = slots_[first_];
        if (file.Node == &node) {
            taken_ = &file;
            return file;
        }
        file.Source = FileDescriptor(); // the export did not copy it: its folder failed, say
        first_ = (first_ + 1) % SlotCount;
        --filled_;
        changed_.notify_all();
    }
    lock.unlock();
    // The thread is done without this file: only the caller's thread uses what it used.
    Prepare(spare_, node);
    taken_ = &spare_;
    return spare_;
}

void DecryptAhead::GiveBackTaken() {
    if (taken_ == nullptr) {
        return;
    }
    taken_->Source = FileDescriptor();
    if (taken_ != &spare_) {
        const std::scoped_lock lock(mutex_);
        first_ = (first_ + 1) % SlotCount;
        --filled_;
        changed_.notify_all();
    }
    taken_ = nullptr;
}

void DecryptAhead::PrepareAll(const std::stop_token& stop, const FileNode& selected) {
    const auto prepareNext = [this, &stop](const FileNode& node) {
        if (stop.stop_requested() || !HasStoredFile(node)) {
            return;
        }
        PreparedFile* file = nullptr;
        {
            std::unique_lock lock(mutex_);
            if (!changed_.wait(lock, stop, [this] { return filled_ < SlotCount; })) {
                return;
            }
            file = &slots_[(first_ + filled_) % SlotCount];
        }
        try {
            Prepare(*file, node);
        } catch (const std::bad_alloc&) {
            file->State = Readiness::LeftToCaller;
        }
        const std::scoped_lock lock(mutex_);
        ++filled_;
        changed_.notify_all();
    };
    prepareNext(selected);
    ForEachBelow(selected, prepareNext);
    const std::scoped_lock lock(mutex_);
    done_ = true;
    changed_.notify_all();
}

void DecryptAhead::Prepare(PreparedFile& file, const FileNode& node) {
    file.Node = &node;
    file.State = Readiness::LeftToCaller;
    file.Length = 0;
    file.Source = storedFiles_.Open(node.FileID());
    struct stat status {};
    if (!file.Source || ::fstat(file.Source->Get(), &status) != 0 ||
        static_cast<std::size_t>(status.st_size) >= LargeBytes) {
        return;
    }
    Result<FileDecryptor> decryptor = backup_->MakeFileDecryptor(node.EncryptionKey());
    if (!decryptor) {
        file.State = Readiness::KeyRefused;
        file.Problem = decryptor.Error();
        return;
    }
    const std::size_t size = static_cast<std::size_t>(status.st_size);
    if (file.Capacity < size + FileDecryptor::BlockSize) {
        file.Capacity = 0;
        // Not zeroed: every byte handed over was decrypted into it first.
        file.Content = std::make_unique_for_overwrite<unsigned char[]>(size + FileDecryptor::BlockSize);
        file.Capacity = size + FileDecryptor::BlockSize;
    }
    Decrypt(file, *decryptor, size);
}

// A file that grew since it was measured is left to the caller.
void DecryptAhead::Decrypt(PreparedFile& file, FileDecryptor& decryptor, std::size_t size) {
    const Result<WholeFileDecryption> done =
        DecryptWholeFile(file.Source->Get(), size, decryptor, {cipher_.get(), ChunkBytes}, file.Content.get());
    if (!done) {
        file.State = Readiness::DoesNotDecrypt;
        file.Problem = done.Error();
    } else if (!done->Grew) {
        file.Length = done->Length;
        file.State = Readiness::Decrypted;
    }
}

} // namespace marrowick
