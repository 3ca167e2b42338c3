#include "core/crypto/ManifestDbDecryption.h"

#include "core/crypto/FileDecryptor.h"
#include "core/platform/Files.h"
#include "core/platform/SqliteHandles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>

namespace marrowick {

namespace {

constexpr std::size_t Block = FileDecryptor::BlockSize;
constexpr std::size_t HeaderBytes = 32;

Failure Damaged(const std::string& path) {
    return Failure::Because(FailureStep::Read, path, FailureCause::DamagedManifestDb);
}

std::string_view View(const unsigned char* bytes, std::size_t size) {
    return {reinterpret_cast<const char*>(bytes), size};
}

} // namespace

std::optional<std::uint64_t> DecryptedManifestDbLength(std::string_view header, std::uint64_t length,
                                                       std::string_view lastBlock) {
    if (header.size() < SqliteHeader.size() + 2 || !header.starts_with(SqliteHeader)) {
        return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(header.data());
    const unsigned stored = unsigned{bytes[16]} << 8 | bytes[17];
    const std::uint64_t pageSize = stored == 1 ? 65536 : stored;
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0) {
        return std::nullopt;
    }
    if (length % pageSize == 0) {
        return length;
    }
    const std::size_t padding = lastBlock.empty() ? 0 : static_cast<unsigned char>(lastBlock.back());
    const bool padded = padding >= 1 && padding <= Block && padding <= lastBlock.size() && padding <= length &&
                        std::all_of(lastBlock.end() - static_cast<std::ptrdiff_t>(padding), lastBlock.end(),
                                    [padding](char byte) { return static_cast<unsigned char>(byte) == padding; });
    if (!padded || (length - padding) % pageSize != 0) {
        return std::nullopt;
    }
    return length - padding;
}

std::optional<std::size_t> DecryptedManifestDbLength(std::string_view plaintext) {
    const std::string_view last = plaintext.substr(plaintext.size() - std::min(plaintext.size(), Block));
    const std::optional<std::uint64_t> length = DecryptedManifestDbLength(plaintext, plaintext.size(), last);
    return length ? std::optional<std::size_t>(static_cast<std::size_t>(*length)) : std::nullopt;
}

Result<ManifestDbFile> ManifestDbFile::Open(const std::string& path, const SecretBytes* key) {
    Result<FileDescriptor> file = OpenRegularFileAt(AT_FDCWD, path);
    if (!file) {
        return file.Error();
    }
    struct stat status {};
    if (::fstat(file->Get(), &status) != 0) {
        return Failure::System(FailureStep::Read, path, errno);
    }
    CipherContext context;
    if (key != nullptr) {
        context = MakeAesCbcDecryption(*key, false);
        if (!context) {
            Failure failure = Failure::Because(FailureStep::Read, path, FailureCause::Library);
            failure.Detail = "the AES-256-CBC decryption cannot start";
            return failure;
        }
    }
    ManifestDbFile opened(std::move(*file), std::move(context));
    if (!opened.FindLength(static_cast<std::uint64_t>(status.st_size))) {
        return Damaged(path);
    }
    return opened;
}

bool ManifestDbFile::FindLength(std::uint64_t storedSize) {
    unsigned char header[HeaderBytes];
    const std::size_t headerSize = static_cast<std::size_t>(std::min<std::uint64_t>(HeaderBytes, storedSize));
    if (!context_) {
        if (!ReadStored(0, headerSize, header) || !View(header, headerSize).starts_with(SqliteHeader)) {
            return false;
        }
        length_ = storedSize;
        return true;
    }
    unsigned char last[Block];
    if (storedSize == 0 || storedSize % Block != 0 || !Decrypt(0, headerSize, header) ||
        !Decrypt(storedSize - Block, Block, last)) {
        return false;
    }
    const std::optional<std::uint64_t> length =
        DecryptedManifestDbLength(View(header, headerSize), storedSize, View(last, Block));
    if (!length) {
        return false;
    }
    length_ = *length;
    return true;
}

bool ManifestDbFile::Read(std::uint64_t offset, std::size_t size, unsigned char* out) {
    if (offset > length_ || size > length_ - offset) {
        return false;
    }
    return context_ ? Decrypt(offset, size, out) : ReadStored(offset, size, out);
}

bool ManifestDbFile::ReadStored(std::uint64_t offset, std::size_t size, unsigned char* out) const {
    for (std::size_t done = 0; done < size;) {
        const ssize_t got = ::pread(file_.Get(), out + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// CBC decrypts any whole block from the block before it: the bytes asked for are decrypted from the blocks that
// hold them and the one before, read in one go.
bool ManifestDbFile::Decrypt(std::uint64_t offset, std::size_t size, unsigned char* out) {
    static constexpr unsigned char ZeroIv[Block] = {};
    const std::uint64_t first = offset / Block * Block;
    const std::uint64_t end = (offset + size + Block - 1) / Block * Block;
    const std::uint64_t from = first == 0 ? 0 : first - Block;
    const auto blocks = static_cast<std::size_t>(end - first);
    if (blocks > INT_MAX) {
        return false;
    }
    cipher_.resize(static_cast<std::size_t>(end - from));
    if (!ReadStored(from, cipher_.size(), cipher_.data())) {
        return false;
    }
    const unsigned char* iv = first == 0 ? ZeroIv : cipher_.data();
    const bool aligned = offset == first && size == blocks;
    unsigned char* plain = out;
    if (!aligned) {
        plain_.resize(blocks);
        plain = plain_.data();
    }
    int written = 0;
    if (EVP_DecryptInit_ex2(context_.get(), nullptr, nullptr, iv, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(context_.get(), 0) != 1 ||
        EVP_DecryptUpdate(context_.get(), plain, &written, cipher_.data() + (first - from), static_cast<int>(blocks)) !=
            1 ||
        static_cast<std::size_t>(written) != blocks) {
        return false;
    }
    if (!aligned) {
        std::memcpy(out, plain_.data() + (offset - first), size);
    }
    return true;
}

} // namespace marrowick
