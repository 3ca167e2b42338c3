#pragma once

#include "core/backup/SummaryReader.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Writers of sample backups in the real on-disk formats, so that a test can say
// "a backup named X of 2020-01-06 with these files" in a few lines.
namespace marrowick::testing {

// ---- Property lists -------------------------------------------------------------------------------

// A value of a binary plist: a string, a date (seconds since 2001-01-01 UTC), an integer, a boolean or data.
struct PlistDate {
    double Seconds = 0;
};
struct PlistData {
    std::string Bytes;
};
using PlistValue = std::variant<std::string, PlistDate, std::int64_t, bool, PlistData>;

// One top-level dictionary, keys in the order given.
using PlistDict = std::vector<std::pair<std::string, PlistValue>>;

// An XML property list whose top-level dict holds these keys with <string> values. Values are written
// as given, so a test can put "&amp;" or odd white space in them.
std::string MakeXmlPlist(const std::vector<std::pair<std::string, std::string>>& stringKeys);

// A binary property list ("bplist00") of any shape. Objects are added one by one and refer to each other by the
// number each add returns; object 0 is the top object. Nothing checks the shape, so a test can write a hostile
// list (a reference to a missing object, a dictionary holding itself) as easily as a real one.
class BinaryPlistWriter {
public:
    using Object = std::size_t;

    // ASCII text as an ASCII string, any other as UTF-16, as Apple's writer does.
    Object String(const std::string& text);
    // The smallest width that holds the value: 1, 2 or 4 bytes unsigned, 8 bytes for negatives and from 2^32.
    Object Integer(std::int64_t value);
    Object Date(double secondsSince2001);
    Object Bool(bool value);
    Object Value(const PlistValue& value);
    Object Data(const std::string& bytes);
    Object Uid(std::uint64_t value);
    Object Array(std::vector<Object> elements = {});
    Object Dict();
    // Bytes written as given where an object belongs: a hostile count, a cut payload, an unknown marker.
    Object Raw(std::string bytes);
    void Append(Object array, Object element);
    void Insert(Object dict, Object key, Object value);

    // The list's bytes. offsetSize is the narrowest width of the offset table's entries (1, 2, 4 or 8; the writer
    // pads the object area so that 2 and more are really needed when asked).
    [[nodiscard]] std::string Finish(int offsetSize = 1) const;

private:
    // Kind 0 holds its bytes; arrays (0xA0) and dictionaries (0xD0, key and value alternating) their references.
    struct Encoded {
        std::string Bytes;
        std::vector<Object> References;
        unsigned Kind = 0;
    };
    Object Add(std::string bytes, unsigned kind = 0);
    void AppendObject(std::string& out, const Encoded& object, int refSize) const;

    std::vector<Encoded> objects_;
};

// A binary property list ("bplist00") of one dictionary. offsetSize is the width of the offset table's
// entries (1, 2, 4 or 8; the writer pads the object area so that 2 and more are really needed when asked).
std::string MakeBinaryPlist(const PlistDict& dict, int offsetSize = 1);

// A Status.plist as devices write it: a dict with BackupState, Date, IsFullBackup, SnapshotState, UUID
// and Version, the date being a real date object.
std::string MakeStatusPlist(double dateSeconds, int offsetSize = 1);

// ---- Manifests ------------------------------------------------------------------------------------

// One row of Manifest.db's Files table. A null column is written as SQL NULL.
struct ManifestDbRow {
    std::optional<std::string> FileID{};
    std::optional<std::string> Domain{};
    std::optional<std::string> RelativePath{};
    std::optional<std::string> Flags = std::string("1");
    // The "file" blob; without one the row holds a small keyed archive that is no MBFile.
    std::optional<std::string> File{};
};

// Writes a real SQLite Manifest.db with the Files table (fileID, domain, relativePath, flags, file).
// walMode leaves the database in WAL journal mode, as devices do.
void WriteManifestDb(const std::filesystem::path& file, const std::vector<ManifestDbRow>& rows, bool walMode = false);

// The fields of an MBFile record, as a device archives them into a Manifest.db row's "file" blob.
struct MbFileFields {
    std::uint64_t Size = 0;
    std::int64_t LastModified = 1600000000;
    std::int64_t Birth = 1500000000;
    std::int64_t LastStatusChange = 1600000100;
    std::uint32_t Mode = 0100644;
    std::int64_t InodeNumber = 123456;
    std::int64_t UserID = 501;
    std::int64_t GroupID = 501;
    std::uint32_t ProtectionClass = 3;
    std::int64_t Flags = 0;
    std::string RelativePath = "Library/Preferences/com.example.plist";
    std::optional<std::string> Target{};
    std::optional<std::string> EncryptionKey{};
    // The key's NS.data as a UID to a data object instead of the data itself; devices write both.
    bool KeyAsUid = false;
    std::optional<std::string> Digest{};
    // Keys of the root dictionary not to write ("ProtectionClass", "$class", ...), as some devices leave some out.
    std::vector<std::string> LeftOut{};
};

// An NSKeyedArchiver archive being written: $archiver, $version, $top {root: UID 1} and $objects, whose element 0
// is "$null". The object archived first after that is the root.
class KeyedArchiveWriter {
public:
    using Object = BinaryPlistWriter::Object;

    KeyedArchiveWriter();
    [[nodiscard]] BinaryPlistWriter& Plist() { return plist_; }
    // Puts the object into $objects and gives a new UID object referring to it.
    Object Archive(Object object);
    // Archives a class description: $classname is the first of classes, $classes all of them.
    Object ArchiveClass(const std::vector<std::string>& classes);
    [[nodiscard]] std::string Finish() const { return plist_.Finish(); }

private:
    BinaryPlistWriter plist_;
    Object objects_ = 0;
    std::uint64_t archived_ = 0;
};

// The NSKeyedArchiver archive of an MBFile: $archiver, $version, $top {root: UID 1} and $objects ["$null", the
// MBFile dictionary, its texts and key, its class].
std::string MakeMbFileRecord(const MbFileFields& fields);

// One record of Manifest.mbdb. An absent string (0xFF 0xFF) is written for a std::nullopt.
struct MbdbRecord {
    std::optional<std::string> Domain;
    std::optional<std::string> Path;
    std::optional<std::string> LinkTarget;
    std::uint16_t Mode = 0x81A4;          // regular file, rw-r--r--
    std::uint32_t MTime = 0;              // raw 32-bit field: a value with the top bit set is a negative time
    std::optional<std::uint32_t> Birth{}; // MTime + 100 when not given
    std::uint64_t Size = 0;
    std::vector<std::pair<std::string, std::string>> Properties;
    std::optional<std::string> EncryptionKey{}; // the 44-byte wrapped key of an encrypted backup's file
};

// Runs SQL on an SQLite database file: "" when it worked, otherwise SQLite's message.
std::string RunSql(const std::filesystem::path& database, const std::string& sql);

// The "mbdb" signature and version followed by the records.
std::string MakeMbdb(const std::vector<MbdbRecord>& records);
// One record's bytes, for tests that cut or splice records.
std::string MakeMbdbRecord(const MbdbRecord& record);

// Lowercase hexadecimal SHA-1 of the bytes, as the program names stored files.
std::string Sha1Hex(const std::string& bytes);

// ---- Encryption ---------------------------------------------------------------------------------

// Bytes from hexadecimal digits (white space passed over), and back in lowercase.
std::string FromHex(std::string_view hex);
std::string ToHex(std::string_view bytes);

// A class entry of a sample keybag. Its key, SampleClassKey(Class), is wrapped with the password's key, or with
// another password's when WrappedWith names one, so that it does not unwrap.
struct SampleKeybagClass {
    std::uint32_t Class = 3;
    std::uint32_t Wrap = 2; // bit 2: wrapped with the password's key
    std::optional<std::string> WrappedWith{};
};

// A backup keybag as devices write it, with salts 01..14 (SALT) and 21..34 (DPSL) and counts low enough for tests.
struct SampleKeybag {
    std::string Password = "correct horse";
    bool TwoStage = true; // DPSL and DPIC besides SALT and ITER, as from iOS 10.2
    std::uint32_t Iterations = 10;
    std::uint32_t DoubleProtectionIterations = 100;
    std::vector<SampleKeybagClass> Classes = {{.Class = 1}, {.Class = 2}, {.Class = 3}, {.Class = 4}};
    std::vector<std::string> LeftOut{}; // tags of the keybag's own items not to write ("SALT", "ITER", ...)
    // False: the class keys are wrapped with zeros, so that no password unlocks the keybag and writing it derives
    // nothing, however high the counts.
    bool Unlockable = true;
};

// The keybag's bytes: VERS, TYPE, UUID, WRAP, SALT, ITER, DPWT, DPIC, DPSL, then per class UUID, CLAS, WRAP, KTYP
// and WPKY.
std::string MakeKeybag(const SampleKeybag& keybag);
// The 32-byte key of a protection class in sample keybags.
std::string SampleClassKey(std::uint32_t protectionClass);
// The key that the keybag's password derives, computed here with libcrypto's PBKDF2.
std::string SamplePasswordKey(const SampleKeybag& keybag, const std::string& password);
// AES key wrap (RFC 3394) of key with kek, both 32 bytes.
std::string WrapKey(const std::string& kek, const std::string& key);
// A record's or Manifest.plist's 44-byte wrapped key: the class, little-endian, then key wrapped with the class key.
std::string MakeWrappedRecordKey(std::uint32_t protectionClass, const std::string& key);
// AES-256-CBC with a zero IV, with PKCS#7 padding when pad.
std::string EncryptCbc(const std::string& key, const std::string& plaintext, bool pad = true);

// An encrypted sample backup: the keybag in Manifest.plist with IsEncrypted, each stored file encrypted with a key
// of its own that its record holds wrapped, and in a Manifest.db backup Manifest.db encrypted with the ManifestKey's
// key. A Manifest.mbdb stays plain, as devices leave it.
struct SampleEncryption {
    SampleKeybag Keybag{};
    std::uint32_t ManifestKeyClass = 4;
    std::uint32_t FileKeyClass = 3;
    bool PaddedManifestDb = true; // a last block of PKCS#7 padding after the pages, as iTunes writes
};
// The 32-byte keys of a sample backup's Manifest.db and of a file.
std::string SampleManifestDbKey();
std::string SampleFileKey(const std::string& fileId);

// ---- Whole backups --------------------------------------------------------------------------------

enum class SampleManifest { Db, Mbdb, Both, None };

// One entry of a sample backup: a file (with content) or a folder. Here and in SampleBackup every member has a
// default, so that a designated initializer names only what a test sets.
struct SampleFile {
    std::string Domain = "HomeDomain";
    std::string RelativePath{};
    std::string Content{}; // written as the stored file, unless StoredFileMissing
    bool IsFolder = false;
    bool StoredFileMissing = false;
    std::int64_t MTime = 1600000000; // the record's time, and the stored file's unless StoredFileMTime is given
    // The record agrees with the stored file unless told otherwise, as a device's records need not: content may be
    // missing, encrypted, or larger than a test writes.
    std::optional<std::uint64_t> RecordedSize{};
    std::int64_t Birth = 1500000000;
    std::optional<std::int64_t> StoredFileMTime{};
    std::string LinkTarget{}; // makes the entry a link on the device, which has no stored file
    // A Manifest.db row whose file column holds no record, as old or stand-in rows: its size and time come from
    // the stored file.
    bool WithoutRecord = false;
};

struct SampleBackup {
    // Info.plist keys; std::nullopt leaves the key out.
    std::optional<std::string> DisplayName = std::string("iPhone");
    std::optional<std::string> ProductVersion = std::string("14.2");
    std::optional<std::string> ProductName = std::string("iPhone 12");
    std::optional<std::string> SerialNumber = std::string("C39XK0ABCDEF");
    double Date = 600000000.0; // Status.plist date, seconds since 2001-01-01 UTC
    bool StatusPlist = true;   // false writes no Status.plist
    // Manifest.plist's "Date" and Info.plist's "Last Backup Date", which Date does not change; std::nullopt leaves
    // the key out.
    std::optional<double> ManifestDate = 600000000.0;
    std::optional<double> InfoDate = 600000000.0;
    bool BinaryManifestPlist = false;
    SampleManifest Manifest = SampleManifest::Db;
    bool BinaryInfoPlist = false;
    bool Encrypted = false; // writes Manifest.plist with IsEncrypted true
    // Encrypts the backup (and sets IsEncrypted) as these say.
    std::optional<SampleEncryption> Encryption{};
    std::vector<SampleFile> Files{};
};

// Writes the backup into folder (created with its parents) and returns the folder. Manifest.db backups keep
// each stored file at folder/ab/abcdef... (the file id is the SHA-1 of "domain-path"), Manifest.mbdb backups at
// folder/abcdef...; both get their MTime as the stored file's modification time.
std::filesystem::path WriteSampleBackup(const std::filesystem::path& folder, const SampleBackup& backup);

// The file id under which a sample entry is stored: SHA-1 of domain + "-" + relative path.
std::string SampleFileID(const SampleFile& file);

// The names of a backup list's rows in its order, to compare a whole list at once.
std::vector<std::string> BackupNames(const std::vector<BackupRecord>& rows);

// ---- Environment ----------------------------------------------------------------------------------

// A fresh temporary folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Points HOME, XDG_DATA_HOME and XDG_CONFIG_HOME into a fresh temporary home, and TZ at the given zone, for the
// lifetime of the object; restores the former values afterwards.
class TempHome {
public:
    explicit TempHome(const std::string& timeZone = "UTC");
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;
    [[nodiscard]] const std::filesystem::path& Home() const { return dir_.Path(); }
    // $XDG_DATA_HOME/Apple Computer/MobileSync/Backup and $HOME/Apple/MobileSync/Backup.
    [[nodiscard]] std::filesystem::path AppDataBackupFolder() const;
    [[nodiscard]] std::filesystem::path ProfileBackupFolder() const;
    // $XDG_CONFIG_HOME/Marrowick
    [[nodiscard]] std::filesystem::path SettingsFolder() const;

private:
    TempDir dir_;
    std::map<std::string, std::optional<std::string>> saved_;
};

// Points TMPDIR at a fresh folder for the lifetime of the object, so that a test sees what is left there.
class ScopedTmpDir {
public:
    ScopedTmpDir();
    ~ScopedTmpDir();
    ScopedTmpDir(const ScopedTmpDir&) = delete;
    ScopedTmpDir& operator=(const ScopedTmpDir&) = delete;
    [[nodiscard]] const std::filesystem::path& Path() const { return dir_.Path(); }
    [[nodiscard]] bool IsEmpty() const { return std::filesystem::is_empty(dir_.Path()); }

private:
    TempDir dir_;
    std::optional<std::string> saved_;
};

// A relocation target, below the home folder, that the folder listing would give back wrong: one with "]", where the
// listing's line is cut, and one longer than the 3000 bytes of the listing that are read.
struct RelocationTargetCase {
    const char* Name;
    std::string Path;
};
void PrintTo(const RelocationTargetCase& row, std::ostream* os);
[[nodiscard]] std::vector<RelocationTargetCase> MisreadRelocationTargets();

// Writes the bytes as the whole file, making its folders first; throws when it cannot.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// The whole content of a file, or "" when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

// Every file below a folder with its bytes and modification time, to show that reading changed nothing.
std::map<std::string, std::pair<std::string, std::int64_t>> SnapshotFolder(const std::filesystem::path& folder);

} // namespace marrowick::testing
