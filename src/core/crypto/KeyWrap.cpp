#include "core/crypto/KeyWrap.h"

#include "core/crypto/OpensslHandles.h"

namespace marrowick {

namespace {

constexpr std::size_t WrappedSize = 40;
constexpr std::size_t KeySize = 32;

const EVP_CIPHER* KeyWrapCipher() {
    static const FetchedCipher cipher(EVP_CIPHER_fetch(nullptr, "AES-256-WRAP", nullptr));
    return cipher.get();
}

} // namespace

std::optional<SecretBytes> UnwrapKey(const SecretBytes& key, std::string_view wrapped) {
    const CipherContext context(EVP_CIPHER_CTX_new());
    if (wrapped.size() != WrappedSize || key.Size() != KeySize || !context || KeyWrapCipher() == nullptr ||
        EVP_DecryptInit_ex2(context.get(), KeyWrapCipher(), key.Data(), nullptr, nullptr) != 1) {
        return std::nullopt;
    }
    SecretBytes unwrapped(KeySize);
    int written = 0;
    if (EVP_DecryptUpdate(context.get(), unwrapped.Data(), &written,
                          reinterpret_cast<const unsigned char*>(wrapped.data()),
                          static_cast<int>(wrapped.size())) != 1 ||
        written != static_cast<int>(KeySize)) {
        return std::nullopt;
    }
    return unwrapped;
}

} // namespace marrowick
