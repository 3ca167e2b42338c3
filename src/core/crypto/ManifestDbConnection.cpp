#include "core/crypto/ManifestDbConnection.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace marrowick {

namespace {

// SQLite's handle of the one file the file system opens.
struct OpenFile {
    sqlite3_file Base;
    ManifestDbFile* Source;
};

ManifestDbFile& SourceOf(sqlite3_file* file) {
    return *reinterpret_cast<OpenFile*>(file)->Source;
}

int Read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
    ManifestDbFile& source = SourceOf(file);
    auto* out = static_cast<unsigned char*>(buffer);
    const auto wanted = static_cast<std::uint64_t>(amount);
    const auto at = static_cast<std::uint64_t>(offset);
    const std::uint64_t held = at < source.Length() ? std::min(wanted, source.Length() - at) : 0;
    if (held > 0 && !source.Read(at, static_cast<std::size_t>(held), out)) {
        return SQLITE_IOERR_READ;
    }
    if (held < wanted) {
        std::memset(out + held, 0, static_cast<std::size_t>(wanted - held));
        return SQLITE_IOERR_SHORT_READ;
    }
    return SQLITE_OK;
}

int FileSize(sqlite3_file* file, sqlite3_int64* size) {
    *size = static_cast<sqlite3_int64>(SourceOf(file).Length());
    return SQLITE_OK;
}

int Done(sqlite3_file* /*file*/) {
    return SQLITE_OK;
}
int ReadOnly(sqlite3_file* /*file*/, const void* /*data*/, int /*amount*/, sqlite3_int64 /*offset*/) {
    return SQLITE_READONLY;
}
int Truncate(sqlite3_file* /*file*/, sqlite3_int64 /*size*/) {
    return SQLITE_READONLY;
}
int Sync(sqlite3_file* /*file*/, int /*flags*/) {
    return SQLITE_OK;
}
int Lock(sqlite3_file* /*file*/, int /*level*/) {
    return SQLITE_OK;
}
int CheckReservedLock(sqlite3_file* /*file*/, int* reserved) {
    *reserved = 0;
    return SQLITE_OK;
}
int FileControl(sqlite3_file* /*file*/, int /*op*/, void* /*argument*/) {
    return SQLITE_NOTFOUND;
}
int SectorSize(sqlite3_file* /*file*/) {
    return 4096;
}
// Immutable: SQLite then looks for no journal or write-ahead log, and takes no lock.
int DeviceCharacteristics(sqlite3_file* /*file*/) {
    return SQLITE_IOCAP_IMMUTABLE;
}

sqlite3_io_methods MakeFileMethods() {
    sqlite3_io_methods methods{};
    methods.iVersion = 1;
    methods.xClose = Done;
    methods.xRead = Read;
    methods.xWrite = ReadOnly;
    methods.xTruncate = Truncate;
    methods.xSync = Sync;
    methods.xFileSize = FileSize;
    methods.xLock = Lock;
    methods.xUnlock = Lock;
    methods.xCheckReservedLock = CheckReservedLock;
    methods.xFileControl = FileControl;
    methods.xSectorSize = SectorSize;
    methods.xDeviceCharacteristics = DeviceCharacteristics;
    return methods;
}

const sqlite3_io_methods FileMethods = MakeFileMethods();

int OpenMain(sqlite3_vfs* vfs, const char* /*name*/, sqlite3_file* file, int flags, int* outFlags) {
    file->pMethods = nullptr;
    if ((flags & SQLITE_OPEN_MAIN_DB) == 0) {
        return SQLITE_CANTOPEN;
    }
    reinterpret_cast<OpenFile*>(file)->Source = static_cast<ManifestDbFile*>(vfs->pAppData);
    file->pMethods = &FileMethods;
    if (outFlags != nullptr) {
        *outFlags = SQLITE_OPEN_READONLY;
    }
    return SQLITE_OK;
}

int Delete(sqlite3_vfs* /*vfs*/, const char* /*name*/, int /*syncDir*/) {
    return SQLITE_IOERR_DELETE;
}
int Access(sqlite3_vfs* /*vfs*/, const char* /*name*/, int /*flags*/, int* result) {
    *result = 0;
    return SQLITE_OK;
}
int FullPathname(sqlite3_vfs* /*vfs*/, const char* name, int size, char* out) {
    if (size <= 0 || std::strlen(name) >= static_cast<std::size_t>(size)) {
        return SQLITE_CANTOPEN;
    }
    std::strcpy(out, name);
    return SQLITE_OK;
}

// What has nothing to do with the file goes to the system's own file system.
sqlite3_vfs* System() {
    return sqlite3_vfs_find(nullptr);
}
int Randomness(sqlite3_vfs* /*vfs*/, int size, char* out) {
    return System()->xRandomness(System(), size, out);
}
int Sleep(sqlite3_vfs* /*vfs*/, int microseconds) {
    return System()->xSleep(System(), microseconds);
}
int CurrentTime(sqlite3_vfs* /*vfs*/, double* now) {
    return System()->xCurrentTime(System(), now);
}
int LastError(sqlite3_vfs* /*vfs*/, int /*size*/, char* /*out*/) {
    return 0;
}

std::atomic<unsigned> connectionsMade{0};

} // namespace

Result<std::unique_ptr<ManifestDbConnection>> ManifestDbConnection::Open(ManifestDbFile file) {
    auto connection = std::make_unique<ManifestDbConnection>(std::move(file));
    // A file system of its own for each connection, which carries its file.
    connection->vfsName_ = "marrowick-manifest-" + std::to_string(connectionsMade.fetch_add(1));
    sqlite3_vfs& vfs = connection->vfs_;
    vfs.iVersion = 1;
    vfs.szOsFile = sizeof(OpenFile);
    vfs.mxPathname = 1024;
    vfs.zName = connection->vfsName_.c_str();
    vfs.pAppData = &connection->file_;
    vfs.xOpen = OpenMain;
    vfs.xDelete = Delete;
    vfs.xAccess = Access;
    vfs.xFullPathname = FullPathname;
    vfs.xRandomness = Randomness;
    vfs.xSleep = Sleep;
    vfs.xCurrentTime = CurrentTime;
    vfs.xGetLastError = LastError;
    Failure failure = Failure::Because(FailureStep::Open, "Manifest.db", FailureCause::Library);
    if (System() == nullptr || sqlite3_vfs_register(&vfs, 0) != SQLITE_OK) {
        failure.Detail = "SQLite takes no file system for the manifest";
        return failure;
    }
    connection->registered_ = true;
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2("Manifest.db", &raw, SQLITE_OPEN_READONLY, vfs.zName);
    connection->db_.reset(raw);
    if (opened != SQLITE_OK) {
        failure.Detail = raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(opened);
        return failure;
    }
    return connection;
}

ManifestDbConnection::~ManifestDbConnection() {
    db_.reset();
    if (registered_) {
        sqlite3_vfs_unregister(&vfs_);
    }
}

} // namespace marrowick
