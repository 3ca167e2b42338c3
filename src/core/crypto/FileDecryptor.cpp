#include "core/crypto/FileDecryptor.h"

#include "core/platform/FileCopy.h"

#include <algorithm>
#include <cerrno>

namespace marrowick {

namespace {

// EVP's lengths are ints: larger inputs go through in slices.
constexpr std::size_t MaxSlice = std::size_t{1} << 30;

Failure LibraryFailure(const char* what) {
    Failure failure = Failure::Because(FailureStep::Read, {}, FailureCause::Library);
    failure.Detail = what;
    return failure;
}

} // namespace

CipherContext MakeAesCbcDecryption(const SecretBytes& key, bool stripPadding) {
    static constexpr unsigned char ZeroIv[FileDecryptor::BlockSize] = {};
    CipherContext context(EVP_CIPHER_CTX_new());
    if (!context || AesCbc() == nullptr ||
        key.Size() != static_cast<std::size_t>(EVP_CIPHER_get_key_length(AesCbc())) ||
        EVP_DecryptInit_ex2(context.get(), AesCbc(), key.Data(), ZeroIv, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(context.get(), stripPadding ? 1 : 0) != 1) {
        return nullptr;
    }
    return context;
}

Result<FileDecryptor> FileDecryptor::Make(const SecretBytes& key, Padding padding) {
    CipherContext context = MakeAesCbcDecryption(key, padding == Padding::Strip);
    if (!context) {
        return LibraryFailure("the AES-256-CBC decryption cannot start");
    }
    return FileDecryptor(std::move(context));
}

Result<std::size_t> FileDecryptor::Update(std::string_view in, unsigned char* out) {
    std::size_t written = 0;
    while (!in.empty()) {
        const std::string_view slice = in.substr(0, MaxSlice);
        int length = 0;
        if (EVP_DecryptUpdate(context_.get(), out + written, &length,
                              reinterpret_cast<const unsigned char*>(slice.data()),
                              static_cast<int>(slice.size())) != 1) {
            return LibraryFailure("AES-256-CBC decryption failed");
        }
        written += static_cast<std::size_t>(length);
        fed_ += slice.size();
        in.remove_prefix(slice.size());
    }
    return written;
}

Result<std::size_t> FileDecryptor::Finish(unsigned char* out) {
    if (fed_ == 0) {
        return std::size_t{0};
    }
    int length = 0;
    if (fed_ % BlockSize != 0 || EVP_DecryptFinal_ex(context_.get(), out, &length) != 1) {
        return Failure::Because(FailureStep::Read, {}, FailureCause::DamagedStoredFile);
    }
    return static_cast<std::size_t>(length);
}

Result<WholeFileDecryption> DecryptWholeFile(int fd, std::size_t size, FileDecryptor& decryptor, std::span<char> chunk,
                                             unsigned char* out, const std::stop_token& stop) {
    WholeFileDecryption done;
    // One byte more than size, to see the end.
    for (std::size_t read = 0;;) {
        if (stop.stop_requested()) {
            return Failure::System(FailureStep::Read, {}, ECANCELED);
        }
        const ssize_t got = ReadSome(fd, chunk.data(), std::min(chunk.size(), size + 1 - read));
        if (got < 0) {
            return Failure::System(FailureStep::Read, {}, errno);
        }
        if (got == 0) {
            break;
        }
        read += static_cast<std::size_t>(got);
        if (read > size) {
            done.Grew = true;
            return done;
        }
        const Result<std::size_t> decrypted =
            decryptor.Update({chunk.data(), static_cast<std::size_t>(got)}, out + done.Length);
        if (!decrypted) {
            return decrypted.Error();
        }
        done.Length += *decrypted;
    }
    const Result<std::size_t> last = decryptor.Finish(out + done.Length);
    if (!last) {
        return last.Error();
    }
    done.Length += *last;
    return done;
}

} // namespace marrowick
