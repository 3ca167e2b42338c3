#include "core/crypto/DecryptedCopy.h"

#include "core/platform/FileCopy.h"

#include <sys/stat.h>

#include <cerrno>

namespace marrowick {
namespace {

// Few enough system calls, and both buffers stay in the processor's cache between reading, decrypting and writing.
constexpr std::size_t ChunkBytes = std::size_t{128} << 10;
// From this size on, a second thread writing while the next bytes are decrypted pays for its start.
constexpr off_t PipelinedBytes = off_t{4} << 20;

bool IsLarge(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 && status.st_size >= PipelinedBytes;
}

} // namespace

Result<void> DecryptedCopier::Copy(std::string_view wrappedKey, int sourceFd, int targetFolderFd,
                                   const std::string& targetName, std::int64_t mtime) {
    Result<FileDecryptor> decryptor = backup_->MakeFileDecryptor(wrappedKey);
    if (!decryptor) {
        Failure failure = decryptor.Error();
        failure.Step = FailureStep::Check;
        failure.Path = targetName;
        return failure;
    }
    if (!cipher_) {
        // Not zeroed: every byte written out was decrypted into them first.
        cipher_ = std::make_unique_for_overwrite<char[]>(ChunkBytes);
        plain_ = std::make_unique_for_overwrite<unsigned char[]>(ChunkBytes + FileDecryptor::BlockSize);
    }
    return CopyWholeFileThrough([this, &decryptor](int in, int out) { return WriteDecrypted(*decryptor, in, out); },
                                sourceFd, targetFolderFd, targetName, mtime);
}

Result<void> DecryptedCopier::WriteDecrypted(FileDecryptor& decryptor, int in, int out) {
    if (IsLarge(in)) {
        return pipeline_.Run(decryptor, in, out);
    }
    const auto write = [this, out](std::size_t bytes) -> Result<void> {
        if (const int error = WriteAll(out, reinterpret_cast<const char*>(plain_.get()), bytes); error != 0) {
            return Failure::System(FailureStep::Write, {}, error);
        }
        return {};
    };
    for (;;) {
        const ssize_t got = ReadSome(in, cipher_.get(), ChunkBytes);
        if (got < 0) {
            return Failure::System(FailureStep::Write, {}, errno);
        }
        if (got == 0) {
            break;
        }
        const Result<std::size_t> decrypted =
            decryptor.Update({cipher_.get(), static_cast<std::size_t>(got)}, plain_.get());
        if (!decrypted) {
            return decrypted.Error();
        }
        if (Result<void> written = write(*decrypted); !written) {
            return written;
        }
    }
    const Result<std::size_t> last = decryptor.Finish(plain_.get());
    if (!last) {
        return last.Error();
    }
    return write(*last);
}

} // namespace marrowick
