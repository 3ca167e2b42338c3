// Exports a folder of 10,000 files holding 2 GiB with the export engine and copies the same stored files with
// `cp -r` to the same disk, alternating, twice each, and reports the best throughput of each.
// Usage: marrowick_export_bench [work folder, default /tmp/marrowick-export-bench]

#include "core/backup/FileNode.h"
#include "core/export/ExportEngine.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace marrowick;

constexpr std::size_t FileCount = 10000;
constexpr std::uint64_t TotalBytes = std::uint64_t{2} << 30;
constexpr std::size_t LargeCount = 10;  // 100 MiB each: videos
constexpr std::size_t MediumCount = 90; // 5 MiB each: live photos, databases
constexpr std::uint64_t LargeSize = 100 << 20;
constexpr std::uint64_t MediumSize = 5 << 20;
constexpr std::size_t FilesPerFolder = 100;

struct BenchFile {
    std::string DevicePath;
    std::string FileID;
    std::uint64_t Size = 0;
};

std::uint64_t Next(std::uint64_t& state) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

std::string HexId(std::uint64_t& state) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string id(40, '0');
    for (char& c : id) {
        c = Digits[Next(state) & 15];
    }
    return id;
}

// Sizes varied as a camera roll is: a few large files, some medium ones and many small ones, 2 GiB in all.
std::vector<BenchFile> MakeFiles() {
    std::uint64_t state = 0x2017'2016'0000'0001ULL;
    std::vector<BenchFile> files(FileCount);
    const std::size_t smallCount = FileCount - LargeCount - MediumCount;
    const std::uint64_t smallBytes = TotalBytes - LargeCount * LargeSize - MediumCount * MediumSize;
    const std::uint64_t smallAverage = smallBytes / smallCount;
    std::uint64_t assigned = 0;
    for (std::size_t i = 0; i < FileCount; ++i) {
        BenchFile& file = files[i];
        file.FileID = HexId(state);
        char name[96];
        std::snprintf(name, sizeof name, "/var/mobile/Media/DCIM/%zuAPPLE/IMG_%05zu.JPG", 100 + i / FilesPerFolder, i);
        file.DevicePath = name;
        if (i < LargeCount) {
            file.Size = LargeSize;
        } else if (i < LargeCount + MediumCount) {
            file.Size = MediumSize;
        } else if (i + 1 < FileCount) {
            file.Size = 1024 + Next(state) % (2 * smallAverage - 2048);
        } else {
            file.Size = TotalBytes - assigned;
        }
        assigned += file.Size;
    }
    return files;
}

bool WriteStoredFile(const fs::path& path, std::uint64_t size, std::uint64_t seed) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<std::uint64_t> block(1 << 16);
    std::uint64_t state = seed | 1;
    for (std::uint64_t left = size; left > 0 && out;) {
        for (std::uint64_t& word : block) {
            word = Next(state);
        }
        const std::uint64_t chunk = std::min<std::uint64_t>(left, block.size() * sizeof(std::uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(chunk));
        left -= chunk;
    }
    return static_cast<bool>(out);
}

// Stored files in the Manifest.db layout <backup>/<ab>/<id>; a marker tells a later run that they are complete.
bool EnsureBackup(const fs::path& backup, const std::vector<BenchFile>& files) {
    const fs::path marker = backup.parent_path() / "backup-complete";
    if (fs::exists(marker)) {
        return true;
    }
    std::printf("writing %zu stored files (%llu bytes) into %s ...\n", files.size(),
                static_cast<unsigned long long>(TotalBytes), backup.c_str());
    std::fflush(stdout);
    std::error_code error;
    fs::remove_all(backup, error);
    std::uint64_t seed = 1;
    for (const BenchFile& file : files) {
        const fs::path folder = backup / file.FileID.substr(0, 2);
        fs::create_directories(folder, error);
        if (error || !WriteStoredFile(folder / file.FileID, file.Size, ++seed)) {
            std::fprintf(stderr, "cannot write the stored files below %s\n", backup.c_str());
            return false;
        }
    }
    std::ofstream(marker) << "complete\n";
    return true;
}

double Seconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

double TimeEngine(const FileNode* selected, const fs::path& backup, const fs::path& target) {
    fs::create_directories(target);
    ExportParameters parameters;
    parameters.SelectedNode = selected;
    parameters.BackupFolder = backup.string() + "/";
    parameters.ManifestKind = ManifestKindDb;
    parameters.TargetFolder = target.string() + "/";
    ExportCancelled = 0;
    const auto start = std::chrono::steady_clock::now();
    const ExportResult result = RunExport(parameters);
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    if (result.FilesCopied != FileCount || result.FailedCount != 0 || result.DiskFull) {
        std::fprintf(stderr, "the export copied %llu files, %llu failed%s\n%s",
                     static_cast<unsigned long long>(result.FilesCopied),
                     static_cast<unsigned long long>(result.FailedCount), result.DiskFull ? ", disk full" : "",
                     ExportFailureSummary(result).c_str());
        return -1;
    }
    return seconds;
}

double TimeCp(const fs::path& backup, const fs::path& target) {
    const std::string source = backup.string();
    const std::string destination = target.string();
    char cp[] = "cp";
    char recursive[] = "-r";
    char* argv[] = {cp, recursive, const_cast<char*>(source.c_str()), const_cast<char*>(destination.c_str()), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawnp(&child, "cp", nullptr, nullptr, argv, environ) != 0) {
        std::fprintf(stderr, "cannot start cp\n");
        return -1;
    }
    int status = 0;
    waitpid(child, &status, 0);
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "cp -r failed\n");
        return -1;
    }
    return seconds;
}

// Untimed: the next run starts with no target and with the previous run's dirty pages written back.
void RemoveTarget(const fs::path& target) {
    std::error_code error;
    fs::remove_all(target, error);
    ::sync();
}

double MiBPerSecond(double seconds) {
    return static_cast<double>(TotalBytes) / (1 << 20) / seconds;
}

} // namespace

int main(int argc, char** argv) {
    const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::path("/tmp/marrowick-export-bench");
    const fs::path backup = work / "backup";
    const std::vector<BenchFile> files = MakeFiles();
    if (!EnsureBackup(backup, files)) {
        return 1;
    }

    BackupTree tree(backup.string() + "/", ManifestKindDb);
    for (const BenchFile& file : files) {
        tree.InsertIntoTree(FileEntry{file.DevicePath, file.FileID, "1", static_cast<std::uint32_t>(file.Size), 0});
    }
    tree.FinishInsertion();
    const FileNode* media = FindNode(tree.Root(), "/var/mobile/Media");
    if (media == nullptr) {
        std::fprintf(stderr, "the tree holds no /var/mobile/Media\n");
        return 1;
    }

    const fs::path engineTarget = work / "out-engine";
    const fs::path cpTarget = work / "out-cp";
    RemoveTarget(engineTarget);
    RemoveTarget(cpTarget);
    double bestEngine = 1e9;
    double bestCp = 1e9;
    for (int round = 1; round <= 2; ++round) {
        // Each goes first once, so neither always meets a disk still busy with the other's writes.
        double engine = -1;
        double cp = -1;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == (round == 1)) {
                engine = TimeEngine(media, backup, engineTarget);
                RemoveTarget(engineTarget);
            } else {
                cp = TimeCp(backup, cpTarget);
                RemoveTarget(cpTarget);
            }
        }
        if (engine < 0 || cp < 0) {
            return 1;
        }
        std::printf("round %d: engine %.2f s (%.0f MiB/s), cp -r %.2f s (%.0f MiB/s)\n", round, engine,
                    MiBPerSecond(engine), cp, MiBPerSecond(cp));
        std::fflush(stdout);
        bestEngine = std::min(bestEngine, engine);
        bestCp = std::min(bestCp, cp);
    }
    const double ratio = bestCp / bestEngine;
    std::printf("best: engine %.0f MiB/s, cp -r %.0f MiB/s, engine/cp throughput %.2f (goal 0.90) %s\n",
                MiBPerSecond(bestEngine), MiBPerSecond(bestCp), ratio, ratio >= 0.9 ? "met" : "NOT MET");
    return 0;
}
