#include "core/crypto/ManifestDbDecryption.h"

#include "core/crypto/FileDecryptor.h"
#include "core/platform/Files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <new>

namespace marrowick {

namespace {

// Read in slices, so that a stop request is seen soon.
constexpr std::size_t SliceSize = std::size_t{16} << 20;

Failure Damaged(const std::string& path) {
    return Failure::Because(FailureStep::Read, path, FailureCause::DamagedManifestDb);
}

Result<SecretBytes> ReadWhole(const std::string& path, const std::stop_token& stop) {
    const Result<FileDescriptor> file = OpenRegularFileAt(AT_FDCWD, path);
    if (!file) {
        return file.Error();
    }
    struct stat status {};
    if (::fstat(file->Get(), &status) != 0) {
        return Failure::System(FailureStep::Read, path, errno);
    }
    if (static_cast<std::uint64_t>(status.st_size) > SIZE_MAX) {
        return Failure::Because(FailureStep::Read, path, FailureCause::TooLarge);
    }
    SecretBytes bytes(static_cast<std::size_t>(status.st_size));
    // A file that shrank since it was opened is damaged; bytes it grew by are not read.
    for (std::size_t done = 0; done < bytes.Size();) {
        if (stop.stop_requested()) {
            return Failure::Because(FailureStep::Read, path, FailureCause::Stopped);
        }
        const ssize_t n = ::read(file->Get(), bytes.Data() + done, std::min(SliceSize, bytes.Size() - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n == 0 ? Damaged(path) : Failure::System(FailureStep::Read, path, errno);
        }
        done += static_cast<std::size_t>(n);
    }
    return bytes;
}

} // namespace

std::optional<std::size_t> DecryptedManifestDbLength(std::string_view plaintext) {
    if (plaintext.size() < SqliteHeader.size() + 2 || !plaintext.starts_with(SqliteHeader)) {
        return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(plaintext.data());
    const unsigned stored = unsigned{bytes[16]} << 8 | bytes[17];
    const std::size_t pageSize = stored == 1 ? 65536 : stored;
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0) {
        return std::nullopt;
    }
    const std::size_t length = plaintext.size();
    if (length % pageSize == 0) {
        return length;
    }
    const std::size_t padding = bytes[length - 1];
    const bool padded = padding >= 1 && padding <= FileDecryptor::BlockSize &&
                        std::all_of(bytes + length - padding, bytes + length,
                                    [padding](unsigned char byte) { return byte == padding; });
    if (!padded || (length - padding) % pageSize != 0) {
        return std::nullopt;
    }
    return length - padding;
}

Result<SecretBytes> ReadManifestDbFile(const std::string& path, const std::stop_token& stop) {
    try {
        return ReadWhole(path, stop);
    } catch (const std::bad_alloc&) {
        return Failure::Because(FailureStep::Read, path, FailureCause::OutOfMemory);
    }
}

Result<void> DecryptManifestDbInPlace(SecretBytes& bytes, const std::string& path, const SecretBytes& key) {
    if (bytes.Empty() || bytes.Size() % FileDecryptor::BlockSize != 0) {
        return Damaged(path);
    }
    Result<FileDecryptor> decryptor = FileDecryptor::Make(key, FileDecryptor::Padding::Keep);
    if (!decryptor) {
        return decryptor.Error();
    }
    // Without padding, whole blocks decrypt to as many bytes and none is held back, so they can overwrite themselves.
    if (const Result<std::size_t> decrypted = decryptor->Update(bytes.View(), bytes.Data()); !decrypted) {
        return decrypted.Error();
    }
    const std::optional<std::size_t> length = DecryptedManifestDbLength(bytes.View());
    if (!length) {
        return Damaged(path);
    }
    bytes.Shrink(*length);
    return {};
}

Result<SecretBytes> DecryptManifestDb(const std::string& path, const SecretBytes& key) {
    Result<SecretBytes> bytes = ReadManifestDbFile(path);
    if (!bytes) {
        return bytes;
    }
    if (const Result<void> decrypted = DecryptManifestDbInPlace(*bytes, path, key); !decrypted) {
        return decrypted.Error();
    }
    return bytes;
}

Result<SecretBytes> ReadPlainManifestDb(const std::string& path) {
    Result<SecretBytes> bytes = ReadManifestDbFile(path);
    if (bytes && !bytes->View().starts_with(SqliteHeader)) {
        return Damaged(path);
    }
    return bytes;
}
Result<InMemoryDatabase> OpenInMemoryDatabase(SecretBytes bytes) {
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    InMemoryDatabase database{std::move(bytes), SqliteDatabase(raw)};
    // A database left in WAL mode would want a WAL file beside it, which memory has none of; all it holds is in the
    // main file, so it reads as a rollback-journal one.
    unsigned char* header = database.Bytes.Data();
    if (database.Bytes.Size() >= 20 && header[18] == 2 && header[19] == 2) {
        header[18] = 1;
        header[19] = 1;
    }
    const auto size = static_cast<sqlite3_int64>(database.Bytes.Size());
    // No SQLITE_DESERIALIZE_FREEONCLOSE: the bytes are ours to wipe, not SQLite's to free.
    if (opened != SQLITE_OK ||
        sqlite3_deserialize(raw, "main", database.Bytes.Data(), size, size, SQLITE_DESERIALIZE_READONLY) != SQLITE_OK) {
        Failure failure = Failure::Because(FailureStep::Open, {}, FailureCause::Library);
        failure.Detail = raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(opened);
        return failure;
    }
    return database;
}

} // namespace marrowick
