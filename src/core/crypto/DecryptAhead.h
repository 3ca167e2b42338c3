#pragma once

#include "core/backup/FileNode.h"
#include "core/backup/ManifestKind.h"
#include "core/backup/StoredFile.h"
#include "core/crypto/FileDecryptor.h"
#include "core/crypto/UnlockedBackup.h"
#include "core/platform/FileDescriptor.h"
#include "core/platform/Result.h"

#include <array>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

namespace marrowick {

// A stored file of an encrypted backup as DecryptAhead hands it over: open, and when small, decrypted.
struct PreparedFile {
    enum class Readiness {
        LeftToCaller,   // open only: large, or its length changed while it was read
        KeyRefused,     // its record's key makes no decryptor: Problem says why
        DoesNotDecrypt, // its length or padding is wrong, or reading it failed: Problem says why
        Decrypted,      // Content holds the whole content
    };

    const FileNode* Node = nullptr;
    Result<FileDescriptor> Source = FileDescriptor(); // the stored file, or why it does not open
    Readiness State = Readiness::LeftToCaller;
    Failure Problem;
    std::unique_ptr<unsigned char[]> Content; // kept for the next file
    std::size_t Capacity = 0;
    std::size_t Length = 0;
};

// Opens the stored files that an export of selected will copy, in the order the export takes them, on a thread of
// its own, and reads and decrypts the small ones there: one file is read and decrypted while the export writes the
// one before. Holds a few files at a time; what it reads is never written anywhere by it.
class DecryptAhead final {
public:
    // From this size on a file is left open to the caller, who writes it while decrypting it.
    static constexpr std::size_t LargeBytes = std::size_t{4} << 20;

    // backupFolder ends with "/".
    DecryptAhead(std::shared_ptr<const UnlockedBackup> backup, const std::string& backupFolder,
                 ManifestKind manifestKind, const FileNode& selected);
    ~DecryptAhead(); // stops the thread, dropping what it holds
    DecryptAhead(const DecryptAhead&) = delete;
    DecryptAhead& operator=(const DecryptAhead&) = delete;

    // A file node with a stored file, which the export may copy: not a folder or link, with a valid FileID.
    [[nodiscard]] static bool HasStoredFile(const FileNode& node);

    // node's stored file (node HasStoredFile, and comes after the nodes of earlier calls in the export's order).
    // Files before it that the export passed over are dropped. Valid until the next call.
    [[nodiscard]] PreparedFile& Take(const FileNode& node);

private:
    static constexpr std::size_t SlotCount = 8;

    void PrepareAll(const std::stop_token& stop, const FileNode& selected);
    void Prepare(PreparedFile& file, const FileNode& node);
    void Decrypt(PreparedFile& file, FileDecryptor& decryptor, std::size_t size);
    void GiveBackTaken();

    std::shared_ptr<const UnlockedBackup> backup_;
    StoredFiles storedFiles_; // the thread's until it is done
    std::unique_ptr<char[]> cipher_;
    std::array<PreparedFile, SlotCount> slots_; // a ring: filled_ slots from first_ on are the thread's output
    PreparedFile spare_;                        // for a file the thread did not reach
    PreparedFile* taken_ = nullptr;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::size_t first_ = 0;
    std::size_t filled_ = 0;
    bool done_ = false;
    std::jthread thread_; // last, so that it stops before what it uses goes
};

} // namespace marrowick
