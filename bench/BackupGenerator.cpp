#include "BackupGenerator.h"

#include "core/backup/Sha1.h"
#include "support/SampleBackup.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowick::bench {

namespace {

namespace fs = std::filesystem;

std::string FileId(const SyntheticEntry& entry) {
    Sha1Digest digest{};
    Sha1String(entry.Domain + "-" + entry.RelativePath, digest);
    return Sha1DigestHex(digest);
}

// One file in 500 is a link, which has no stored file.
bool IsLink(const SyntheticEntry& entry, std::uint64_t serial) {
    return !entry.IsFolder && serial % 500 == 0;
}

// A record as a device writes it, with a size and times the (empty) stored file does not have: one file in 1,000
// is over 4 GiB, and every file carries a wrapped key, as real records do.
std::string MakeRecord(const SyntheticEntry& entry, std::uint64_t serial, bool link) {
    testing::MbFileFields fields;
    fields.RelativePath = entry.RelativePath;
    fields.LastModified = 1500000000 + static_cast<std::int64_t>(serial);
    fields.Birth = fields.LastModified - 86400;
    fields.LastStatusChange = fields.LastModified + 60;
    fields.InodeNumber = static_cast<std::int64_t>(serial);
    if (entry.IsFolder) {
        fields.Mode = 040755;
        fields.ProtectionClass = 0;
    } else if (link) {
        fields.Mode = 0120755;
        fields.Target = "/private/var/mobile/" + entry.RelativePath + ".target";
    } else {
        fields.Size = serial % 1000 == 0 ? (std::uint64_t{5} << 30) + serial : serial * 37;
        fields.EncryptionKey = std::string("\x03\x00\x00\x00", 4) + std::string(40, static_cast<char>(serial));
    }
    return testing::MakeMbFileRecord(fields);
}

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", digits, value);
    return text;
}

class EntryMaker {
public:
    explicit EntryMaker(std::uint32_t seed) : random_(seed) {}

    void File(const std::string& domain, const std::string& path) {
        AddFolders(domain, path);
        entries_.push_back({domain, path, false});
    }

    std::vector<SyntheticEntry> Take() { return std::move(entries_); }
    std::size_t Size() const { return entries_.size(); }
    std::uint32_t Next(std::uint32_t bound) { return random_() % bound; }

private:
    // Most real folders have a row of their own; a few are only implied by the files below them.
    void AddFolders(const std::string& domain, const std::string& path) {
        for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
            std::string folder = domain + "-" + path.substr(0, slash);
            if (folders_.insert(folder).second && Next(10) != 0) {
                entries_.push_back({domain, path.substr(0, slash), true});
            }
        }
        if (folders_.insert(domain + "-").second) {
            entries_.push_back({domain, "", true});
        }
    }

    std::mt19937 random_;
    std::vector<SyntheticEntry> entries_;
    std::set<std::string> folders_;
};

bool WriteMarker(const std::string& folder) {
    return static_cast<bool>(std::ofstream(folder + CompleteMarker) << "done\n");
}

bool HasMarker(const std::string& folder) {
    return fs::exists(folder + CompleteMarker);
}

} // namespace

std::vector<SyntheticEntry> MakeSyntheticEntries(std::size_t count, std::uint32_t seed) {
    EntryMaker maker(seed);
    const std::size_t cameraRoll = std::min<std::size_t>(100000, count / 2);
    for (std::size_t i = 0; i < cameraRoll; ++i) {
        maker.File("CameraRollDomain", "Media/DCIM/100APPLE/IMG_" + std::to_string(100000 + i) + ".HEIC");
    }
    std::size_t serial = 0;
    while (maker.Size() < count) {
        const std::uint32_t kind = maker.Next(100);
        ++serial;
        if (kind < 45) {
            const std::uint32_t app = maker.Next(300);
            const std::string domain = "AppDomain-com.example.application" + std::to_string(app);
            const std::uint32_t area = maker.Next(4);
            if (area == 0) {
                maker.File(domain, "Library/Caches/com.example.application" + std::to_string(app) + "/fsCachedData/" +
                                       Hex(static_cast<std::uint32_t>(serial * 2654435761U), 8) + "-" +
                                       Hex(maker.Next(65536), 4) + "-4E2A-9C31-" + Hex(maker.Next(1U << 24), 12));
            } else if (area == 1) {
                maker.File(domain,
                           "Documents/" + std::to_string(maker.Next(20)) + "/item" + std::to_string(serial) + ".dat");
            } else if (area == 2) {
                maker.File(domain, "Library/Preferences/com.example.application" + std::to_string(app) + "." +
                                       std::to_string(maker.Next(40)) + ".plist");
            } else {
                maker.File(domain, "Library/Application Support/Store/" + Hex(maker.Next(256), 2) + "/blob" +
                                       std::to_string(serial));
            }
        } else if (kind < 70) {
            maker.File("HomeDomain", "Library/SMS/Attachments/" + Hex(maker.Next(256), 2) + "/" +
                                         std::to_string(maker.Next(100)) + "/" +
                                         Hex(static_cast<std::uint32_t>(serial * 40503U), 8) + "/IMG_" +
                                         std::to_string(serial) + ".jpeg");
        } else if (kind < 80) {
            maker.File("MediaDomain", "Media/PhotoData/Thumbnails/V2/DCIM/100APPLE/IMG_" +
                                          std::to_string(maker.Next(200000)) + ".HEIC/" +
                                          std::to_string(maker.Next(6)) + ".JPG");
        } else if (kind < 88) {
            maker.File("AppDomainGroup-group.com.example.shared" + std::to_string(maker.Next(60)),
                       "Library/Caches/" + std::to_string(maker.Next(30)) + "/entry" + std::to_string(serial));
        } else if (kind < 94) {
            maker.File("HomeDomain", "Library/" + std::string(maker.Next(2) != 0 ? "Mail" : "Notes") + "/" +
                                         std::to_string(maker.Next(500)) + "/part" + std::to_string(serial) + ".emlx");
        } else if (kind < 97) {
            maker.File("SysContainerDomain-systemgroup.com.apple.service" + std::to_string(maker.Next(20)),
                       "Library/Caches/file" + std::to_string(serial));
        } else {
            static const char* const Singles[] = {"WirelessDomain", "HealthDomain",   "KeychainDomain",
                                                  "RootDomain",     "DatabaseDomain", "SystemPreferencesDomain"};
            maker.File(Singles[maker.Next(6)],
                       "Library/data/" + std::to_string(maker.Next(50)) + "/f" + std::to_string(serial));
        }
    }
    std::vector<SyntheticEntry> entries = maker.Take();
    entries.resize(count);
    std::shuffle(entries.begin(), entries.end(), std::mt19937(seed + 1));
    return entries;
}

bool EnsureManifestDbBackup(const std::string& folder, const std::vector<SyntheticEntry>& entries) {
    if (HasMarker(folder)) {
        return true;
    }
    std::error_code error;
    fs::remove_all(folder, error);
    fs::create_directories(folder, error);
    for (int sub = 0; sub < 256; ++sub) {
        fs::create_directory(folder + "/" + Hex(static_cast<std::uint32_t>(sub), 2), error);
    }
    sqlite3* db = nullptr;
    if (sqlite3_open((folder + "/Manifest.db").c_str(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_exec(db,
                 "PRAGMA journal_mode=WAL; BEGIN;"
                 "CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, flags INTEGER, "
                 "file BLOB);"
                 "CREATE INDEX FilesDomainIdx ON Files(domain);"
                 "CREATE INDEX FilesRelativePathIdx ON Files(relativePath);"
                 "CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB);",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT OR IGNORE INTO Files VALUES (?, ?, ?, ?, ?)", -1, &insert, nullptr);
    bool ok = insert != nullptr;
    std::uint64_t serial = 0;
    for (const SyntheticEntry& entry : entries) {
        if (!ok) {
            break;
        }
        const std::string id = FileId(entry);
        const bool link = IsLink(entry, ++serial);
        const std::string blob = MakeRecord(entry, serial, link);
        sqlite3_bind_text(insert, 1, id.data(), static_cast<int>(id.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, entry.Domain.data(), static_cast<int>(entry.Domain.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, entry.RelativePath.data(), static_cast<int>(entry.RelativePath.size()),
                          SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 4, entry.IsFolder ? 2 : link ? 4 : 1);
        sqlite3_bind_blob(insert, 5, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
        ok = sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
        if (!entry.IsFolder && !link) {
            const std::string stored = folder + "/" + id.substr(0, 2) + "/" + id;
            const int fd = ::open(stored.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            ok = ok && fd >= 0;
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    sqlite3_finalize(insert);
    ok = ok && sqlite3_exec(db, "COMMIT; PRAGMA journal_mode=DELETE;", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok && WriteMarker(folder);
}

bool EnsureManifestMbdbBackup(const std::string& folder, const std::vector<SyntheticEntry>& entries) {
    if (HasMarker(folder)) {
        return true;
    }
    std::error_code error;
    fs::remove_all(folder, error);
    fs::create_directories(folder, error);
    std::string bytes("mbdb\x05\x00", 6);
    const auto appendNumber = [&bytes](std::uint64_t value, int width) {
        for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) {
            bytes.push_back(static_cast<char>((value >> shift) & 0xFF));
        }
    };
    const auto appendString = [&](const std::string& text) {
        appendNumber(text.size(), 2);
        bytes += text;
    };
    std::uint32_t serial = 0;
    for (const SyntheticEntry& entry : entries) {
        ++serial;
        appendString(entry.Domain);
        appendString(entry.RelativePath);
        appendNumber(0xFFFF, 2);                                             // link target
        appendString(entry.IsFolder ? std::string() : std::string(20, 'h')); // data hash
        appendNumber(0xFFFF, 2);                                             // encryption key
        appendNumber(entry.IsFolder ? 0x41ED : 0x81A4, 2);
        appendNumber(serial, 8); // inode
        appendNumber(501, 4);    // user
        appendNumber(501, 4);    // group
        for (int time = 0; time < 3; ++time) {
            appendNumber(1500000000 + serial, 4);
        }
        appendNumber(entry.IsFolder ? 0 : serial * 37ULL, 8);
        bytes.push_back('\x04'); // protection class
        const bool hasProperty = serial % 10 == 0;
        bytes.push_back(hasProperty ? '\x01' : '\x00');
        if (hasProperty) {
            appendString("com.apple.assetsd.customCreationDate");
            appendString(std::string(8, 'd'));
        }
    }
    std::ofstream out(folder + "/Manifest.mbdb", std::ios::binary);
    out << bytes;
    return static_cast<bool>(out) && WriteMarker(folder);
}

} // namespace marrowick::bench
