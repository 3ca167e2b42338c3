#include "core/preview/EntryContent.h"

#include "core/backup/BackupTreeCache.h"
#include "core/backup/StoredFile.h"
#include "core/crypto/FileDecryptor.h"
#include "core/crypto/UnlockedBackups.h"
#include "core/platform/FileCopy.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>

namespace marrowick {
namespace {

// Small enough that a stop request is seen at once, large enough that the system calls cost nothing.
constexpr std::size_t ChunkBytes = std::size_t{1} << 20;

// From this size on the content's memory is asked for in large pages: each fresh page costs a fault, which is dear
// on a virtual machine, and 100 MB take 25,000 of them in 4 KiB pages against 50 in 2 MiB ones.
constexpr std::size_t LargePageFrom = std::size_t{32} << 20;
constexpr std::size_t LargePage = std::size_t{2} << 20;

// size zero bytes, in large pages where they can be had.
std::string FreshBuffer(std::size_t size) {
    std::string buffer;
    buffer.reserve(size);
    if (size >= LargePageFrom) {
        const std::size_t misalignment = reinterpret_cast<std::uintptr_t>(buffer.data()) % LargePage;
        const std::size_t skipped = misalignment == 0 ? 0 : LargePage - misalignment;
        // Only advice, taken before the memory is first touched: a refusal changes nothing.
        ::madvise(buffer.data() + skipped, (size - skipped) / LargePage * LargePage, MADV_HUGEPAGE);
    }
    buffer.resize(size);
    return buffer;
}

// Reads up to size bytes of fd into out, giving how many; a file that shrank gives fewer.
Result<std::size_t> ReadUpTo(int fd, char* out, std::size_t size, const std::string& path,
                             const std::stop_token& stop) {
    std::size_t done = 0;
    while (done < size) {
        if (stop.stop_requested()) {
            return Failure::System(FailureStep::Read, path, ECANCELED);
        }
        const ssize_t got = ReadSome(fd, out + done, std::min(ChunkBytes, size - done));
        if (got < 0) {
            return Failure::System(FailureStep::Read, path, errno);
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

Result<std::string> ReadPlain(int fd, std::size_t size, const std::string& path, const std::stop_token& stop) {
    std::string content = FreshBuffer(size);
    const Result<std::size_t> read = ReadUpTo(fd, content.data(), size, path, stop);
    if (!read) {
        return read.Error();
    }
    content.resize(*read);
    return content;
}

Result<std::string> ReadDecrypted(int fd, std::size_t size, FileDecryptor& decryptor, const std::string& path,
                                  const std::stop_token& stop) {
    std::string content = FreshBuffer(size + FileDecryptor::BlockSize);
    const auto cipher = std::make_unique_for_overwrite<char[]>(ChunkBytes);
    const Result<WholeFileDecryption> done = DecryptWholeFile(fd, size, decryptor, {cipher.get(), ChunkBytes},
                                                              reinterpret_cast<unsigned char*>(content.data()), stop);
    if (!done) {
        Failure failure = done.Error();
        failure.Path = path;
        return failure;
    }
    if (done->Grew) {
        return Failure::Because(FailureStep::Read, path, FailureCause::Changed);
    }
    content.resize(done->Length);
    return content;
}

// Why entry has no stored file to read, if it has none.
std::optional<Failure> WithoutStoredFile(const EntryToRead& entry) {
    if (entry.IsFolder) {
        return Failure::Because(FailureStep::Open, entry.Path, FailureCause::Folder);
    }
    if (entry.IsLink) {
        return Failure::Because(FailureStep::Open, entry.Path, FailureCause::DeviceLink);
    }
    if (entry.FileID.empty()) {
        return Failure::Because(FailureStep::Open, entry.Path, FailureCause::NoStoredFileId);
    }
    if (!IsStoredFileId(entry.FileID)) {
        return Failure::Because(FailureStep::Open, entry.Path, FailureCause::BadStoredFileId);
    }
    return std::nullopt;
}

} // namespace

EntryToRead EntryToRead::Of(const FileNode& node) {
    return EntryToRead{std::string(node.Path()), std::string(node.FileID()), std::string(node.EncryptionKey()),
                       node.IsFolder(), node.IsLink()};
}

Result<std::string> ReadEntryContent(const EntryToRead& entry, const std::string& backupFolder,
                                     ManifestKind manifestKind, std::size_t maxBytes, const std::stop_token& stop) {
    if (std::optional<Failure> none = WithoutStoredFile(entry)) {
        return *none;
    }
    const std::shared_ptr<const UnlockedBackup> unlocked = FindUnlockedBackup(backupFolder);
    if (!unlocked && ManifestPlistSaysEncrypted(backupFolder)) {
        return Failure::Because(FailureStep::Open, entry.Path, FailureCause::Encrypted);
    }
    StoredFiles storedFiles(backupFolder, manifestKind);
    Result<FileDescriptor> file = storedFiles.Open(entry.FileID);
    if (!file) {
        Failure failure = file.Error();
        failure.Path = entry.Path;
        return failure;
    }
    struct stat status {};
    if (::fstat(file->Get(), &status) != 0) {
        return Failure::System(FailureStep::Read, entry.Path, errno);
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (size > maxBytes) {
        return Failure::Because(FailureStep::Read, entry.Path, FailureCause::TooLarge);
    }
    try {
        if (!unlocked) {
            return ReadPlain(file->Get(), static_cast<std::size_t>(size), entry.Path, stop);
        }
        Result<FileDecryptor> decryptor = unlocked->MakeFileDecryptor(entry.EncryptionKey);
        if (!decryptor) {
            return Failure::Because(FailureStep::Open, entry.Path, decryptor.Error().Cause);
        }
        return ReadDecrypted(file->Get(), static_cast<std::size_t>(size), *decryptor, entry.Path, stop);
    } catch (const std::bad_alloc&) {
        return Failure::Because(FailureStep::Read, entry.Path, FailureCause::OutOfMemory);
    }
}

} // namespace marrowick
