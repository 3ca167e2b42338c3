#include "core/crypto/FileDecryptor.h"

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

} // namespace marrowick
