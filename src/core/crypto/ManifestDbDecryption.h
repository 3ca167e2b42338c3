#pragma once

#include "core/crypto/OpensslHandles.h"
#include "core/crypto/SecretBytes.h"
#include "core/platform/FileDescriptor.h"
#include "core/platform/Result.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marrowick {

// The length of a decrypted Manifest.db's content, from its first 18 bytes (header), its length and its last block
// (lastBlock, up to 16 bytes): all of it when it is whole pages, or without its last bytes when they are PKCS#7
// padding after whole pages. Nothing when the header is not SQLite's or neither holds.
[[nodiscard]] std::optional<std::uint64_t> DecryptedManifestDbLength(std::string_view header, std::uint64_t length,
                                                                     std::string_view lastBlock);
// The same for a whole decrypted database.
[[nodiscard]] std::optional<std::size_t> DecryptedManifestDbLength(std::string_view plaintext);

// A backup's Manifest.db read at any offset, each read decrypted on its way (AES-256-CBC, zero IV, with the key of
// the manifest) so that no decrypted byte is kept but what the caller keeps; read as it is when there is no key.
class ManifestDbFile final {
public:
    // Opens the file at path (a regular file, never reached through a link). With a key, fails with
    // DamagedManifestDb when its length is not a non-zero multiple of 16 or it does not decrypt to an SQLite database;
    // without one, when it is no SQLite database.
    [[nodiscard]] static Result<ManifestDbFile> Open(const std::string& path, const SecretBytes* key);

    // The content's length (without padding).
    [[nodiscard]] std::uint64_t Length() const { return length_; }

    // Reads size bytes at offset, which lie within Length(), into out; false when the file no longer holds them.
    [[nodiscard]] bool Read(std::uint64_t offset, std::size_t size, unsigned char* out);

private:
    ManifestDbFile(FileDescriptor file, CipherContext context) : file_(std::move(file)), context_(std::move(context)) {}

    [[nodiscard]] bool ReadStored(std::uint64_t offset, std::size_t size, unsigned char* out) const;
    [[nodiscard]] bool Decrypt(std::uint64_t offset, std::size_t size, unsigned char* out);
    [[nodiscard]] bool FindLength(std::uint64_t storedSize);

    FileDescriptor file_;
    CipherContext context_; // null when the file is plain
    std::uint64_t length_ = 0;
    std::vector<unsigned char> cipher_;
    std::vector<unsigned char> plain_;
};

} // namespace marrowick
