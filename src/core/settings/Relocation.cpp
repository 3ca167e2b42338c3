#include "core/settings/Relocation.h"

#include "core/backup/BackupLocations.h"
#include "core/platform/AtomicFile.h"
#include "core/platform/ErrorText.h"
#include "core/platform/FileSystemOps.h"
#include "core/platform/Files.h"
#include "core/platform/LocalTime.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sys/stat.h>

namespace marrowick {
namespace {

namespace fs = std::filesystem;

constexpr const char* BackupEntry = "Backup";
constexpr const char* LinkMarker = "<SYMLINKD>     Backup ";
constexpr std::size_t ListingReadLimit = 3000;

std::string QuotedPath(const std::string& path) {
    return "\"" + path + "\"";
}

// ---- The listing ------------------------------------------------------------------------------------

// A space is escaped in names, so that no other entry reads as "Backup " followed by a target.
std::string Escaped(const std::string& text, bool isName) {
    std::string escaped;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '<' || byte < 0x20 || byte == 0x7F || (isName && c == ' ')) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", byte);
            escaped += code;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string ListingTime(const struct stat& status) {
    std::tm local{};
    if (!ToLocalTime(status.st_mtime, local)) {
        return "----------  --:--";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d  %02d:%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min);
    return text;
}

std::string ListingLine(const std::string& folder, const std::string& name) {
    const std::string path = folder + "/" + name;
    const bool isBackup = name == BackupEntry;
    const std::string shownName = isBackup ? name : Escaped(name, true);
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return "----------  --:--    <?>            " + shownName;
    }
    const std::string when = ListingTime(status) + "    ";
    if (S_ISLNK(status.st_mode)) {
        std::error_code error;
        const std::string target = fs::read_symlink(path, error).string();
        struct stat targetStatus {};
        const bool dangling = ::stat(path.c_str(), &targetStatus) != 0;
        const bool toFolder = dangling || S_ISDIR(targetStatus.st_mode);
        return when + (toFolder ? "<SYMLINKD>     " : "<SYMLINK>      ") + shownName + " [" +
               (isBackup ? target : Escaped(target, false)) + "]";
    }
    if (S_ISDIR(status.st_mode)) {
        return when + "<DIR>          " + shownName;
    }
    char size[32];
    std::snprintf(size, sizeof size, "%14lld ", static_cast<long long>(status.st_size));
    return when + size + shownName;
}

// ---- The relocation's steps ---------------------------------------------------------------------------

enum class StepKind { Rename, Link };

struct Step {
    StepKind Kind;
    std::string From; // Rename: the entry renamed; Link: the link's target
    std::string To;   // Rename: its new name; Link: the link made

    [[nodiscard]] std::string DoneText() const {
        return Kind == StepKind::Rename ? "Renamed " + QuotedPath(From) + " to " + QuotedPath(To) + "."
                                        : "Linked " + QuotedPath(To) + " to " + QuotedPath(From) + ".";
    }
    [[nodiscard]] std::string FailureText(const std::string& reason) const {
        return Kind == StepKind::Rename
                   ? "Cannot rename " + QuotedPath(From) + " to " + QuotedPath(To) + ": " + reason + "."
                   : "Cannot make the link " + QuotedPath(To) + " to " + QuotedPath(From) + ": " + reason + ".";
    }
};

struct Plan {
    std::vector<Step> Steps;
    std::string Failure;
    int Error = 0;
};

enum class EntryState { Missing, Link, Other };

EntryState StateOf(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return EntryState::Missing;
    }
    return S_ISLNK(status.st_mode) ? EntryState::Link : EntryState::Other;
}

bool IsWithin(const fs::path& inner, const fs::path& outer) {
    const std::string innerText = WithoutTrailingSlashes(inner.lexically_normal().string());
    const std::string outerText = WithoutTrailingSlashes(outer.lexically_normal().string());
    return innerText == outerText || innerText.starts_with(outerText == "/" ? outerText : outerText + "/");
}

// A link at M/Backup to a place inside what M/Backup is now would point into a folder that is renamed away, or at
// itself.
std::optional<std::string> LinkIntoMovedFolder(const std::string& newLocation, const std::string& backup) {
    bool inside = IsWithin(newLocation, backup);
    if (!inside && StateOf(backup) == EntryState::Other) {
        std::error_code error;
        const fs::path realNew = fs::weakly_canonical(newLocation, error);
        const fs::path realBackup = error ? fs::path() : fs::weakly_canonical(backup, error);
        inside = !error && IsWithin(realNew, realBackup);
    }
    if (!inside) {
        return std::nullopt;
    }
    return "The new location " + QuotedPath(newLocation) + " lies inside " + QuotedPath(backup) +
           ", which the relocation renames; choose a folder outside it.";
}

Plan Refused(const std::string& failure, int error = 0) {
    Plan plan;
    plan.Failure = failure;
    plan.Error = error;
    return plan;
}

// The dialog decided on the state it read when it opened; acting on another one would link or restore the wrong way.
std::optional<Plan> StateDiffersFromBelief(const std::string& initialLocation) {
    const std::string firstBackup = MobileSyncFolders[0] + "/" + BackupEntry;
    const Result<std::string> link = ReadBackupLink(MobileSyncFolders[0]);
    if (!link) {
        return Refused("Cannot examine " + QuotedPath(firstBackup) + ": " + CauseText(link.Error()) +
                           "; nothing was changed.",
                       link.Error().Error);
    }
    if (*link == initialLocation) {
        return std::nullopt;
    }
    if (initialLocation.empty()) {
        return Refused(QuotedPath(firstBackup) +
                       " is a link, but it was read as the default folder; nothing was changed. Read the location "
                       "again and retry.");
    }
    if (link->empty()) {
        return Refused(QuotedPath(firstBackup) + " is no longer a link to " + QuotedPath(initialLocation) +
                       "; nothing was changed. Read the location again and retry.");
    }
    return Refused(QuotedPath(firstBackup) + " links to " + QuotedPath(*link) + ", not to " +
                   QuotedPath(initialLocation) +
                   " as was read; nothing was changed. Read the location again and retry.");
}

Plan MakePlan(const std::string& initialLocation, const std::string& newLocation, const std::string& timestamp) {
    if (!newLocation.empty() && newLocation.front() != '/') {
        return Refused("The new location " + QuotedPath(newLocation) +
                       " is not a full path (it must start with \"/\").");
    }
    if (timestamp.size() != 14) {
        return Refused("The local time cannot be read, so a replaced link could not be named; nothing was changed.");
    }
    Plan plan;
    for (const std::string& mobileSync : MobileSyncFolders) {
        struct stat status {};
        const int error = ::stat(mobileSync.c_str(), &status) != 0 ? errno : S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
        if (error != 0) {
            return Refused("The folder " + QuotedPath(mobileSync) + " cannot be used: " + ErrorText(error) + ".",
                           error);
        }
        const std::string backup = mobileSync + "/" + BackupEntry;
        const std::string old = backup + "_old";
        const std::string stamped = backup + "_" + timestamp;
        if (!newLocation.empty()) {
            if (const std::optional<std::string> refusal = LinkIntoMovedFolder(newLocation, backup)) {
                return Refused(*refusal);
            }
        }
        const bool hasBackup = StateOf(backup) != EntryState::Missing;
        if (initialLocation.empty()) {
            if (hasBackup) {
                plan.Steps.push_back({StepKind::Rename, backup, old});
            }
            plan.Steps.push_back({StepKind::Link, newLocation, backup});
        } else {
            if (hasBackup) {
                plan.Steps.push_back({StepKind::Rename, backup, stamped});
            }
            if (newLocation.empty()) {
                if (StateOf(old) != EntryState::Missing) {
                    plan.Steps.push_back({StepKind::Rename, old, backup});
                }
            } else {
                plan.Steps.push_back({StepKind::Link, newLocation, backup});
            }
        }
    }
    // A step onto a name that is taken would fail half-way through; say so before anything is changed.
    std::map<std::string, bool> taken;
    for (const Step& step : plan.Steps) {
        const auto known = taken.find(step.To);
        if (known != taken.end() ? known->second : StateOf(step.To) != EntryState::Missing) {
            return Refused(step.FailureText(ErrorText(EEXIST)), EEXIST);
        }
        if (step.Kind == StepKind::Rename) {
            taken[step.From] = false;
        }
        taken[step.To] = true;
    }
    return plan;
}

Failure NotAFolder(FailureStep step, const std::string& name, const struct stat& status) {
    return Failure::Because(step, name,
                            S_ISREG(status.st_mode) ? FailureCause::NotFolder : FailureCause::NotRegularFile);
}

// Why the folder name is not there after making it failed; nothing when it is a folder after all.
std::optional<Failure> WhyNoFolder(const std::string& name, const Failure& making) {
    struct stat status {};
    if (::stat(name.c_str(), &status) != 0) {
        const int statError = errno;
        return Failure::System(FailureStep::Create, name, making.Error == EEXIST ? statError : making.Error);
    }
    return S_ISDIR(status.st_mode) ? std::nullopt
                                   : std::optional<Failure>(NotAFolder(FailureStep::Create, name, status));
}

} // namespace

Result<void> EnsureFolderPath(const std::string& path) {
    if (path.empty()) {
        return Failure::System(FailureStep::Create, path, ENOENT);
    }
    const std::string folder = path.back() == '/' ? path : path + "/";
    if (folder.size() == 1) {
        return {};
    }
    const std::string whole = folder.substr(0, folder.size() - 1);
    struct stat status {};
    if (::stat(whole.c_str(), &status) == 0) {
        return S_ISDIR(status.st_mode) ? Result<void>() : NotAFolder(FailureStep::Check, whole, status);
    }
    std::optional<Failure> firstCause;
    for (std::size_t pos = folder.front() == '/' ? 1 : 0; pos < folder.size();) {
        const std::size_t next = folder.find('/', pos) + 1;
        const std::string prefix = folder.substr(0, next);
        const Result<void> made = MakeFolder(prefix);
        const std::optional<Failure> why = made ? std::nullopt : WhyNoFolder(prefix.substr(0, next - 1), made.Error());
        if (!firstCause) {
            firstCause = why;
        }
        if (next == folder.size() && why) {
            return *firstCause;
        }
        pos = next;
    }
    return {};
}

std::string SettingsReasonText(const Failure& failure) {
    switch (failure.Cause) {
    case FailureCause::NotFolder:
        return QuotedPath(failure.Path) + " is a file, not a folder";
    case FailureCause::NotRegularFile:
        return QuotedPath(failure.Path) + " is not a folder";
    default:
        return CauseText(failure);
    }
}

std::string GetDirListPath() {
    return GetMarrowickSettingsFolder() + "dir.txt";
}

Result<void> WriteFolderListing(const std::string& folder, const std::string& listPath) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    std::string listing;
    if (error) {
        listing = "The folder " + Escaped(folder, false) + " cannot be listed: " + error.message() + "\n";
    } else {
        // Backup first, so that a long listing cannot push its line past what is read back.
        std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
            return (a == BackupEntry) != (b == BackupEntry) ? a == BackupEntry : a < b;
        });
        for (const std::string& name : names) {
            listing += ListingLine(folder, name) + "\n";
        }
        listing += "\n Directory of " + Escaped(folder, false) + ": " + std::to_string(names.size()) + " entries\n";
    }
    if (Result<void> written = WriteFileAtomically(listPath, listing); !written) {
        return written;
    }
    return error ? Result<void>(Failure::System(FailureStep::Read, folder, error.value())) : Result<void>();
}

std::string ReadBackupLinkTarget(const std::string& dirListPath) {
    std::ifstream file(dirListPath, std::ios::binary);
    if (!file) {
        return {};
    }
    std::string text(ListingReadLimit, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    const std::size_t marker = text.find(LinkMarker);
    if (marker == std::string::npos) {
        return {};
    }
    const std::size_t open = text.find('[', marker);
    const std::size_t close = text.find(']', marker);
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return {};
    }
    return text.substr(open + 1, close - open - 1);
}

Result<std::string> ReadBackupLink(const std::string& mobileSync) {
    const std::string path = mobileSync + "/" + BackupEntry;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        // A MobileSync folder that is missing or is a file holds no Backup.
        const int error = errno;
        return error == ENOENT || error == ENOTDIR ? Result<std::string>(std::string())
                                                   : Failure::System(FailureStep::Read, path, error);
    }
    if (!S_ISLNK(status.st_mode)) {
        return std::string();
    }
    std::error_code error;
    std::string target = fs::read_symlink(path, error).string();
    return error ? Result<std::string>(Failure::System(FailureStep::Read, path, error.value())) : std::move(target);
}

std::string RelocationTimestamp(std::int64_t unixSeconds) {
    std::tm local{};
    if (!ToLocalTime(unixSeconds, local)) {
        return {};
    }
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string CurrentRelocationTimestamp() {
    return RelocationTimestamp(static_cast<std::int64_t>(std::time(nullptr)));
}

RelocationPreparation PrepareRelocation() {
    RelocationPreparation preparation;
    const std::string settings = GetMarrowickSettingsFolder();
    if (const Result<void> made = EnsureFolderPath(settings); !made) {
        preparation.Problems.push_back("The settings folder " + QuotedPath(settings) +
                                       " cannot be created: " + SettingsReasonText(made.Error()) + ".");
    }
    for (const std::string& mobileSync : MobileSyncFolders) {
        if (const Result<void> made = EnsureFolderPath(mobileSync); !made) {
            preparation.Problems.push_back(std::string(UnableToCreatePathMessage) + " " + QuotedPath(mobileSync) +
                                           ": " + SettingsReasonText(made.Error()) + ".");
        }
    }
    preparation.DirListPath = GetDirListPath();
    if (const Result<void> listed = WriteFolderListing(MobileSyncFolders[0], preparation.DirListPath); !listed) {
        preparation.Problems.push_back("The folder " + QuotedPath(MobileSyncFolders[0]) + " cannot be listed into " +
                                       QuotedPath(preparation.DirListPath) + ": " + CauseText(listed.Error()) + ".");
    }
    const Result<std::string> link = ReadBackupLink(MobileSyncFolders[0]);
    if (!link) {
        preparation.Problems.push_back("Cannot examine " + QuotedPath(MobileSyncFolders[0] + "/" + BackupEntry) + ": " +
                                       CauseText(link.Error()) + ".");
    }
    preparation.InitialLocation = link ? *link : std::string();
    return preparation;
}

RelocationResult ApplyBackupLocation(const std::string& initialLocation, const std::string& newLocation,
                                     const std::string& timestamp) {
    RelocationResult result;
    std::optional<Plan> refusal = StateDiffersFromBelief(initialLocation);
    if (!refusal && newLocation == initialLocation) {
        result.Unchanged = true;
        return result;
    }
    const Plan plan = refusal ? std::move(*refusal) : MakePlan(initialLocation, newLocation, timestamp);
    if (!plan.Failure.empty()) {
        result.Failure = plan.Failure;
        result.Error = plan.Error;
        return result;
    }
    for (const Step& step : plan.Steps) {
        const Result<void> made =
            step.Kind == StepKind::Rename ? RenameNoReplace(step.From, step.To) : MakeDirectoryLink(step.From, step.To);
        if (!made) {
            result.Failure = step.FailureText(CauseText(made.Error()));
            result.Error = made.Error().Error;
            return result;
        }
        result.Done.push_back(step.DoneText());
    }
    return result;
}

} // namespace marrowick
