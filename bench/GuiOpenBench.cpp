// Opens the file manager over a large synthetic backup and times what a person waits for: the window with its
// list, a folder of 100,000 entries in the list, and that folder's branch of the folder tree expanded.

#include "BackupGenerator.h"

#include "core/backup/BackupTreeCache.h"
#include "gui/browser/DlgFileManager.h"
#include "gui/browser/FileListModel.h"
#include "gui/browser/TreeLoader.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QEventLoop>
#include <QItemSelectionModel>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace marrowick;
using Clock = std::chrono::steady_clock;

constexpr std::string_view BigFolder = "/var/mobile/Media/DCIM/100APPLE";

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The tree as the program gets it: from a CTreeLoader, the event loop running while the worker reads.
BackupTreeResult LoadTree(const BackupRecord& record) {
    CTreeLoader loader(nullptr);
    BackupTreeResult tree;
    QEventLoop loop;
    QObject::connect(&loader, &CTreeLoader::Opened, &loop, [&](const BackupRecord&, const BackupTreeResult& opened) {
        tree = opened;
        loop.quit();
    });
    if (loader.Open(record) && loader.Reading()) {
        loop.exec();
    }
    return tree;
}

// Lets the window lay itself out and paint, as it would before a person sees it.
void Settle(QWidget& window) {
    QApplication::processEvents();
    window.repaint();
    QApplication::processEvents();
}

struct Figures {
    std::vector<double> ReadAlone;   // the core's OpenBackupTree, no window
    std::vector<double> FirstOpen;   // manifest read + window built, shown and painted
    std::vector<double> CachedOpen;  // the same with the tree already in the cache
    std::vector<double> ShowBigList; // the big folder selected in the folder tree, its list painted
    std::vector<double> ExpandBig;   // the big folder's branch expanded in the folder tree, painted
    std::vector<double> ScrollToEnd; // the list scrolled to its last row, painted
    std::size_t Rows = 0;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

bool RunOnce(const BackupRecord& record, Figures& figures) {
    ClearBackupTreeCache();
    auto start = Clock::now();
    (void)OpenBackupTree(record.FolderPath, record.ManifestKind);
    figures.ReadAlone.push_back(SecondsSince(start));

    ClearBackupTreeCache();
    start = Clock::now();
    {
        CDlgFileManager first(record, LoadTree(record), nullptr);
        first.show();
        Settle(first);
        figures.FirstOpen.push_back(SecondsSince(start));
    }

    start = Clock::now();
    CDlgFileManager dialog(record, LoadTree(record), nullptr);
    dialog.show();
    Settle(dialog);
    figures.CachedOpen.push_back(SecondsSince(start));

    const FileNode* big = FindNode(CurrentRoot, BigFolder);
    if (big == nullptr) {
        std::fprintf(stderr, "the backup has no %s\n", std::string(BigFolder).c_str());
        return false;
    }
    start = Clock::now();
    const QModelIndex item = dialog.FolderItem(big);
    dialog.FolderTree()->scrollTo(item);
    dialog.FolderTree()->selectionModel()->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect);
    Settle(dialog);
    figures.ShowBigList.push_back(SecondsSince(start));
    figures.Rows = static_cast<std::size_t>(dialog.FileList()->model()->rowCount());

    start = Clock::now();
    dialog.FolderTree()->expand(item);
    Settle(dialog);
    figures.ExpandBig.push_back(SecondsSince(start));

    start = Clock::now();
    dialog.FileList()->scrollToBottom();
    Settle(dialog);
    figures.ScrollToEnd.push_back(SecondsSince(start));
    return true;
}

int Usage() {
    std::fprintf(stderr, "usage: marrowick_gui_open_bench [--folder DIR] [--runs N] [ENTRIES]\n"
                         "Opens DIR/db-ENTRIES (default /tmp/marrowick-bench/db-1000000), writing it first when\n"
                         "it is missing. Run with QT_QPA_PLATFORM=offscreen where no display is at hand.\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::string root = "/tmp/marrowick-bench";
    int runs = 3;
    std::size_t entries = 1000000;
    const QStringList args = QApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const std::string arg = args[i].toStdString();
        if ((arg == "--folder" || arg == "--runs") && i + 1 < args.size()) {
            const std::string value = args[++i].toStdString();
            if (arg == "--folder") {
                root = value;
            } else {
                runs = std::max(1, std::atoi(value.c_str()));
            }
        } else if (!arg.empty() && arg.find_first_not_of("0123456789") == std::string::npos) {
            entries = std::stoull(arg);
        } else {
            return Usage();
        }
    }
    const std::string folder = root + "/db-" + std::to_string(entries);
    if (::access((folder + bench::CompleteMarker).c_str(), F_OK) != 0) {
        std::fprintf(stderr, "generating %s ...\n", folder.c_str());
        if (!bench::EnsureManifestDbBackup(folder, bench::MakeSyntheticEntries(entries))) {
            std::fprintf(stderr, "cannot write %s\n", folder.c_str());
            return 1;
        }
    }
    BackupRecord record;
    record.Name = "Synthetic " + std::to_string(entries);
    record.ManifestKind = ManifestKindDb;
    record.FolderPath = folder + "/";

    Figures figures;
    for (int run = 0; run < runs; ++run) {
        if (!RunOnce(record, figures)) {
            return 1;
        }
    }
    std::printf("backup %s: %zu entries, big folder %zu rows, median of %d runs\n", folder.c_str(), entries,
                figures.Rows, runs);
    const auto report = [](const char* what, const std::vector<double>& times) {
        std::printf("  %-50s %8.3f s\n", what, Median(times));
    };
    report("manifest read alone (core, no window)", figures.ReadAlone);
    report("open, manifest read (window shown, list painted)", figures.FirstOpen);
    report("open again, tree cached", figures.CachedOpen);
    report("select the big folder (list of its rows painted)", figures.ShowBigList);
    report("expand the big folder in the folder tree", figures.ExpandBig);
    report("scroll the big list to its end", figures.ScrollToEnd);
    ClearBackupTreeCache();
    return 0;
}
