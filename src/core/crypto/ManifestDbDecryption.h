#pragma once

#include "core/crypto/SecretBytes.h"
#include "core/platform/Result.h"
#include "core/platform/SqliteHandles.h"

#include <cstddef>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace marrowick {

// An SQLite database opened read-only over bytes in memory. SQLite reads the bytes in place and does not own them:
// the connection is declared last, so that it closes before the bytes are wiped.
struct InMemoryDatabase {
    SecretBytes Bytes;
    SqliteDatabase Db;
};

// The length of a decrypted Manifest.db's content: all of it when it is whole pages, or without its last bytes when
// they are PKCS#7 padding after whole pages. Nothing when the bytes do not start with SQLite's header or neither
// holds.
[[nodiscard]] std::optional<std::size_t> DecryptedManifestDbLength(std::string_view plaintext);

// The whole Manifest.db file at path (a regular file, never reached through a link) in memory, as long as it was
// when opened: DamagedManifestDb when it shrinks while read, OutOfMemory when it does not fit, Stopped when stop is
// requested first, and as the file's open or read fails.
[[nodiscard]] Result<SecretBytes> ReadManifestDbFile(const std::string& path, const std::stop_token& stop = {});

// Decrypts Manifest.db's bytes, read from path, where they lie: AES-256-CBC, zero IV, padding as
// DecryptedManifestDbLength finds it. Fails with DamagedManifestDb when their length is not a non-zero multiple of 16
// or the result is not an SQLite database.
[[nodiscard]] Result<void> DecryptManifestDbInPlace(SecretBytes& bytes, const std::string& path,
                                                    const SecretBytes& key);

// ReadManifestDbFile, then DecryptManifestDbInPlace.
[[nodiscard]] Result<SecretBytes> DecryptManifestDb(const std::string& path, const SecretBytes& key);

// The same bytes read as they are, for a backup whose Manifest.db is not encrypted; DamagedManifestDb when they are
// no SQLite database.
[[nodiscard]] Result<SecretBytes> ReadPlainManifestDb(const std::string& path);

// Opens database bytes read-only in memory (sqlite3_deserialize); Library with SQLite's words when it refuses.
[[nodiscard]] Result<InMemoryDatabase> OpenInMemoryDatabase(SecretBytes bytes);

} // namespace marrowick
