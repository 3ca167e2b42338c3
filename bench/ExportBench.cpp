// Exports a folder of stored files with the export engine and copies the same stored files with `cp -r` to the same
// disk, taking turns, and reports the median of each and of their ratio. Before every timed copy dirty pages are
// written back, the page cache is dropped (when the process may) and the stored files are read back in, so both
// tools start alike: the source in the cache, nothing of the other's writes in it. Every copy goes to a new folder;
// all are removed at the end (about 2.4 GB a copy). With --encrypted, the engine exports the same content from an
// encrypted copy of the backup, against the engine on the plain one.
// Usage: marrowick_export_bench [--rounds N] [--set mixed|small] [--encrypted] [WORK_FOLDER]
//   mixed: 10,000 files holding 2 GiB (a few large, many small); small: 12,000 files of 200 KB.

#include "core/backup/BackupTree.h"
#include "core/backup/FileNode.h"
#include "core/crypto/UnlockedBackup.h"
#include "core/crypto/UnlockedBackups.h"
#include "core/export/ExportEngine.h"
#include "support/SampleBackup.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace marrowick;

constexpr std::size_t FilesPerFolder = 100;

// Which stored files the backup holds.
struct FileSet {
    std::string Name;
    std::size_t Count = 0;
    std::uint64_t TotalBytes = 0;
};

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

// mixed: sizes varied as a camera roll is, 10 of 100 MiB, 90 of 5 MiB and the rest small, 2 GiB in all.
// small: 12,000 files of 200 KB, where the cost per file counts most.
std::vector<BenchFile> MakeFiles(const FileSet& set) {
    constexpr std::size_t LargeCount = 10;
    constexpr std::size_t MediumCount = 90;
    constexpr std::uint64_t LargeSize = 100 << 20;
    constexpr std::uint64_t MediumSize = 5 << 20;
    const bool mixed = set.Name == "mixed";
    std::uint64_t state = 0x2017'2016'0000'0001ULL;
    std::vector<BenchFile> files(set.Count);
    const std::size_t smallCount = set.Count - LargeCount - MediumCount;
    const std::uint64_t smallBytes = set.TotalBytes - LargeCount * LargeSize - MediumCount * MediumSize;
    const std::uint64_t smallAverage = smallBytes / smallCount;
    std::uint64_t assigned = 0;
    for (std::size_t i = 0; i < set.Count; ++i) {
        BenchFile& file = files[i];
        file.FileID = HexId(state);
        char name[96];
        std::snprintf(name, sizeof name, "/var/mobile/Media/DCIM/%zuAPPLE/IMG_%05zu.JPG", 100 + i / FilesPerFolder, i);
        file.DevicePath = name;
        if (!mixed) {
            file.Size = set.TotalBytes / set.Count;
        } else if (i < LargeCount) {
            file.Size = LargeSize;
        } else if (i < LargeCount + MediumCount) {
            file.Size = MediumSize;
        } else if (i + 1 < set.Count) {
            file.Size = 1024 + Next(state) % (2 * smallAverage - 2048);
        } else {
            file.Size = set.TotalBytes - assigned;
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
bool EnsureBackup(const fs::path& backup, const std::vector<BenchFile>& files, std::uint64_t totalBytes) {
    const fs::path marker = backup.parent_path() / "backup-complete";
    if (fs::exists(marker)) {
        return true;
    }
    std::printf("writing %zu stored files (%llu bytes) into %s ...\n", files.size(),
                static_cast<unsigned long long>(totalBytes), backup.c_str());
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

// The same stored files encrypted as a device stores them, each with a key of its own (the sample writer's), beside a
// Manifest.plist whose keybag unwraps those keys.
bool EnsureEncryptedBackup(const fs::path& plain, const fs::path& encrypted, const std::vector<BenchFile>& files) {
    const fs::path marker = encrypted.parent_path() / "encrypted-backup-complete";
    if (fs::exists(marker)) {
        return true;
    }
    std::printf("writing the stored files encrypted into %s ...\n", encrypted.c_str());
    std::fflush(stdout);
    std::error_code error;
    fs::remove_all(encrypted, error);
    testing::WriteSampleBackup(encrypted, {.Encryption = testing::SampleEncryption{}});
    for (const BenchFile& file : files) {
        const fs::path relative = fs::path(file.FileID.substr(0, 2)) / file.FileID;
        fs::create_directories(encrypted / relative.parent_path(), error);
        std::ofstream out(encrypted / relative, std::ios::binary | std::ios::trunc);
        out << testing::EncryptCbc(testing::SampleFileKey(file.FileID), testing::ReadFile(plain / relative));
        if (error || !out) {
            std::fprintf(stderr, "cannot write the stored files below %s\n", encrypted.c_str());
            return false;
        }
    }
    std::ofstream(marker) << "complete\n";
    return true;
}

// The files' tree below /var/mobile/Media/DCIM; with their records' wrapped keys when encrypted.
std::unique_ptr<BackupTree> MakeTree(const fs::path& backup, const std::vector<BenchFile>& files, bool encrypted) {
    auto tree = std::make_unique<BackupTree>(backup.string() + "/", ManifestKindDb);
    for (const BenchFile& file : files) {
        EntryRecord record{.Size = file.Size};
        if (encrypted) {
            record.ProtectionClass = 3;
            record.EncryptionKey = testing::MakeWrappedRecordKey(3, testing::SampleFileKey(file.FileID));
        }
        tree->InsertIntoTree(FileEntry{file.DevicePath, file.FileID, "1", &record});
    }
    tree->FinishInsertion();
    return tree;
}

double Seconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

// Wall time, and processor time (user and system): the latter hardly depends on what else the disk is doing.
struct Timing {
    double Seconds = -1;
    double Cpu = 0;
};

double CpuSeconds(const rusage& usage) {
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

Timing TimeEngine(const FileNode* selected, std::size_t count, const fs::path& backup, const fs::path& target) {
    fs::create_directories(target);
    ExportParameters parameters;
    parameters.SelectedNode = selected;
    parameters.BackupFolder = backup.string() + "/";
    parameters.ManifestKind = ManifestKindDb;
    parameters.TargetFolder = target.string() + "/";
    ExportCancelled = 0;
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    const ExportResult result = RunExport(parameters);
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    if (result.FilesCopied != count || result.FailedCount != 0 || result.DiskFull) {
        std::fprintf(stderr, "the export copied %llu files, %llu failed%s\n%s",
                     static_cast<unsigned long long>(result.FilesCopied),
                     static_cast<unsigned long long>(result.FailedCount), result.DiskFull ? ", disk full" : "",
                     ExportFailureSummary(result).c_str());
        return {};
    }
    return {seconds, CpuSeconds(after) - CpuSeconds(before)};
}

Timing TimeCp(const fs::path& backup, const fs::path& target) {
    const std::string source = backup.string();
    const std::string destination = target.string();
    char cp[] = "cp";
    char recursive[] = "-r";
    char* argv[] = {cp, recursive, const_cast<char*>(source.c_str()), const_cast<char*>(destination.c_str()), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawnp(&child, "cp", nullptr, nullptr, argv, environ) != 0) {
        std::fprintf(stderr, "cannot start cp\n");
        return {};
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "cp -r failed\n");
        return {};
    }
    return {seconds, CpuSeconds(usage)};
}

// Untimed: the next run starts with the previous run's dirty pages written back and dropped from the page cache, and
// with the stored files read back in. Targets are removed only at the end: freeing gigabytes keeps the disk busy
// for a while after the call, and would slow whichever tool ran next.
bool PrepareRun(const fs::path& backup, bool& cacheDropped) {
    ::sync();
    {
        std::ofstream dropCaches("/proc/sys/vm/drop_caches");
        cacheDropped = static_cast<bool>(dropCaches << "3\n");
    }
    std::error_code error;
    std::vector<char> buffer(std::size_t{1} << 20);
    for (fs::recursive_directory_iterator it(backup, error), end; !error && it != end; it.increment(error)) {
        if (!it->is_regular_file()) {
            continue;
        }
        std::ifstream in(it->path(), std::ios::binary);
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
        }
    }
    return !error;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Options {
    int Rounds = 6;
    FileSet Set{"mixed", 10000, std::uint64_t{2} << 30};
    fs::path Work = "/tmp/marrowick-export-bench";
    bool Encrypted = false;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) {
            options.Rounds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--set" && i + 1 < argc) {
            const std::string name = argv[++i];
            if (name == "small") {
                options.Set = FileSet{"small", 12000, std::uint64_t{12000} * 200 * 1024};
            } else if (name != "mixed") {
                return false;
            }
        } else if (arg == "--encrypted") {
            options.Encrypted = true;
        } else if (!arg.starts_with("--")) {
            options.Work = arg;
        } else {
            return false;
        }
    }
    return true;
}

// One of the two copies a round times: what it copies from, read back before it runs, and how it copies.
struct Contender {
    std::string Name;
    fs::path Source;
    std::function<Timing(const fs::path& target)> Run;
};

// The engine's export of the tree's /var/mobile/Media into target.
Contender Engine(std::string name, const fs::path& backup, const BackupTree& tree, std::size_t count) {
    const FileNode* media = FindNode(tree.Root(), "/var/mobile/Media");
    return {std::move(name), backup,
            [media, count, backup](const fs::path& target) { return TimeEngine(media, count, backup, target); }};
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: marrowick_export_bench [--rounds N] [--set mixed|small] [--encrypted] "
                             "[WORK_FOLDER]\n");
        return 2;
    }
    const FileSet& set = options.Set;
    const fs::path work = options.Work / set.Name;
    const fs::path backup = work / "backup";
    const fs::path encryptedBackup = work / "encrypted-backup";
    const std::vector<BenchFile> files = MakeFiles(set);
    if (!EnsureBackup(backup, files, set.TotalBytes) ||
        (options.Encrypted && !EnsureEncryptedBackup(backup, encryptedBackup, files))) {
        return 1;
    }
    const std::unique_ptr<BackupTree> tree = MakeTree(backup, files, false);
    std::unique_ptr<BackupTree> encryptedTree;
    // What is measured, and the baseline its throughput is a share of.
    Contender measured = Engine("engine", backup, *tree, set.Count);
    Contender baseline{"cp -r", backup, [&backup](const fs::path& target) { return TimeCp(backup, target); }};
    double goal = 0.9;
    if (options.Encrypted) {
        Result<UnlockedBackup> unlocked =
            UnlockBackup(encryptedBackup.string(), SecretBytes::CopyOf(testing::SampleKeybag{}.Password));
        if (!unlocked) {
            std::fprintf(stderr, "cannot unlock %s\n", encryptedBackup.c_str());
            return 1;
        }
        KeepUnlockedBackup(std::make_shared<const UnlockedBackup>(std::move(*unlocked)));
        encryptedTree = MakeTree(encryptedBackup, files, true);
        baseline = std::move(measured);
        measured = Engine("encrypted", encryptedBackup, *encryptedTree, set.Count);
        goal = 0.8;
    }

    const fs::path targets = work / "targets";
    std::error_code error;
    fs::remove_all(targets, error);
    const double mebibytes = static_cast<double>(set.TotalBytes) / (1 << 20);
    std::vector<double> times[2];
    std::vector<double> cpu[2];
    std::vector<double> ratios;
    bool cacheDropped = true;
    for (int round = 1; round <= options.Rounds; ++round) {
        // Each goes first in every other round, so neither always meets a disk still busy with the other's writes.
        Timing timing[2];
        for (int turn = 0; turn < 2; ++turn) {
            const int which = (turn + round + 1) % 2; // 0 the measured one, 1 the baseline
            const Contender& contender = which == 0 ? measured : baseline;
            bool dropped = false;
            if (!PrepareRun(contender.Source, dropped)) {
                return 1;
            }
            timing[which] = contender.Run(targets / (std::to_string(which) + "-" + std::to_string(round)));
            cacheDropped = cacheDropped && dropped;
        }
        if (timing[0].Seconds < 0 || timing[1].Seconds < 0) {
            return 1;
        }
        std::printf("round %d (%s first):", round, (round % 2 == 1 ? measured : baseline).Name.c_str());
        for (int which = 0; which < 2; ++which) {
            std::printf(" %s %.2f s (%.0f MiB/s, cpu %.2f s)%s", (which == 0 ? measured : baseline).Name.c_str(),
                        timing[which].Seconds, mebibytes / timing[which].Seconds, timing[which].Cpu,
                        which == 0 ? "," : "");
            times[which].push_back(timing[which].Seconds);
            cpu[which].push_back(timing[which].Cpu);
        }
        ratios.push_back(timing[1].Seconds / timing[0].Seconds);
        std::printf(", ratio %.2f\n", ratios.back());
        std::fflush(stdout);
    }
    fs::remove_all(targets, error);
    const double ratio = Median(ratios);
    std::printf("%s: %zu files, %.0f MiB; median of %d rounds:", set.Name.c_str(), set.Count, mebibytes,
                options.Rounds);
    for (int which = 0; which < 2; ++which) {
        std::printf(" %s %.2f s (%.0f MiB/s, cpu %.2f s),", (which == 0 ? measured : baseline).Name.c_str(),
                    Median(times[which]), mebibytes / Median(times[which]), Median(cpu[which]));
    }
    std::printf(" %s/%s throughput %.2f (goal %.2f) %s%s\n", measured.Name.c_str(), baseline.Name.c_str(), ratio, goal,
                ratio >= goal ? "met" : "NOT MET", cacheDropped ? "" : " (the page cache could not be dropped)");
    return 0;
}
