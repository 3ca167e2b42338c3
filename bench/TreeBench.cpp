// Builds backup trees from large synthetic backups and reports time and peak memory per entry.
// Each measurement runs in a fresh child process, so that its peak resident size is its own.

#include "BackupGenerator.h"

#include "core/backup/BackupTreeCache.h"
#include "core/backup/StoredFile.h"
#include "core/platform/FileDescriptor.h"
#include "core/platform/SqliteHandles.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace marrowick;

long CurrentRssBytes() {
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

long PeakRssBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss * 1024L;
}

// The status of stored files, asked relative to the backup folder (opened once), on the calling thread or, when
// threaded, on a thread of its own that takes the names in batches.
class StoredFileStatter final {
public:
    StoredFileStatter(const std::string& folder, bool threaded)
        : folder_(folder), folderFd_(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {
        if (threaded) {
            thread_ = std::thread([this] { Run(); });
        }
    }
    ~StoredFileStatter() {
        if (thread_.joinable()) {
            Hand();
            {
                const std::lock_guard lock(mutex_);
                done_ = true;
            }
            work_.notify_one();
            thread_.join();
        }
    }
    StoredFileStatter(const StoredFileStatter&) = delete;
    StoredFileStatter& operator=(const StoredFileStatter&) = delete;

    void Add(const char* id) {
        AppendStoredFileName(filling_, id, ManifestKindDb);
        filling_.push_back('\0');
        if (!thread_.joinable()) {
            Stat(filling_);
            filling_.clear();
        } else if (filling_.size() >= 256 * 44) {
            Hand();
        }
    }

private:
    void Stat(const std::string& names) const {
        for (std::size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
            struct stat status {};
            if (::fstatat(folderFd_.Get(), names.c_str() + at, &status, 0) != 0) {
                std::fprintf(stderr, "missing stored file %s/%s\n", folder_.c_str(), names.c_str() + at);
            }
        }
    }
    void Hand() {
        const std::lock_guard lock(mutex_);
        waiting_.push_back(std::exchange(filling_, {}));
        work_.notify_one();
    }
    void Run() {
        for (;;) {
            std::string names;
            {
                std::unique_lock lock(mutex_);
                work_.wait(lock, [this] { return !waiting_.empty() || done_; });
                if (waiting_.empty()) {
                    return;
                }
                names = std::move(waiting_.front());
                waiting_.pop_front();
            }
            Stat(names);
        }
    }

    std::string folder_;
    FileDescriptor folderFd_;
    std::string filling_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::deque<std::string> waiting_;
    bool done_ = false;
    std::thread thread_;
};

enum class StatFiles { No, OnThisThread, OnASecondThread };

// Only what the tree builder must do anyway: the same query, row by row with every column's bytes fetched, and
// unless told not to, the status of every stored file, asked the same way (relative to the open backup folder).
std::size_t ReadRowsAndStat(const std::string& folder, StatFiles stat) {
    const std::string uri = "file://" + folder + "/Manifest.db?immutable=1";
    std::size_t rows = 0;
    std::optional<StoredFileStatter> statter;
    if (stat != StatFiles::No) {
        statter.emplace(folder, stat == StatFiles::OnASecondThread);
    }
    sqlite3* rawDb = nullptr;
    const int opened = sqlite3_open_v2(uri.c_str(), &rawDb, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    const SqliteDatabase db(rawDb);
    if (opened == SQLITE_OK) {
        sqlite3_stmt* rawQuery = nullptr;
        sqlite3_prepare_v2(db.get(), "SELECT fileID, domain, relativePath, flags, file FROM Files", -1, &rawQuery,
                           nullptr);
        const SqliteStatement owned(rawQuery);
        sqlite3_stmt* query = owned.get();
        while (query != nullptr && sqlite3_step(query) == SQLITE_ROW) {
            const auto* id = reinterpret_cast<const char*>(sqlite3_column_text(query, 0));
            const auto* domain = reinterpret_cast<const char*>(sqlite3_column_text(query, 1));
            const auto* path = reinterpret_cast<const char*>(sqlite3_column_text(query, 2));
            const auto* flags = reinterpret_cast<const char*>(sqlite3_column_text(query, 3));
            sqlite3_column_blob(query, 4); // the record's bytes, which a reader of the records must fetch
            ++rows;
            // Only files have a stored file; folders and links are rows alone.
            if (statter && id != nullptr && domain != nullptr && path != nullptr && flags != nullptr &&
                std::strcmp(flags, "1") == 0) {
                statter->Add(id);
            }
        }
    }
    return rows;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * t.tv_usec; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs one measurement in this process and prints "seconds cpu-seconds rss-before peak-rss nodes".
int RunChild(const std::string& phase, const std::string& folder) {
    const long before = CurrentRssBytes();
    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::size_t nodes = 0;
    std::unique_ptr<BackupTree> tree; // released only after the peak is read
    if (phase == "rows-only") {
        nodes = ReadRowsAndStat(folder, StatFiles::No);
    } else if (phase == "rows" || phase == "rows-threaded") {
        nodes = ReadRowsAndStat(folder, phase == "rows" ? StatFiles::OnThisThread : StatFiles::OnASecondThread);
    } else {
        CachedBackupTree read = ReadBackupTree(folder, phase == "tree-db" ? ManifestKindDb : ManifestKindMbdb);
        if (read.Status != TreeStatus::Ok) {
            std::fprintf(stderr, "%s: %s\n", folder.c_str(), TreeProblemText(read.Status, read.Problem).c_str());
            return 1;
        }
        nodes = read.Tree->NodeCount();
        tree = std::move(read.Tree);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.6f %.6f %ld %ld %zu\n", seconds, CpuSeconds() - cpuStart, before, PeakRssBytes(), nodes);
    return 0;
}

struct Measurement {
    double Seconds = 0;
    double CpuSeconds = 0; // user and system time of all the child's threads
    long PeakBytes = 0;
    std::size_t Nodes = 0;
};

bool MeasureOnce(const std::string& self, const std::string& phase, const std::string& folder, Measurement& out) {
    const std::string command = "'" + self + "' --child " + phase + " '" + folder + "'";
    FILE* child = popen(command.c_str(), "r");
    if (child == nullptr) {
        return false;
    }
    long before = 0;
    long peak = 0;
    const int fields =
        std::fscanf(child, "%lf %lf %ld %ld %zu", &out.Seconds, &out.CpuSeconds, &before, &peak, &out.Nodes);
    const int status = pclose(child);
    out.PeakBytes = peak - before;
    return fields == 5 && status == 0;
}

// The median time of runs children of each phase, and the largest peak among them. Phases take turns, the
// first one changing every round, so that a busy moment of the machine falls on both alike.
bool Measure(const std::string& self, const std::vector<std::string>& phases, const std::string& folder, int runs,
             std::vector<Measurement>& out) {
    std::vector<std::vector<double>> times(phases.size());
    std::vector<std::vector<double>> cpuTimes(phases.size());
    out.assign(phases.size(), {});
    for (int run = 0; run < runs; ++run) {
        for (std::size_t turn = 0; turn < phases.size(); ++turn) {
            const std::size_t p = (turn + static_cast<std::size_t>(run)) % phases.size();
            Measurement one;
            if (!MeasureOnce(self, phases[p], folder, one)) {
                return false;
            }
            times[p].push_back(one.Seconds);
            cpuTimes[p].push_back(one.CpuSeconds);
            out[p].PeakBytes = std::max(out[p].PeakBytes, one.PeakBytes);
            out[p].Nodes = one.Nodes;
        }
    }
    for (std::size_t p = 0; p < phases.size(); ++p) {
        std::sort(times[p].begin(), times[p].end());
        std::sort(cpuTimes[p].begin(), cpuTimes[p].end());
        out[p].Seconds = times[p][times[p].size() / 2];
        out[p].CpuSeconds = cpuTimes[p][cpuTimes[p].size() / 2];
    }
    return true;
}

// Prints one phase's line; the tree's line also compares it with the floors measured in the same run.
void Report(const char* format, std::size_t entries, const char* phase, const Measurement& m,
            const std::vector<std::pair<const char*, const Measurement*>>& floors = {}) {
    const double perEntry = m.Seconds / static_cast<double>(entries);
    std::printf("%-5s %9zu  %-13s %7.3f s %7.3f s %7.0f ns %9.0f /s %7.1f B", format, entries, phase, m.Seconds,
                m.CpuSeconds, perEntry * 1e9, 1.0 / perEntry,
                static_cast<double>(m.PeakBytes) / static_cast<double>(entries));
    for (const auto& [name, floor] : floors) {
        std::printf("   %.2fx %s (cpu %.2fx)", m.Seconds / floor->Seconds, name, m.CpuSeconds / floor->CpuSeconds);
    }
    std::printf("\n");
    std::fflush(stdout);
}

int Usage() {
    std::fprintf(stderr, "usage: marrowick_tree_bench [--folder DIR] [--format db|mbdb|both] [--runs N] ENTRIES...\n"
                         "Synthetic backups are written to DIR/<format>-<entries> (default /tmp/marrowick-bench)\n"
                         "and reused by later runs.\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--child") {
        return RunChild(argv[2], argv[3]);
    }
    std::string root = "/tmp/marrowick-bench";
    std::string format = "both";
    int runs = 3;
    std::vector<std::size_t> sizes;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--folder" || arg == "--format" || arg == "--runs") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--folder") {
                root = value;
            } else if (arg == "--format") {
                format = value;
            } else {
                runs = std::max(1, std::atoi(value.c_str()));
            }
        } else if (!arg.empty() && arg.find_first_not_of("0123456789") == std::string::npos) {
            sizes.push_back(std::stoull(arg));
        } else {
            return Usage();
        }
    }
    if (sizes.empty()) {
        return Usage();
    }
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        return 1;
    }
    std::printf("format  entries  phase             time       cpu  per entry  entries/s  peak/entry\n");
    for (const std::size_t entries : sizes) {
        const std::string dbFolder = root + "/db-" + std::to_string(entries);
        const std::string mbdbFolder = root + "/mbdb-" + std::to_string(entries);
        const bool wantDb = format != "mbdb";
        const bool wantMbdb = format != "db";
        std::vector<bench::SyntheticEntry> synthetic;
        const auto ensure = [&](bool want, const std::string& folder, auto write) {
            if (!want || ::access((folder + bench::CompleteMarker).c_str(), F_OK) == 0) {
                return true;
            }
            if (synthetic.empty()) {
                synthetic = bench::MakeSyntheticEntries(entries);
            }
            std::fprintf(stderr, "generating %s ...\n", folder.c_str());
            return write(folder, synthetic);
        };
        if (!ensure(wantDb, dbFolder, bench::EnsureManifestDbBackup) ||
            !ensure(wantMbdb, mbdbFolder, bench::EnsureManifestMbdbBackup)) {
            std::fprintf(stderr, "cannot write the synthetic backups below %s\n", root.c_str());
            return 1;
        }
        synthetic = {};
        std::vector<Measurement> m;
        if (wantDb) {
            // One unmeasured round warms the page cache for both phases alike.
            const std::vector<std::string> phases = {"rows-only", "rows", "rows-threaded", "tree-db"};
            if (!Measure(self, phases, dbFolder, 1, m) || !Measure(self, phases, dbFolder, runs, m)) {
                return 1;
            }
            Report("db", entries, "rows", m[0]);
            Report("db", entries, "rows+stat", m[1]);
            Report("db", entries, "rows+stat 2t", m[2]);
            Report("db", entries, "tree", m[3], {{"rows", &m[0]}, {"rows+stat", &m[1]}, {"rows+stat 2t", &m[2]}});
        }
        if (wantMbdb) {
            if (!Measure(self, {"tree-mbdb"}, mbdbFolder, 1, m) || !Measure(self, {"tree-mbdb"}, mbdbFolder, runs, m)) {
                return 1;
            }
            Report("mbdb", entries, "tree", m[0]);
        }
    }
    return 0;
}
