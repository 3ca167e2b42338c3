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

struct Plan {
    std::vector<RelocationStep> Steps;
    std::optional<Failure> Problem;
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
bool LinksIntoMovedFolder(const std::string& newLocation, const std::string& backup) {
    return IsWithin(newLocation, backup) || (StateOf(backup) == EntryState::Other && LiesWithin(newLocation, backup));
}

Failure Because(FailureStep step, std::string path, FailureCause cause, std::string otherPath = {}) {
    Failure failure = Failure::Because(step, std::move(path), cause);
    failure.OtherPath = std::move(otherPath);
    return failure;
}

Plan Refused(Failure failure) {
    Plan plan;
    plan.Problem = std::move(failure);
    return plan;
}

// The failure a step would meet because its new name is taken: as RenameNoReplace or MakeDirectoryLink give it.
Failure TakenBy(const RelocationStep& step) {
    return step.Kind == RelocationStepKind::Rename
               ? Because(FailureStep::Rename, step.From, FailureCause::Taken, step.To)
               : Because(FailureStep::Link, step.To, FailureCause::Taken, step.From);
}

// The dialog decided on the state it read when it opened; acting on another one would link or restore the wrong way.
std::optional<Plan> StateDiffersFromBelief(const std::string& initialLocation) {
    const Result<std::string> link = ReadBackupLink(MobileSyncFolders[0]);
    if (!link) {
        return Refused(link.Error());
    }
    if (*link == initialLocation) {
        return std::nullopt;
    }
    return Refused(Because(FailureStep::Check, MobileSyncFolders[0] + "/" + BackupEntry, FailureCause::Changed, *link));
}

// Why the MobileSync folder cannot take part; nothing when it is a folder.
std::optional<Failure> UnusableFolder(const std::string& mobileSync) {
    struct stat status {};
    const int error = ::stat(mobileSync.c_str(), &status) != 0 ? errno : S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
    return error == 0 ? std::nullopt : std::optional<Failure>(Failure::System(FailureStep::Check, mobileSync, error));
}

void AddSteps(Plan& plan, const std::string& mobileSync, const std::string& initialLocation,
              const std::string& newLocation, const std::string& timestamp) {
    const std::string backup = mobileSync + "/" + BackupEntry;
    const std::string old = backup + "_old";
    const bool hasBackup = StateOf(backup) != EntryState::Missing;
    if (initialLocation.empty()) {
        if (hasBackup) {
            plan.Steps.push_back({RelocationStepKind::Rename, backup, old});
        }
        plan.Steps.push_back({RelocationStepKind::Link, newLocation, backup});
        return;
    }
    if (hasBackup) {
        plan.Steps.push_back({RelocationStepKind::Rename, backup, backup + "_" + timestamp});
    }
    if (newLocation.empty()) {
        if (StateOf(old) != EntryState::Missing) {
            plan.Steps.push_back({RelocationStepKind::Rename, old, backup});
        }
    } else {
        plan.Steps.push_back({RelocationStepKind::Link, newLocation, backup});
    }
}

// A step onto a name that is taken would fail half-way through; say so before anything is changed.
std::optional<Failure> FirstNameTaken(const std::vector<RelocationStep>& steps) {
    std::map<std::string, bool> taken;
    for (const RelocationStep& step : steps) {
        const auto known = taken.find(step.To);
        if (known != taken.end() ? known->second : StateOf(step.To) != EntryState::Missing) {
            return TakenBy(step);
        }
        if (step.Kind == RelocationStepKind::Rename) {
            taken[step.From] = false;
        }
        taken[step.To] = true;
    }
    return std::nullopt;
}

Plan MakePlan(const std::string& initialLocation, const std::string& newLocation, const std::string& timestamp) {
    if (!newLocation.empty() && newLocation.front() != '/') {
        return Refused(Because(FailureStep::Check, newLocation, FailureCause::NotAbsolute));
    }
    if (timestamp.size() != 14) {
        return Refused(Because(FailureStep::Check, {}, FailureCause::NoLocalTime));
    }
    Plan plan;
    for (const std::string& mobileSync : MobileSyncFolders) {
        if (std::optional<Failure> unusable = UnusableFolder(mobileSync)) {
            return Refused(std::move(*unusable));
        }
        const std::string backup = mobileSync + "/" + BackupEntry;
        if (!newLocation.empty() && LinksIntoMovedFolder(newLocation, backup)) {
            return Refused(Because(FailureStep::Check, newLocation, FailureCause::Inside, backup));
        }
        AddSteps(plan, mobileSync, initialLocation, newLocation, timestamp);
    }
    plan.Problem = FirstNameTaken(plan.Steps);
    return plan;
}

// ---- Folders ----------------------------------------------------------------------------------------

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

// ---- Texts ------------------------------------------------------------------------------------------

std::string StepFailureText(const Failure& problem) {
    const std::string paths = QuotedPath(problem.Path) + " to " + QuotedPath(problem.OtherPath);
    return (problem.Step == FailureStep::Rename ? "Cannot rename " : "Cannot make the link ") + paths + ": " +
           CauseText(problem) + ".";
}

std::string ChangedText(const Failure& problem, const std::string& initialLocation) {
    if (initialLocation.empty()) {
        return QuotedPath(problem.Path) +
               " is a link, but it was read as the default folder; nothing was changed. Read the location "
               "again and retry.";
    }
    if (problem.OtherPath.empty()) {
        return QuotedPath(problem.Path) + " is no longer a link to " + QuotedPath(initialLocation) +
               "; nothing was changed. Read the location again and retry.";
    }
    return QuotedPath(problem.Path) + " links to " + QuotedPath(problem.OtherPath) + ", not to " +
           QuotedPath(initialLocation) + " as was read; nothing was changed. Read the location again and retry.";
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

std::string PreparationProblemText(const PreparationProblem& problem) {
    const std::string reason = SettingsReasonText(problem.Why);
    switch (problem.Step) {
    case PreparationStep::SettingsFolder:
        return "The settings folder " + QuotedPath(problem.Path) + " cannot be created: " + reason + ".";
    case PreparationStep::MobileSyncFolder:
        return std::string(UnableToCreatePathMessage) + " " + QuotedPath(problem.Path) + ": " + reason + ".";
    case PreparationStep::Listing:
        return "The folder " + QuotedPath(problem.Path) + " cannot be listed into " + QuotedPath(problem.ListPath) +
               ": " + reason + ".";
    case PreparationStep::BackupEntry:
        return "Cannot examine " + QuotedPath(problem.Path) + ": " + reason + ".";
    }
    return FailureText(problem.Why);
}

RelocationPreparation PrepareRelocation() {
    RelocationPreparation preparation;
    const auto note = [&preparation](PreparationStep step, const std::string& path, const Result<void>& done,
                                     const std::string& listPath = {}) {
        if (!done) {
            preparation.Problems.push_back({step, path, listPath, done.Error()});
        }
    };
    const std::string settings = GetMarrowickSettingsFolder();
    note(PreparationStep::SettingsFolder, settings, EnsureFolderPath(settings));
    for (const std::string& mobileSync : MobileSyncFolders) {
        note(PreparationStep::MobileSyncFolder, mobileSync, EnsureFolderPath(mobileSync));
    }
    preparation.DirListPath = GetDirListPath();
    note(PreparationStep::Listing, MobileSyncFolders[0],
         WriteFolderListing(MobileSyncFolders[0], preparation.DirListPath), preparation.DirListPath);
    const Result<std::string> link = ReadBackupLink(MobileSyncFolders[0]);
    if (!link) {
        preparation.Problems.push_back(
            {PreparationStep::BackupEntry, MobileSyncFolders[0] + "/" + BackupEntry, {}, link.Error()});
    }
    preparation.InitialLocation = link ? *link : std::string();
    return preparation;
}

std::string RelocationStepText(const RelocationStep& step) {
    return step.Kind == RelocationStepKind::Rename
               ? "Renamed " + QuotedPath(step.From) + " to " + QuotedPath(step.To) + "."
               : "Linked " + QuotedPath(step.To) + " to " + QuotedPath(step.From) + ".";
}

RelocationResult ApplyBackupLocation(const std::string& initialLocation, const std::string& newLocation,
                                     const std::string& timestamp) {
    RelocationResult result;
    std::optional<Plan> refusal = StateDiffersFromBelief(initialLocation);
    if (!refusal && newLocation == initialLocation) {
        result.Unchanged = true;
        return result;
    }
    Plan plan = refusal ? std::move(*refusal) : MakePlan(initialLocation, newLocation, timestamp);
    if (plan.Problem) {
        result.Problem = std::move(plan.Problem);
        return result;
    }
    for (RelocationStep& step : plan.Steps) {
        const Result<void> made = step.Kind == RelocationStepKind::Rename ? RenameNoReplace(step.From, step.To)
                                                                          : MakeDirectoryLink(step.From, step.To);
        if (!made) {
            result.Problem = made.Error();
            return result;
        }
        result.Done.push_back(std::move(step));
    }
    return result;
}

std::string RelocationFailureText(const Failure& problem, const std::string& initialLocation) {
    switch (problem.Cause) {
    case FailureCause::NotAbsolute:
        return "The new location " + QuotedPath(problem.Path) + " is not a full path (it must start with \"/\").";
    case FailureCause::NoLocalTime:
        return "The local time cannot be read, so a replaced link could not be named; nothing was changed.";
    case FailureCause::Inside:
        return "The new location " + QuotedPath(problem.Path) + " lies inside " + QuotedPath(problem.OtherPath) +
               ", which the relocation renames; choose a folder outside it.";
    case FailureCause::Changed:
        return ChangedText(problem, initialLocation);
    default:
        break;
    }
    switch (problem.Step) {
    case FailureStep::Rename:
    case FailureStep::Link:
        return StepFailureText(problem);
    case FailureStep::Read:
        return "Cannot examine " + QuotedPath(problem.Path) + ": " + CauseText(problem) + "; nothing was changed.";
    case FailureStep::Check:
        return "The folder " + QuotedPath(problem.Path) + " cannot be used: " + CauseText(problem) + ".";
    default:
        return FailureText(problem);
    }
}

} // namespace marrowick
