#include "core/crypto/DecryptedCopy.h"

#include "core/platform/FileCopy.h"

#include <cerrno>
#include <unistd.h>
#include <vector>

namespace marrowick {
namespace {

constexpr std::size_t ChunkBytes = std::size_t{1} << 20;

Result<void> WriteDecrypted(FileDecryptor& decryptor, int in, int out) {
    std::vector<char> cipher(ChunkBytes);
    std::vector<unsigned char> plain(ChunkBytes + FileDecryptor::BlockSize);
    const auto write = [out, &plain](std::size_t bytes) -> Result<void> {
        if (const int error = WriteAll(out, reinterpret_cast<const char*>(plain.data()), bytes); error != 0) {
            return Failure::System(FailureStep::Write, {}, error);
        }
        return {};
    };
    for (;;) {
        const ssize_t got = ::read(in, cipher.data(), cipher.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return Failure::System(FailureStep::Write, {}, errno);
        }
        if (got == 0) {
            break;
        }
        const Result<std::size_t> decrypted =
            decryptor.Update({cipher.data(), static_cast<std::size_t>(got)}, plain.data());
        if (!decrypted) {
            return decrypted.Error();
        }
        if (Result<void> written = write(*decrypted); !written) {
            return written;
        }
    }
    const Result<std::size_t> last = decryptor.Finish(plain.data());
    if (!last) {
        return last.Error();
    }
    return write(*last);
}

} // namespace

Result<void> CopyDecryptedFile(const UnlockedBackup& backup, std::string_view wrappedKey, int sourceFd,
                               int targetFolderFd, const std::string& targetName, std::int64_t mtime) {
    Result<FileDecryptor> decryptor = backup.MakeFileDecryptor(wrappedKey);
    if (!decryptor) {
        Failure failure = decryptor.Error();
        failure.Step = FailureStep::Check;
        failure.Path = targetName;
        return failure;
    }
    return CopyWholeFileThrough([&decryptor](int in, int out) { return WriteDecrypted(*decryptor, in, out); }, sourceFd,
                                targetFolderFd, targetName, mtime);
}

} // namespace marrowick
