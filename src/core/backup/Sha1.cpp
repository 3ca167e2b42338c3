#include "core/backup/Sha1.h"

#include "core/crypto/OpensslHandles.h"

#include <cstdlib>

namespace marrowick {

namespace {

// Fetched once: an implicit fetch on each digest would search the providers for every file id of a manifest.
const EVP_MD* FetchedSha1() {
    static const FetchedDigest sha1(EVP_MD_fetch(nullptr, "SHA1", nullptr));
    return sha1.get();
}

} // namespace

void Sha1String(std::string_view bytes, Sha1Digest& digest) {
    // One context a thread, reused from one digest to the next.
    thread_local const DigestContext context(EVP_MD_CTX_new());
    unsigned int length = 0;
    if (!context || FetchedSha1() == nullptr || EVP_DigestInit_ex2(context.get(), FetchedSha1(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1 ||
        EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size()) {
        // Only a libcrypto without SHA-1 or out of memory gets here; a wrong file id would misname every file.
        std::abort();
    }
}

void Sha1DigestHex(const Sha1Digest& digest, char* out) {
    static constexpr char Digits[] = "0123456789abcdef";
    for (const unsigned char byte : digest) {
        *out++ = Digits[byte >> 4];
        *out++ = Digits[byte & 0xF];
    }
}

std::string Sha1DigestHex(const Sha1Digest& digest) {
    std::string text(40, '\0');
    Sha1DigestHex(digest, text.data());
    return text;
}

} // namespace marrowick
