#include "core/backup/BackupDiscovery.h"

#include "core/backup/BackupLocations.h"
#include "core/platform/Files.h"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace marrowick {
namespace {

// The names of the folders in folder (links to folders included), in byte order so that which of two equal
// backups is listed does not depend on the file system's order.
std::vector<std::string> SubfolderNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    for (const std::filesystem::directory_iterator end; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        if (it->is_directory(typeError)) {
            names.push_back(it->path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool IsListedAlready(const std::vector<BackupRecord>& rows, const BackupRecord& candidate) {
    return std::any_of(rows.begin(), rows.end(), [&](const BackupRecord& row) { return IsSameBackup(row, candidate); });
}

void ScanSecondLevel(const std::string& folder, std::vector<BackupRecord>& rows) {
    for (const std::string& name : SubfolderNames(folder)) {
        const std::string sub = WithTrailingSlash(folder + "/" + name);
        BackupRecord record;
        if (ReadBackupSummary(record, sub)) {
            record.FolderPath = sub;
            rows.push_back(std::move(record));
        }
    }
}

// Sorts by Time with the exchange sort that decides the order of equal times.
void SortByTime(std::vector<BackupRecord>& rows) {
    for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
        for (std::size_t j = i + 1; j < rows.size(); ++j) {
            if (rows[i].Time.compare(rows[j].Time) > 0) {
                std::swap(rows[i], rows[j]);
            }
        }
    }
}

} // namespace

bool IsSameBackup(const BackupRecord& a, const BackupRecord& b) {
    return a.Name == b.Name && a.Time == b.Time && a.Version == b.Version && a.DeviceType == b.DeviceType &&
           a.SerialNumber == b.SerialNumber;
}

void ScanBackupLocation(std::string location, std::vector<BackupRecord>& rows) {
    if (location.empty()) {
        return;
    }
    location = WithTrailingSlash(std::move(location));
    for (const std::string& name : SubfolderNames(location)) {
        const std::string candidate = location + name;
        BackupRecord record;
        if (ReadBackupSummary(record, candidate)) {
            record.FolderPath = candidate + "/";
            if (!IsListedAlready(rows, record)) {
                rows.push_back(std::move(record));
            }
        } else {
            ScanSecondLevel(candidate, rows);
        }
    }
}

std::vector<BackupRecord> RefreshBackupList(const std::vector<std::string>& moreLocations) {
    std::vector<BackupRecord> rows;
    for (const std::string& location : SearchedBackupLocations()) {
        ScanBackupLocation(location, rows);
    }
    for (const std::string& location : moreLocations) {
        ScanBackupLocation(location, rows);
    }
    SortByTime(rows);
    return rows;
}

} // namespace marrowick
