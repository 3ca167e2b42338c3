#include "core/crypto/DecryptedCopy.h"

#include "core/platform/FileCopy.h"

namespace marrowick {
namespace {

Failure KeyFailure(Failure failure, const std::string& targetName) {
    failure.Step = FailureStep::Check;
    failure.Path = targetName;
    return failure;
}

} // namespace

Result<void> DecryptedCopier::Copy(const FileNode& node, int targetFolderFd, const std::string& targetName) {
    const PreparedFile& file = ahead_.Take(node);
    if (!file.Source) {
        return file.Source.Error();
    }
    const int source = file.Source->Get();
    switch (file.State) {
    case PreparedFile::Readiness::KeyRefused:
        return KeyFailure(file.Problem, targetName);
    case PreparedFile::Readiness::DoesNotDecrypt:
    case PreparedFile::Readiness::Decrypted:
        // A content that does not decrypt fails as a write would, after the same checks of the target.
        return CopyWholeFileThrough(
            [&file](int /*in*/, int out) -> Result<void> {
                if (file.State == PreparedFile::Readiness::DoesNotDecrypt) {
                    return file.Problem;
                }
                if (const int error = WriteAll(out, reinterpret_cast<const char*>(file.Content.get()), file.Length);
                    error != 0) {
                    return Failure::System(FailureStep::Write, {}, error);
                }
                return {};
            },
            source, targetFolderFd, targetName, node.MTime());
    case PreparedFile::Readiness::LeftToCaller:
        break;
    }
    Result<FileDecryptor> decryptor = backup_->MakeFileDecryptor(node.EncryptionKey());
    if (!decryptor) {
        return KeyFailure(decryptor.Error(), targetName);
    }
    return CopyWholeFileThrough([this, &decryptor](int in, int out) { return pipeline_.Run(*decryptor, in, out); },
                                source, targetFolderFd, targetName, node.MTime());
}

} // namespace marrowick
