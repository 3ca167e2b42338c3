#include "core/platform/SqliteHandles.h"
#include "support/Detail.h"
#include "support/SampleBackup.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace marrowick::testing {

namespace {

void Check(sqlite3* db, int rc, const std::string& what) {
    if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) {
        throw std::runtime_error("WriteManifestDb: " + what + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
    }
}

void Execute(sqlite3* db, const char* sql) {
    Check(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr), sql);
}

SqliteDatabase OpenFresh(const std::filesystem::path& file) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        std::filesystem::remove(file.string() + suffix);
    }
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    SqliteDatabase db(raw);
    Check(db.get(), rc, "open " + file.string());
    return db;
}

void BindText(sqlite3* db, sqlite3_stmt* statement, int index, const std::optional<std::string>& value) {
    const int rc =
        value ? sqlite3_bind_text(statement, index, value->data(), static_cast<int>(value->size()), SQLITE_TRANSIENT)
              : sqlite3_bind_null(statement, index);
    Check(db, rc, "bind");
}

// Devices store flags as integers; a test that wants a text flag gets one.
void BindFlags(sqlite3* db, sqlite3_stmt* statement, int index, const std::optional<std::string>& flags) {
    if (flags && !flags->empty() &&
        std::all_of(flags->begin(), flags->end(), [](char c) { return c >= '0' && c <= '9'; })) {
        std::int64_t number = 0;
        const auto [end, error] = std::from_chars(flags->data(), flags->data() + flags->size(), number);
        if (error == std::errc{} && end == flags->data() + flags->size()) {
            Check(db, sqlite3_bind_int64(statement, index, number), "bind");
            return;
        }
    }
    BindText(db, statement, index, flags);
}

// Real rows hold a keyed-archiver plist describing the file; readers only need some bytes there.
const std::string& FileBlob() {
    static const std::string blob =
        MakeBinaryPlist({{"$archiver", std::string("NSKeyedArchiver")}, {"$version", std::int64_t{100000}}});
    return blob;
}

void InsertRows(sqlite3* db, const std::vector<ManifestDbRow>& rows) {
    sqlite3_stmt* raw = nullptr;
    Check(db,
          sqlite3_prepare_v2(db, "INSERT INTO Files (fileID, domain, relativePath, flags, file) VALUES (?, ?, ?, ?, ?)",
                             -1, &raw, nullptr),
          "prepare");
    const SqliteStatement insert(raw);
    for (const ManifestDbRow& row : rows) {
        BindText(db, insert.get(), 1, row.FileID);
        BindText(db, insert.get(), 2, row.Domain);
        BindText(db, insert.get(), 3, row.RelativePath);
        BindFlags(db, insert.get(), 4, row.Flags);
        const std::string& blob = row.File ? *row.File : FileBlob();
        Check(db, sqlite3_bind_blob(insert.get(), 5, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC),
              "bind");
        Check(db, sqlite3_step(insert.get()), "insert row");
        Check(db, sqlite3_reset(insert.get()), "reset");
    }
}

using Object = BinaryPlistWriter::Object;

Object ArchiveEncryptionKey(KeyedArchiveWriter& archive, const std::string& key, bool asUid) {
    BinaryPlistWriter& writer = archive.Plist();
    const Object holder = writer.Dict();
    const Object uid = archive.Archive(holder);
    const Object data = asUid ? archive.Archive(writer.Data(key)) : writer.Data(key);
    writer.Insert(holder, writer.String("NS.data"), data);
    writer.Insert(holder, writer.String("$class"), archive.ArchiveClass({"NSMutableData", "NSData", "NSObject"}));
    return uid;
}

void AppendMbdbString(std::string& out, const std::optional<std::string>& text) {
    if (!text) {
        out += "\xFF\xFF";
        return;
    }
    if (text->size() >= 0xFFFF) {
        throw std::length_error("MakeMbdbRecord: string too long");
    }
    detail::AppendBigEndian(out, text->size(), 2);
    out += *text;
}

} // namespace

void WriteManifestDb(const std::filesystem::path& file, const std::vector<ManifestDbRow>& rows, bool walMode) {
    if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path());
    }
    const SqliteDatabase db = OpenFresh(file);
    if (walMode) {
        Execute(db.get(), "PRAGMA journal_mode=WAL");
    }
    Execute(db.get(), "BEGIN");
    Execute(db.get(), "CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, flags INTEGER, "
                      "file BLOB)");
    Execute(db.get(), "CREATE INDEX FilesDomainIdx ON Files(domain)");
    Execute(db.get(), "CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB)");
    InsertRows(db.get(), rows);
    Execute(db.get(), "COMMIT");
}

std::string RunSql(const std::filesystem::path& database, const std::string& sql) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open(database.c_str(), &raw);
    const SqliteDatabase db(raw);
    if (rc != SQLITE_OK) {
        return "open " + database.string() + ": " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
    }
    if (sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        return sql + ": " + sqlite3_errmsg(db.get());
    }
    return "";
}

std::string MakeMbdbRecord(const MbdbRecord& record) {
    // uid/gid 501 is "mobile"; atime and ctime differ from mtime so that a reader taking the wrong field shows.
    constexpr std::uint64_t kInode = 0x1F2E3D;
    constexpr std::uint32_t kOwner = 501;
    const bool regularFile = (record.Mode & 0xF000) == 0x8000;
    static const std::string dummyHash =
        "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F\x10\x11\x12\x13\x14";

    if (record.Properties.size() > 0xFF) {
        throw std::length_error("MakeMbdbRecord: too many properties");
    }
    std::string out;
    AppendMbdbString(out, record.Domain);
    AppendMbdbString(out, record.Path);
    AppendMbdbString(out, record.LinkTarget);
    AppendMbdbString(out, regularFile ? std::optional(dummyHash) : std::nullopt);
    AppendMbdbString(out, record.EncryptionKey);
    detail::AppendBigEndian(out, record.Mode, 2);
    detail::AppendBigEndian(out, kInode, 8);
    detail::AppendBigEndian(out, kOwner, 4);
    detail::AppendBigEndian(out, kOwner, 4);
    detail::AppendBigEndian(out, record.MTime, 4);
    detail::AppendBigEndian(out, static_cast<std::uint32_t>(record.MTime + 200U), 4);
    detail::AppendBigEndian(out, record.Birth.value_or(static_cast<std::uint32_t>(record.MTime + 100U)), 4);
    detail::AppendBigEndian(out, record.Size, 8);
    out.push_back(static_cast<char>(regularFile ? 4 : 0));
    out.push_back(static_cast<char>(record.Properties.size()));
    for (const auto& [name, value] : record.Properties) {
        AppendMbdbString(out, name);
        AppendMbdbString(out, value);
    }
    return out;
}

std::string MakeMbdb(const std::vector<MbdbRecord>& records) {
    std::string out("mbdb\x05\x00", 6);
    for (const MbdbRecord& record : records) {
        out += MakeMbdbRecord(record);
    }
    return out;
}

KeyedArchiveWriter::KeyedArchiveWriter() {
    const Object top = plist_.Dict();
    objects_ = plist_.Array();
    const Object holder = plist_.Dict();
    plist_.Insert(holder, plist_.String("root"), plist_.Uid(1));
    plist_.Insert(top, plist_.String("$version"), plist_.Integer(100000));
    plist_.Insert(top, plist_.String("$archiver"), plist_.String("NSKeyedArchiver"));
    plist_.Insert(top, plist_.String("$top"), holder);
    plist_.Insert(top, plist_.String("$objects"), objects_);
    (void)Archive(plist_.String("$null"));
}

Object KeyedArchiveWriter::Archive(Object object) {
    plist_.Append(objects_, object);
    return plist_.Uid(archived_++);
}

Object KeyedArchiveWriter::ArchiveClass(const std::vector<std::string>& classes) {
    const Object dict = plist_.Dict();
    std::vector<Object> names;
    for (const std::string& name : classes) {
        names.push_back(plist_.String(name));
    }
    plist_.Insert(dict, plist_.String("$classes"), plist_.Array(std::move(names)));
    plist_.Insert(dict, plist_.String("$classname"), plist_.String(classes.front()));
    return Archive(dict);
}

std::string MakeMbFileRecord(const MbFileFields& fields) {
    KeyedArchiveWriter archive;
    BinaryPlistWriter& writer = archive.Plist();
    const Object root = writer.Dict();
    (void)archive.Archive(root);
    const auto wanted = [&fields](const char* key) {
        return std::find(fields.LeftOut.begin(), fields.LeftOut.end(), key) == fields.LeftOut.end();
    };
    const auto put = [&](const char* key, auto makeValue) {
        if (wanted(key)) {
            const Object name = writer.String(key);
            writer.Insert(root, name, makeValue());
        }
    };
    const auto integer = [&writer](std::int64_t value) { return [&writer, value] { return writer.Integer(value); }; };
    put("LastModified", integer(fields.LastModified));
    put("Flags", integer(fields.Flags));
    put("GroupID", integer(fields.GroupID));
    put("LastStatusChange", integer(fields.LastStatusChange));
    put("Birth", integer(fields.Birth));
    put("Size", integer(static_cast<std::int64_t>(fields.Size)));
    put("InodeNumber", integer(fields.InodeNumber));
    put("Mode", integer(fields.Mode));
    put("ProtectionClass", integer(fields.ProtectionClass));
    put("UserID", integer(fields.UserID));
    put("RelativePath", [&] { return archive.Archive(writer.String(fields.RelativePath)); });
    if (fields.Target) {
        put("Target", [&] { return archive.Archive(writer.String(*fields.Target)); });
    }
    if (fields.EncryptionKey) {
        put("EncryptionKey", [&] { return ArchiveEncryptionKey(archive, *fields.EncryptionKey, fields.KeyAsUid); });
    }
    if (fields.Digest) {
        put("Digest", [&] { return archive.Archive(writer.Data(*fields.Digest)); });
    }
    put("$class", [&] { return archive.ArchiveClass({"MBFile", "NSObject"}); });
    return archive.Finish();
}

} // namespace marrowick::testing
