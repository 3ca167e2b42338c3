// Builds backup trees from large synthetic backups and reports time and peak memory per entry.
// Each measurement runs in a fresh child process, so that its peak resident size is its own.

#include "BackupGenerator.h"

#include "core/backup/BackupTreeCache.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
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

// Only what the tree builder must do anyway: the same query, row by row, and the status of every stored file,
// asked the same way (relative to the open backup folder).
std::size_t ReadRowsAndStat(const std::string& folder) {
    sqlite3* db = nullptr;
    const std::string uri = "file://" + folder + "/Manifest.db?immutable=1";
    std::size_t rows = 0;
    const int folderFd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) == SQLITE_OK) {
        sqlite3_stmt* query = nullptr;
        sqlite3_prepare_v2(db, "SELECT fileID, domain, relativePath, flags, file FROM Files", -1, &query, nullptr);
        std::string stored;
        while (query != nullptr && sqlite3_step(query) == SQLITE_ROW) {
            const auto* id = reinterpret_cast<const char*>(sqlite3_column_text(query, 0));
            const auto* domain = reinterpret_cast<const char*>(sqlite3_column_text(query, 1));
            const auto* path = reinterpret_cast<const char*>(sqlite3_column_text(query, 2));
            const auto* flags = reinterpret_cast<const char*>(sqlite3_column_text(query, 3));
            ++rows;
            if (id == nullptr || domain == nullptr || path == nullptr || flags == nullptr ||
                std::strcmp(flags, "2") == 0) {
                continue;
            }
            stored.assign(id, 2).append("/").append(id);
            struct stat status {};
            if (::fstatat(folderFd, stored.c_str(), &status, 0) != 0) {
                std::fprintf(stderr, "missing stored file %s/%s\n", folder.c_str(), stored.c_str());
            }
        }
        sqlite3_finalize(query);
    }
    sqlite3_close(db);
    if (folderFd >= 0) {
        ::close(folderFd);
    }
    return rows;
}

// Runs one measurement in this process and prints "seconds rss-before peak-rss nodes".
int RunChild(const std::string& phase, const std::string& folder) {
    const long before = CurrentRssBytes();
    const auto start = std::chrono::steady_clock::now();
    std::size_t nodes = 0;
    std::unique_ptr<BackupTree> tree; // released only after the peak is read
    if (phase == "rows") {
        nodes = ReadRowsAndStat(folder);
    } else {
        CachedBackupTree read = ReadBackupTree(folder, phase == "tree-db" ? ManifestKindDb : ManifestKindMbdb);
        if (read.Status != TreeStatus::Ok) {
            std::fprintf(stderr, "%s: %s\n", folder.c_str(), read.Reason.c_str());
            return 1;
        }
        nodes = read.Tree->NodeCount();
        tree = std::move(read.Tree);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.6f %ld %ld %zu\n", seconds, before, PeakRssBytes(), nodes);
    return 0;
}

struct Measurement {
    double Seconds = 0;
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
    const int fields = std::fscanf(child, "%lf %ld %ld %zu", &out.Seconds, &before, &peak, &out.Nodes);
    const int status = pclose(child);
    out.PeakBytes = peak - before;
    return fields == 4 && status == 0;
}

// The median time of runs children of each phase, and the largest peak among them. Phases take turns, the
// first one changing every round, so that a busy moment of the machine falls on both alike.
bool Measure(const std::string& self, const std::vector<std::string>& phases, const std::string& folder, int runs,
             std::vector<Measurement>& out) {
    std::vector<std::vector<double>> times(phases.size());
    out.assign(phases.size(), {});
    for (int run = 0; run < runs; ++run) {
        for (std::size_t turn = 0; turn < phases.size(); ++turn) {
            const std::size_t p = (turn + static_cast<std::size_t>(run)) % phases.size();
            Measurement one;
            if (!MeasureOnce(self, phases[p], folder, one)) {
                return false;
            }
            times[p].push_back(one.Seconds);
            out[p].PeakBytes = std::max(out[p].PeakBytes, one.PeakBytes);
            out[p].Nodes = one.Nodes;
        }
    }
    for (std::size_t p = 0; p < phases.size(); ++p) {
        std::sort(times[p].begin(), times[p].end());
        out[p].Seconds = times[p][times[p].size() / 2];
    }
    return true;
}

void Report(const char* format, std::size_t entries, const char* phase, const Measurement& m, double baseline) {
    const double perEntry = m.Seconds / static_cast<double>(entries);
    std::printf("%-5s %9zu  %-10s %9.3f s %8.0f ns %10.0f /s %8.1f B", format, entries, phase, m.Seconds,
                perEntry * 1e9, 1.0 / perEntry, static_cast<double>(m.PeakBytes) / static_cast<double>(entries));
    if (baseline > 0) {
        std::printf("   %.2fx rows+stat", m.Seconds / baseline);
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
    std::printf("format  entries  phase         time      per entry   entries/s   peak/entry\n");
    for (const std::size_t entries : sizes) {
        const std::string dbFolder = root + "/db-" + std::to_string(entries);
        const std::string mbdbFolder = root + "/mbdb-" + std::to_string(entries);
        const bool wantDb = format != "mbdb";
        const bool wantMbdb = format != "db";
        std::vector<bench::SyntheticEntry> synthetic;
        const auto ensure = [&](bool want, const std::string& folder, auto write) {
            if (!want || ::access((folder + "/.complete").c_str(), F_OK) == 0) {
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
            if (!Measure(self, {"rows", "tree-db"}, dbFolder, 1, m) ||
                !Measure(self, {"rows", "tree-db"}, dbFolder, runs, m)) {
                return 1;
            }
            Report("db", entries, "rows+stat", m[0], 0);
            Report("db", entries, "tree", m[1], m[0].Seconds);
        }
        if (wantMbdb) {
            if (!Measure(self, {"tree-mbdb"}, mbdbFolder, 1, m) || !Measure(self, {"tree-mbdb"}, mbdbFolder, runs, m)) {
                return 1;
            }
            Report("mbdb", entries, "tree", m[0], 0);
        }
    }
    return 0;
}
