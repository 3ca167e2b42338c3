#include "support/SampleBackup.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <ostream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace marrowick::testing {

namespace {

namespace fs = std::filesystem;

// remove_all cannot enter a folder a test made unreadable (unless running as root), so open them up first.
void MakeRemovable(const fs::path& path) {
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(path, error))) {
        return;
    }
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        MakeRemovable(it->path());
    }
}

void SetVariable(const char* name, const std::string& value) {
    if (setenv(name, value.c_str(), 1) != 0) {
        throw std::system_error(errno, std::generic_category(), std::string("setenv ") + name);
    }
}

constexpr const char* kHomeVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "TZ"};

std::int64_t ModificationNanoseconds(const fs::path& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        throw std::system_error(errno, std::generic_category(), "lstat " + path.string());
    }
    return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        throw std::runtime_error("SnapshotFolder: cannot read " + path.string());
    }
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

} // namespace

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "marrowick-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    try {
        MakeRemovable(path_);
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    } catch (...) {
        // A leftover temporary folder must not turn into a crash while a test unwinds.
    }
}

TempHome::TempHome(const std::string& timeZone) {
    for (const char* name : kHomeVariables) {
        const char* value = std::getenv(name);
        saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    SetVariable("HOME", Home().string());
    SetVariable("XDG_DATA_HOME", (Home() / ".local/share").string());
    SetVariable("XDG_CONFIG_HOME", (Home() / ".config").string());
    SetVariable("TZ", timeZone);
    tzset();
}

TempHome::~TempHome() {
    for (const auto& [name, value] : saved_) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
    tzset();
}

void PrintTo(const RelocationTargetCase& row, std::ostream* os) {
    *os << row.Name;
}

std::vector<RelocationTargetCase> MisreadRelocationTargets() {
    std::string longPath = "deep";
    while (longPath.size() <= 3000) {
        longPath += "/" + std::string(200, 'd');
    }
    return {{"WithBracket", "st]ore"}, {"LongerThanTheListingIsRead", longPath}};
}

ScopedTmpDir::ScopedTmpDir() {
    const char* old = std::getenv("TMPDIR");
    saved_ = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    SetVariable("TMPDIR", dir_.Path().string());
}

ScopedTmpDir::~ScopedTmpDir() {
    if (saved_) {
        setenv("TMPDIR", saved_->c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}

std::filesystem::path TempHome::AppDataBackupFolder() const {
    return Home() / ".local/share" / "Apple Computer" / "MobileSync" / "Backup";
}

std::filesystem::path TempHome::ProfileBackupFolder() const {
    return Home() / "Apple" / "MobileSync" / "Backup";
}

std::filesystem::path TempHome::SettingsFolder() const {
    return Home() / ".config" / "Marrowick";
}

// Keys are relative paths with '/' separators, folders ending in '/'; a symbolic link is recorded by its target.
std::map<std::string, std::pair<std::string, std::int64_t>> SnapshotFolder(const std::filesystem::path& folder) {
    std::map<std::string, std::pair<std::string, std::int64_t>> snapshot;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        std::string key = entry.path().lexically_relative(folder).generic_string();
        const fs::file_status status = entry.symlink_status();
        std::string bytes;
        if (fs::is_directory(status)) {
            key += '/';
        } else if (fs::is_symlink(status)) {
            bytes = "-> " + fs::read_symlink(entry.path()).string();
        } else if (fs::is_regular_file(status)) {
            bytes = ReadBytes(entry.path());
        }
        snapshot[key] = {bytes, ModificationNanoseconds(entry.path())};
    }
    return snapshot;
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!stream) {
        throw std::runtime_error("WriteFile: cannot write " + path.string());
    }
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

} // namespace marrowick::testing
