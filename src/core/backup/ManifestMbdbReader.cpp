#include "core/backup/ManifestMbdbReader.h"

#include "core/backup/DomainMapping.h"
#include "core/backup/Sha1.h"
#include "core/platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowick {

namespace {

constexpr const char* ManifestName = "Manifest.mbdb";
constexpr std::uint64_t HeaderSize = 6;
constexpr std::size_t FixedBlockSize = 40;
constexpr std::size_t ReadBlockSize = 1 << 20;

std::uint64_t BigEndian(const unsigned char* p, int width) {
    std::uint64_t value = 0;
    for (int i = 0; i < width; ++i) {
        value = (value << 8) | p[i];
    }
    return value;
}

// Turns records into tree entries; keeps its buffers from one record to the next.
class MbdbRecordReader final {
public:
    explicit MbdbRecordReader(BackupTree& tree) : tree_(tree) {}

    enum class Outcome { Read, DoesNotFit };

    // Reads the record that begins at data[at]; on Read, at is moved past it. Nothing beyond data is touched.
    Outcome ReadRecord(std::string_view data, std::size_t& at) {
        std::size_t position = at;
        std::string_view domain;
        std::string_view path;
        std::string_view target;
        std::string_view key;
        std::string_view unused;
        if (!ReadString(data, position, domain) || !ReadString(data, position, path) ||
            !ReadString(data, position, target) || !ReadString(data, position, unused) ||
            !ReadString(data, position, key, false) || data.size() - position < FixedBlockSize) {
            return Outcome::DoesNotFit;
        }
        const auto* block = reinterpret_cast<const unsigned char*>(data.data() + position);
        position += FixedBlockSize;
        for (unsigned property = 0; property < 2U * block[39]; ++property) {
            if (!ReadString(data, position, unused)) {
                return Outcome::DoesNotFit;
            }
        }
        at = position;
        const std::string_view flags = FlagsOfType(static_cast<std::uint32_t>(BigEndian(block, 2)));
        if (!domain.empty() && !flags.empty()) {
            FillRecord(block, target, key);
            Insert(domain, path, flags);
        }
        return Outcome::Read;
    }

private:
    // The flags a Manifest.db row would have for the mode's type; empty for a type the tree does not show.
    static std::string_view FlagsOfType(std::uint32_t mode) {
        switch (mode & EntryRecord::TypeMask) {
        case EntryRecord::RegularType:
            return "1";
        case EntryRecord::FolderType:
            return "2";
        case EntryRecord::LinkType:
            return "4";
        default:
            return {};
        }
    }

    // The fixed block's fields; times are signed 32-bit seconds, as a file system before 2038 wrote them.
    void FillRecord(const unsigned char* block, std::string_view target, std::string_view key) {
        record_.Mode = static_cast<std::uint32_t>(BigEndian(block, 2));
        record_.LastModified = static_cast<std::int32_t>(BigEndian(block + 18, 4));
        record_.Birth = static_cast<std::int32_t>(BigEndian(block + 26, 4));
        record_.Size = BigEndian(block + 30, 8);
        record_.ProtectionClass = block[38];
        record_.Target.assign(target);
        record_.EncryptionKey.assign(key);
    }

    // A 2-byte length and its bytes, up to the first zero among them unless binary; 0xFFFF is the absent string.
    static bool ReadString(std::string_view data, std::size_t& position, std::string_view& value, bool text = true) {
        if (position > data.size() || data.size() - position < 2) {
            return false;
        }
        const std::uint64_t length = BigEndian(reinterpret_cast<const unsigned char*>(data.data() + position), 2);
        position += 2;
        if (length == 0xFFFF) {
            value = {};
            return true;
        }
        if (data.size() - position < length) {
            return false;
        }
        value = data.substr(position, length);
        if (text) {
            value = value.substr(0, value.find('\0'));
        }
        position += length;
        return true;
    }

    void Insert(std::string_view domain, std::string_view path, std::string_view flags) {
        hashInput_.assign(domain);
        hashInput_.push_back('-');
        hashInput_.append(path);
        Sha1Digest digest{};
        Sha1String(hashInput_, digest);
        char fileId[40];
        Sha1DigestHex(digest, fileId);
        DomainToDevicePath(domain, path, devicePath_);
        tree_.InsertIntoTree(FileEntry{devicePath_, std::string_view(fileId, sizeof fileId), flags, &record_});
    }

    BackupTree& tree_;
    EntryRecord record_;
    std::string hashInput_;
    std::string devicePath_;
};

} // namespace

void ReadManifestMbdbData(std::string_view data, BackupTree& tree) {
    tree.BeginBulkInsertion();
    MbdbRecordReader reader(tree);
    std::size_t at = HeaderSize;
    while (at + 10 < data.size() && reader.ReadRecord(data, at) == MbdbRecordReader::Outcome::Read) {
    }
    tree.FinishInsertion();
}

namespace {

Result<void> ReadRecordsFromFile(BackupTree& tree) {
    Result<FileDescriptor> opened = OpenRegularFileAt(AT_FDCWD, tree.BackupFolder() + ManifestName);
    if (!opened) {
        return Failure{opened.Error().Step, ManifestName, opened.Error().Cause, opened.Error().Error, {}};
    }
    const FileDescriptor& file = *opened;
    const auto readFailure = [] { return Failure::System(FailureStep::Read, ManifestName, errno); };
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) {
        return readFailure();
    }
    // Read in blocks so that a large manifest never sits whole in memory: buffer holds the file's bytes from
    // bufferStart on, and a record that runs past the buffer waits for the next block.
    std::uint64_t length = static_cast<std::uint64_t>(status.st_size);
    std::uint64_t bufferStart = 0;
    std::string buffer;
    std::size_t at = HeaderSize;
    const auto readMore = [&]() {
        const std::size_t consumed = std::min(at, buffer.size());
        buffer.erase(0, consumed);
        bufferStart += consumed;
        at -= consumed;
        const std::size_t old = buffer.size();
        const auto want = static_cast<std::size_t>(
            std::min<std::uint64_t>(std::max(ReadBlockSize, old), length - (bufferStart + old)));
        buffer.resize(old + want);
        std::size_t filled = old;
        while (filled < buffer.size()) {
            const ssize_t n = ::read(file.Get(), buffer.data() + filled, buffer.size() - filled);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return false;
            }
            if (n == 0) {
                length = bufferStart + filled; // the file shrank while it was read: what is there counts
                break;
            }
            filled += static_cast<std::size_t>(n);
        }
        buffer.resize(filled);
        return true;
    };
    MbdbRecordReader reader(tree);
    if (!readMore()) {
        return readFailure();
    }
    while (bufferStart + at + 10 < length) {
        if (reader.ReadRecord(buffer, at) == MbdbRecordReader::Outcome::Read) {
            continue;
        }
        if (bufferStart + buffer.size() >= length) {
            break; // a record cut off by the end of the file ends the parse
        }
        if (!readMore()) {
            return readFailure();
        }
    }
    return {};
}

} // namespace

Result<void> ReadManifestMbdb(BackupTree& tree) {
    tree.BeginBulkInsertion();
    Result<void> read = ReadRecordsFromFile(tree);
    tree.FinishInsertion();
    return read;
}

} // namespace marrowick
