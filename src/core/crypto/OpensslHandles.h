#pragma once

#include <openssl/evp.h>

#include <memory>

namespace marrowick {

// Owners of libcrypto objects, so that no early return leaks a context or a fetched algorithm. Freeing a cipher
// context wipes the key schedule it holds.
struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
struct CipherFree {
    void operator()(EVP_CIPHER* cipher) const { EVP_CIPHER_free(cipher); }
};
struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct DigestFree {
    void operator()(EVP_MD* digest) const { EVP_MD_free(digest); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;
using FetchedCipher = std::unique_ptr<EVP_CIPHER, CipherFree>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;
using FetchedDigest = std::unique_ptr<EVP_MD, DigestFree>;

// AES-256-CBC, fetched once: naming it for each new context would look it up by name each time.
inline const EVP_CIPHER* AesCbc() {
    static const FetchedCipher cipher(EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr));
    return cipher.get();
}

} // namespace marrowick
