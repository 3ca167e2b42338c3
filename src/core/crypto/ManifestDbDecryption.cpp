#include "core/crypto/ManifestDbDecryption.h"

#include "core/crypto/FileDecryptor.h"
#include "core/platform/Files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <new>

namespace marrowick {

namespace {

constexpr std::size_t ChunkSize = std::size_t{1} << 20;

Failure Damaged(const std::string& path) {
    return Failure::Because(FailureStep::Read, path, FailureCause::DamagedManifestDb);
}

// Database bytes read from a file: the whole length the file had when it was opened, each chunk passed to take.
class DatabaseFileReader {
public:
    explicit DatabaseFileReader(const std::string& path) : path_(path) {}

    [[nodiscard]] Result<std::uint64_t> Open() {
        Result<FileDescriptor> opened = OpenRegularFileAt(AT_FDCWD, path_);
        if (!opened) {
            return opened.Error();
        }
        file_ = std::move(*opened);
        struct stat status {};
        if (::fstat(file_.Get(), &status) != 0) {
            return Failure::System(FailureStep::Read, path_, errno);
        }
        size_ = static_cast<std::uint64_t>(status.st_size);
        return size_;
    }

    // A file that shrank since it was opened is damaged; bytes it grew by are not read.
    template <class Take>
    [[nodiscard]] Result<void> ReadChunks(Take take) {
        std::string chunk(static_cast<std::size_t>(std::min<std::uint64_t>(ChunkSize, size_)), '\0');
        for (std::uint64_t done = 0; done < size_;) {
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size_ - done));
            const ssize_t n = ::read(file_.Get(), chunk.data(), want);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return n == 0 ? Damaged(path_) : Failure::System(FailureStep::Read, path_, errno);
            }
            if (Result<void> taken = take(std::string_view(chunk.data(), static_cast<std::size_t>(n))); !taken) {
                return taken;
            }
            done += static_cast<std::uint64_t>(n);
        }
        return {};
    }

private:
    const std::string& path_;
    FileDescriptor file_;
    std::uint64_t size_ = 0;
};

Result<SecretBytes> Decrypt(const std::string& path, const SecretBytes& key) {
    DatabaseFileReader reader(path);
    const Result<std::uint64_t> size = reader.Open();
    if (!size) {
        return size.Error();
    }
    if (*size == 0 || *size % FileDecryptor::BlockSize != 0 || *size > SIZE_MAX) {
        return Damaged(path);
    }
    Result<FileDecryptor> decryptor = FileDecryptor::Make(key, FileDecryptor::Padding::Keep);
    if (!decryptor) {
        return decryptor.Error();
    }
    SecretBytes plaintext(static_cast<std::size_t>(*size));
    std::size_t written = 0;
    // Without padding the decryptor writes no more than it was given, so the file's size is room enough.
    const Result<void> read = reader.ReadChunks([&](std::string_view chunk) -> Result<void> {
        const Result<std::size_t> decrypted = decryptor->Update(chunk, plaintext.Data() + written);
        if (!decrypted) {
            return decrypted.Error();
        }
        written += *decrypted;
        return {};
    });
    if (!read) {
        return read.Error();
    }
    const std::optional<std::size_t> length = DecryptedManifestDbLength(plaintext.View().substr(0, written));
    if (!length) {
        return Damaged(path);
    }
    plaintext.Shrink(*length);
    return plaintext;
}

Result<SecretBytes> ReadPlain(const std::string& path) {
    DatabaseFileReader reader(path);
    const Result<std::uint64_t> size = reader.Open();
    if (!size) {
        return size.Error();
    }
    if (*size > SIZE_MAX) {
        return Failure::Because(FailureStep::Read, path, FailureCause::TooLarge);
    }
    SecretBytes bytes(static_cast<std::size_t>(*size));
    std::size_t written = 0;
    const Result<void> read = reader.ReadChunks([&](std::string_view chunk) -> Result<void> {
        std::memcpy(bytes.Data() + written, chunk.data(), chunk.size());
        written += chunk.size();
        return {};
    });
    if (!read) {
        return read.Error();
    }
    if (!bytes.View().starts_with(SqliteHeader)) {
        return Damaged(path);
    }
    return bytes;
}

template <class Read>
Result<SecretBytes> WithinMemory(const std::string& path, Read read) {
    try {
        return read();
    } catch (const std::bad_alloc&) {
        return Failure::Because(FailureStep::Read, path, FailureCause::OutOfMemory);
    }
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

Result<SecretBytes> DecryptManifestDb(const std::string& path, const SecretBytes& key) {
    return WithinMemory(path, [&] { return Decrypt(path, key); });
}

Result<SecretBytes> ReadPlainManifestDb(const std::string& path) {
    return WithinMemory(path, [&] { return ReadPlain(path); });
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
