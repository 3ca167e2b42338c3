#include "core/crypto/KeyDerivation.h"

#include <openssl/evp.h>

#include <string_view>

namespace marrowick {

namespace {

constexpr std::size_t KeySize = 32;

// One PBKDF2 run into a new buffer; the keybag parser kept iterations within an int.
Result<SecretBytes> Pbkdf2(const SecretBytes& secret, std::string_view salt, std::uint32_t iterations,
                           const EVP_MD* digest) {
    SecretBytes key(KeySize);
    if (PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(secret.Data()), static_cast<int>(secret.Size()),
                          reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                          static_cast<int>(iterations), digest, static_cast<int>(key.Size()), key.Data()) != 1) {
        Failure failure = Failure::Because(FailureStep::Check, {}, FailureCause::Library);
        failure.Detail = "PBKDF2 failed";
        return failure;
    }
    return key;
}

} // namespace

Result<SecretBytes> DerivePasswordKey(const Keybag& keybag, const SecretBytes& password) {
    if (!keybag.TwoStage()) {
        return Pbkdf2(password, keybag.Salt, keybag.Iterations, EVP_sha1());
    }
    const Result<SecretBytes> first =
        Pbkdf2(password, *keybag.DoubleProtectionSalt, *keybag.DoubleProtectionIterations, EVP_sha256());
    if (!first) {
        return first.Error();
    }
    return Pbkdf2(*first, keybag.Salt, keybag.Iterations, EVP_sha1());
}

} // namespace marrowick
