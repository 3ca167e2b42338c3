#include "support/SampleBackup.h"
#include "support/Detail.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>

namespace marrowick::testing {

namespace {

namespace fs = std::filesystem;

void SetModificationTime(const fs::path& file, std::int64_t seconds) {
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
    if (utimensat(AT_FDCWD, file.c_str(), times, 0) != 0) {
        throw std::system_error(errno, std::generic_category(), "utimensat " + file.string());
    }
}

void OptionalString(detail::XmlPlistWriter& writer, const char* key, const std::optional<std::string>& value) {
    if (value) {
        writer.Key(key);
        writer.String(detail::XmlEscape(*value));
    }
}

// The keys a device really writes, in Apple's order, with a nested dict, a <data> and a <date> among them
// so that a reader has to skip values it does not want.
std::string InfoPlistXml(const SampleBackup& backup) {
    detail::XmlPlistWriter writer;
    writer.Key("Applications");
    writer.BeginDict();
    writer.Key("com.example.notes");
    writer.BeginDict();
    writer.Key("ApplicationSUPF");
    writer.Data("SUPF\x01\x02\x03 sample");
    writer.EndDict();
    writer.EndDict();
    writer.Key("Build Version");
    writer.String("18B92");
    OptionalString(writer, "Display Name", backup.DisplayName);
    writer.Key("GUID");
    writer.String("5D2F0A1B9C3E4F6789ABCDEF01234567");
    writer.Key("IMEI");
    writer.String("356789101234567");
    if (backup.InfoDate) {
        writer.Key("Last Backup Date");
        writer.Date(*backup.InfoDate);
    }
    OptionalString(writer, "Product Name", backup.ProductName);
    writer.Key("Product Type");
    writer.String("iPhone13,2");
    OptionalString(writer, "Product Version", backup.ProductVersion);
    OptionalString(writer, "Serial Number", backup.SerialNumber);
    writer.Key("Target Type");
    writer.String("Device");
    writer.Key("iTunes Version");
    writer.String("12.11.0.26");
    return writer.Finish();
}

std::string InfoPlistBinary(const SampleBackup& backup) {
    PlistDict dict = {{"Build Version", std::string("18B92")}};
    const auto add = [&dict](const char* key, const std::optional<std::string>& value) {
        if (value) {
            dict.emplace_back(key, *value);
        }
    };
    add("Display Name", backup.DisplayName);
    dict.emplace_back("GUID", std::string("5D2F0A1B9C3E4F6789ABCDEF01234567"));
    if (backup.InfoDate) {
        dict.emplace_back("Last Backup Date", PlistDate{*backup.InfoDate});
    }
    add("Product Name", backup.ProductName);
    dict.emplace_back("Product Type", std::string("iPhone13,2"));
    add("Product Version", backup.ProductVersion);
    add("Serial Number", backup.SerialNumber);
    dict.emplace_back("iTunes Version", std::string("12.11.0.26"));
    return MakeBinaryPlist(dict);
}

bool UsesDb(SampleManifest manifest) {
    return manifest == SampleManifest::Db || manifest == SampleManifest::Both;
}

bool UsesMbdb(SampleManifest manifest) {
    return manifest == SampleManifest::Mbdb || manifest == SampleManifest::Both;
}

std::string ManifestKey(const SampleEncryption& encryption) {
    return MakeWrappedRecordKey(encryption.ManifestKeyClass, SampleManifestDbKey());
}

// The wrapped key a regular file's record holds in an encrypted backup.
std::optional<std::string> RecordKey(const SampleBackup& backup, const SampleFile& file) {
    if (!backup.Encryption || file.IsFolder || !file.LinkTarget.empty()) {
        return std::nullopt;
    }
    return MakeWrappedRecordKey(backup.Encryption->FileKeyClass, SampleFileKey(SampleFileID(file)));
}

std::string ManifestPlistXml(const SampleBackup& backup) {
    detail::XmlPlistWriter writer;
    if (backup.ManifestDate) {
        writer.Key("Date");
        writer.Date(*backup.ManifestDate);
    }
    writer.Key("IsEncrypted");
    writer.Bool(backup.Encrypted || backup.Encryption);
    if (backup.Encryption) {
        writer.Key("BackupKeyBag");
        writer.Data(MakeKeybag(backup.Encryption->Keybag));
        if (UsesDb(backup.Manifest)) {
            writer.Key("ManifestKey");
            writer.Data(ManifestKey(*backup.Encryption));
        }
    }
    writer.Key("Version");
    writer.String("10.0");
    writer.Key("WasPasscodeSet");
    writer.Bool(false);
    return writer.Finish();
}

std::string ManifestPlistBinary(const SampleBackup& backup) {
    PlistDict dict;
    if (backup.ManifestDate) {
        dict.emplace_back("Date", PlistDate{*backup.ManifestDate});
    }
    dict.emplace_back("IsEncrypted", backup.Encrypted || backup.Encryption);
    if (backup.Encryption) {
        dict.emplace_back("BackupKeyBag", PlistData{MakeKeybag(backup.Encryption->Keybag)});
        if (UsesDb(backup.Manifest)) {
            dict.emplace_back("ManifestKey", PlistData{ManifestKey(*backup.Encryption)});
        }
    }
    dict.emplace_back("Version", std::string("10.0"));
    dict.emplace_back("WasPasscodeSet", false);
    return MakeBinaryPlist(dict);
}

std::uint32_t SampleMode(const SampleFile& file) {
    if (file.IsFolder) {
        return 040755;
    }
    return file.LinkTarget.empty() ? 0100644 : 0120755;
}

std::string SampleFlags(const SampleFile& file) {
    if (file.IsFolder) {
        return "2";
    }
    return file.LinkTarget.empty() ? "1" : "4";
}

std::uint64_t SampleSize(const SampleFile& file) {
    return file.RecordedSize.value_or(file.IsFolder ? 0 : file.Content.size());
}

std::optional<std::string> SampleRecord(const SampleBackup& backup, const SampleFile& file) {
    if (file.WithoutRecord) {
        return std::nullopt;
    }
    const MbFileFields fields{
        .Size = SampleSize(file),
        .LastModified = file.MTime,
        .Birth = file.Birth,
        .Mode = SampleMode(file),
        .RelativePath = file.RelativePath,
        .Target = file.LinkTarget.empty() ? std::nullopt : std::optional<std::string>(file.LinkTarget),
        .EncryptionKey = RecordKey(backup, file),
    };
    return MakeMbFileRecord(fields);
}

void WriteManifests(const fs::path& folder, const SampleBackup& backup) {
    std::vector<ManifestDbRow> rows;
    std::vector<MbdbRecord> records;
    for (const SampleFile& file : backup.Files) {
        rows.push_back(
            {SampleFileID(file), file.Domain, file.RelativePath, SampleFlags(file), SampleRecord(backup, file)});
        MbdbRecord record;
        record.Domain = file.Domain;
        record.Path = file.RelativePath;
        if (!file.LinkTarget.empty()) {
            record.LinkTarget = file.LinkTarget;
        }
        record.Mode = static_cast<std::uint16_t>(SampleMode(file));
        record.MTime = static_cast<std::uint32_t>(file.MTime);
        record.Birth = static_cast<std::uint32_t>(file.Birth);
        record.Size = SampleSize(file);
        record.EncryptionKey = RecordKey(backup, file);
        records.push_back(record);
    }
    if (UsesDb(backup.Manifest)) {
        WriteManifestDb(folder / "Manifest.db", rows);
        if (backup.Encryption) {
            const std::string plain = ReadFile(folder / "Manifest.db");
            WriteFile(folder / "Manifest.db",
                      EncryptCbc(SampleManifestDbKey(), plain, backup.Encryption->PaddedManifestDb));
        }
    }
    if (UsesMbdb(backup.Manifest)) {
        WriteFile(folder / "Manifest.mbdb", MakeMbdb(records));
    }
}

void WriteStoredFiles(const fs::path& folder, const SampleBackup& backup) {
    for (const SampleFile& file : backup.Files) {
        if (file.IsFolder || file.StoredFileMissing || !file.LinkTarget.empty()) {
            continue;
        }
        const std::string id = SampleFileID(file);
        std::vector<fs::path> targets;
        if (UsesDb(backup.Manifest)) {
            targets.push_back(folder / id.substr(0, 2) / id);
        }
        if (UsesMbdb(backup.Manifest)) {
            targets.push_back(folder / id);
        }
        const std::string content = backup.Encryption ? EncryptCbc(SampleFileKey(id), file.Content) : file.Content;
        for (const fs::path& target : targets) {
            WriteFile(target, content);
            SetModificationTime(target, file.StoredFileMTime.value_or(file.MTime));
        }
    }
}

} // namespace

std::string SampleFileID(const SampleFile& file) {
    return Sha1Hex(file.Domain + "-" + file.RelativePath);
}

std::vector<std::string> BackupNames(const std::vector<BackupRecord>& rows) {
    std::vector<std::string> names;
    for (const BackupRecord& row : rows) {
        names.push_back(row.Name);
    }
    return names;
}

std::filesystem::path WriteSampleBackup(const std::filesystem::path& folder, const SampleBackup& backup) {
    fs::create_directories(folder);
    WriteFile(folder / "Info.plist", backup.BinaryInfoPlist ? InfoPlistBinary(backup) : InfoPlistXml(backup));
    if (backup.StatusPlist) {
        WriteFile(folder / "Status.plist", MakeStatusPlist(backup.Date));
    } else {
        fs::remove(folder / "Status.plist");
    }
    WriteFile(folder / "Manifest.plist",
              backup.BinaryManifestPlist ? ManifestPlistBinary(backup) : ManifestPlistXml(backup));
    WriteManifests(folder, backup);
    WriteStoredFiles(folder, backup);
    return folder;
}

} // namespace marrowick::testing
