#pragma once

#include "core/crypto/OpensslHandles.h"
#include "core/crypto/SecretBytes.h"
#include "core/platform/Result.h"

#include <cstdint>
#include <span>
#include <stop_token>
#include <string_view>
#include <utility>

namespace marrowick {

// An AES-256-CBC decryption with key and a zero IV, as backups use it; null when libcrypto refuses the key (not 32
// bytes). Removes PKCS#7 padding at the end when stripPadding.
[[nodiscard]] CipherContext MakeAesCbcDecryption(const SecretBytes& key, bool stripPadding);

// Decrypts a stored file (AES-256-CBC, zero IV) chunk by chunk into the caller's buffers, so that a file of any
// size passes through without a copy of its own. Fed all of the file's bytes, then finished once.
class FileDecryptor final {
public:
    // The block length, and what a call may write beyond the bytes given to it.
    static constexpr std::size_t BlockSize = 16;

    // Strip: the content ends with PKCS#7 padding, which Finish checks and removes (stored files). Keep: there is
    // none, and Finish only checks the length (Manifest.db); each call writes no more than the bytes fed so far.
    enum class Padding { Strip, Keep };

    // Fails (Library) only when libcrypto refuses the key, which is not 32 bytes.
    [[nodiscard]] static Result<FileDecryptor> Make(const SecretBytes& key, Padding padding = Padding::Strip);

    // Decrypts the next bytes of the file into out, which has room for in.size() + BlockSize bytes, and returns how
    // many it wrote: a block is held back until the next call or Finish.
    [[nodiscard]] Result<std::size_t> Update(std::string_view in, unsigned char* out);

    // The end of the file: writes the last plaintext bytes (at most BlockSize) into out and returns how many.
    // DamagedStoredFile when the file's length is not a multiple of the block length or its padding is wrong;
    // a file of no bytes is empty content.
    [[nodiscard]] Result<std::size_t> Finish(unsigned char* out);

private:
    explicit FileDecryptor(CipherContext context) : context_(std::move(context)) {}

    CipherContext context_;
    std::uint64_t fed_ = 0;
};

// What DecryptWholeFile made of a stored file.
struct WholeFileDecryption {
    std::size_t Length = 0; // plaintext bytes written
    bool Grew = false;      // the file holds more than it was measured to: nothing is finished, the rest is unread
};

// Reads fd to its end through chunk and decrypts it into out, which has room for size + BlockSize bytes: size is
// what the file held when it was measured. A file that now holds more stops the read (Grew); one that holds less
// is decrypted as far as it goes. A failed read gives its errno, a stop request ECANCELED (step Read, no path).
[[nodiscard]] Result<WholeFileDecryption> DecryptWholeFile(int fd, std::size_t size, FileDecryptor& decryptor,
                                                           std::span<char> chunk, unsigned char* out,
                                                           const std::stop_token& stop = {});

} // namespace marrowick
