#include "GuiTestSupport.h"

#include "core/backup/BackupTreeCache.h"
#include "gui/browser/CatalogShortcuts.h"
#include "gui/browser/DlgFileManager.h"
#include "gui/browser/DlgProgress.h"
#include "gui/browser/DragExport.h"
#include "gui/browser/EntrySearch.h"
#include "gui/browser/FileListModel.h"
#include "gui/browser/FolderTreeModel.h"
#include "gui/browser/SearchBar.h"
#include "gui/browser/TreeLoader.h"
#include "gui/controls/FolderPicker.h"
#include "gui/controls/ImageButton.h"
#include "gui/preview/PreviewPane.h"
#include "gui/preview/PreviewWindow.h"
#include "support/SampleBackup.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDesktopServices>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

// Readable failures for texts.
static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace marrowick {
namespace {

using testing::ReadFile;

namespace fs = std::filesystem;
using testing::ModalRecord;
using testing::ModalWatcher;
using testing::SampleBackup;
using testing::SampleFile;
using testing::SampleManifest;

const std::string BigContent(3000, 'x');
const std::string PhotoContent(2 * 1048576 + 5, 'p');

SampleBackup SampleWithMessages() {
    SampleBackup backup;
    backup.DisplayName = "Kim's iPhone";
    backup.Files = {
        SampleFile{.RelativePath = "Library/SMS/sms.db", .Content = "sms-data"},
        SampleFile{.RelativePath = "Library/SMS/Attachments/big.bin", .Content = BigContent},
        SampleFile{.RelativePath = "Library/Caches.plist", .Content = "c"},
        SampleFile{.RelativePath = "Library/Notes/notes.sqlite", .Content = "n"},
        SampleFile{.RelativePath = "Library/AddressBook/AddressBook.sqlitedb", .Content = "a"},
        SampleFile{
            .Domain = "CameraRollDomain", .RelativePath = "Media/DCIM/100APPLE/IMG_0001.JPG", .Content = PhotoContent},
        SampleFile{.Domain = "RootDomain", .RelativePath = "Library/Preferences/x.plist", .Content = "r"},
        SampleFile{.Domain = "WirelessDomain", .RelativePath = "Library/CallHistory/call.db", .Content = "w"},
    };
    return backup;
}

// Column texts of every row of the list, in row order.
std::vector<std::vector<QString>> ListRows(const CDlgFileManager& dialog) {
    const QAbstractItemModel* model = dialog.FileList()->model();
    std::vector<std::vector<QString>> rows;
    for (int row = 0; row < model->rowCount(); ++row) {
        std::vector<QString> texts;
        for (int column = 0; column < model->columnCount(); ++column) {
            texts.push_back(model->index(row, column).data().toString());
        }
        rows.push_back(texts);
    }
    return rows;
}

std::vector<QString> ListNames(const CDlgFileManager& dialog) {
    std::vector<QString> names;
    for (const auto& row : ListRows(dialog)) {
        names.push_back(row[0]);
    }
    return names;
}

QPoint ClickPoint(QTreeView& view, const QModelIndex& index) {
    view.scrollTo(index);
    const QRect rect = view.visualRect(index);
    return {rect.left() + std::min(rect.width() / 2, 12), rect.center().y()};
}

void ClickTreeItem(QTreeView& tree, const QModelIndex& item) {
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, ClickPoint(tree, item));
}

int RowNamed(const CDlgFileManager& dialog, const QString& name) {
    const auto names = ListNames(dialog);
    const auto found = std::find(names.begin(), names.end(), name);
    return found == names.end() ? -1 : static_cast<int>(found - names.begin());
}

void ClickListRow(CDlgFileManager& dialog, const QString& name) {
    const int row = RowNamed(dialog, name);
    ASSERT_GE(row, 0) << name.toStdString();
    QTreeView& list = *dialog.FileList();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, ClickPoint(list, list.model()->index(row, 0)));
}

void DoubleClickListRow(CDlgFileManager& dialog, const QString& name) {
    const int row = RowNamed(dialog, name);
    ASSERT_GE(row, 0) << name.toStdString();
    QTreeView& list = *dialog.FileList();
    const QPoint point = ClickPoint(list, list.model()->index(row, 0));
    // A double-click as the window system delivers it: press, release, double-click, release.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, point);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, point);
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, point);
}

QModelIndex SelectedTreeItem(const CDlgFileManager& dialog) {
    const QModelIndexList selected = dialog.FolderTree()->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QModelIndex() : selected.front();
}

class FileManager : public ::testing::Test {
protected:
    void SetUp() override { ClearBackupTreeCache(); }
    void TearDown() override {
        SetFolderPicker({});
        ClearBackupTreeCache();
    }

    BackupRecord Write(const std::string& name, const SampleBackup& backup, ManifestKind kind = ManifestKindDb) {
        const fs::path folder = testing::WriteSampleBackup(home.AppDataBackupFolder() / name, backup);
        BackupRecord record;
        record.Name = backup.DisplayName.value_or("");
        record.ManifestKind = kind;
        record.FolderPath = folder.string() + "/";
        return record;
    }

    // The backup's tree as the main window gets it: from a CTreeLoader.
    static BackupTreeResult LoadTree(const BackupRecord& record) {
        CTreeLoader loader(nullptr);
        std::optional<BackupTreeResult> tree;
        QObject::connect(&loader, &CTreeLoader::Opened, &loader,
                         [&tree](const BackupRecord&, const BackupTreeResult& opened) { tree = opened; });
        EXPECT_TRUE(loader.Open(record));
        if (!QTest::qWaitFor([&tree] { return tree.has_value(); })) {
            ADD_FAILURE() << "the loader opened no tree";
            return OpenBackupTree(record.FolderPath, record.ManifestKind);
        }
        return *tree;
    }

    // Opens the window as the main window does, but without its modal loop, and answers the messages it shows.
    std::unique_ptr<CDlgFileManager> Open(const BackupRecord& record, std::vector<ModalRecord>* messages = nullptr) {
        auto dialog = std::make_unique<CDlgFileManager>(record, LoadTree(record), nullptr);
        testing::ModalWatcher watcher;
        dialog->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        // A backup that cannot be browsed says why once the window is up; the watcher answers that message.
        if (dialog->Status() != TreeStatus::Ok) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return watcher.Count() > 0 && !QApplication::activeModalWidget(); }));
        }
        QCoreApplication::processEvents();
        const std::vector<ModalRecord> seen = watcher.Seen();
        if (messages != nullptr) {
            *messages = seen;
        } else {
            EXPECT_TRUE(seen.empty()) << seen.front().Text.toStdString();
        }
        return dialog;
    }

    testing::TempHome home;
};

TEST_F(FileManager, OpensAtVarWithItsEntriesAndTheCatalogue) {
    const auto dialog = Open(Write("a", SampleWithMessages()));
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Kim's iPhone - Marrowick"));
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/"));
    EXPECT_TRUE(dialog->PathBox()->isReadOnly());
    EXPECT_EQ(dialog->UpButton()->text(), QStringLiteral("Up"));
    EXPECT_EQ(dialog->ExportButton()->text(), QStringLiteral("Export"));
    EXPECT_TRUE(dialog->UpButton()->HasImage());
    EXPECT_TRUE(dialog->ExportButton()->HasImage());

    using Row = std::vector<QString>;
    EXPECT_EQ(ListRows(*dialog),
              (std::vector<Row>{{QStringLiteral("mobile"), QString(), QStringLiteral("Folder"), QString()},
                                {QStringLiteral("root"), QString(), QStringLiteral("Folder"), QString()},
                                {QStringLiteral("wireless"), QString(), QStringLiteral("Folder"), QString()}}));
    const QAbstractItemModel* list = dialog->FileList()->model();
    EXPECT_EQ(list->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    EXPECT_EQ(list->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Size"));
    EXPECT_EQ(list->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Type"));
    EXPECT_EQ(list->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Time"));
    EXPECT_EQ(dialog->FileList()->header()->sectionSize(0), 250);
    EXPECT_EQ(dialog->FileList()->header()->sectionSize(3), 125);

    // The tree: the backup's item with var below it, collapsed, then the expanded catalogue; nothing selected.
    const QModelIndex top = dialog->TopItem();
    EXPECT_EQ(top.data().toString(), QStringLiteral("Kim's iPhone"));
    ASSERT_EQ(dialog->FolderTree()->model()->rowCount(top), 1);
    const QModelIndex var = dialog->FolderTree()->model()->index(0, 0, top);
    EXPECT_EQ(var.data().toString(), QStringLiteral("var"));
    EXPECT_TRUE(dialog->FolderTree()->isExpanded(top));
    EXPECT_FALSE(dialog->FolderTree()->isExpanded(var));
    EXPECT_EQ(dialog->CatalogItem().data().toString(), QStringLiteral("Common Catalog"));
    EXPECT_TRUE(dialog->FolderTree()->isExpanded(dialog->CatalogItem()));
    QStringList labels;
    for (int order = 0; order < 7; ++order) {
        labels << dialog->ShortcutItem(order).data().toString();
    }
    EXPECT_EQ(labels, (QStringList{"Messages", "Wechat", "QQ", "Photos", "Contacts", "Call History", "Notes"}));
    EXPECT_FALSE(SelectedTreeItem(*dialog).isValid());

    // Up at the root changes nothing.
    QTest::mouseClick(dialog->UpButton(), Qt::LeftButton);
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/"));
    EXPECT_EQ(ListNames(*dialog).size(), 3U);
}

TEST_F(FileManager, FileRowsShowSizeAndTimeFolderRowsShowFolderInTreeOrder) {
    const auto dialog = Open(Write("a", SampleWithMessages()));
    dialog->FillFileList(FindNode(CurrentRoot, "/var/mobile/Library"));
    using Row = std::vector<QString>;
    // Byte order of the names, files and folders mixed.
    EXPECT_EQ(ListRows(*dialog), (std::vector<Row>{{"AddressBook", "", "Folder", ""},
                                                   {"Caches.plist", "1 bytes", "", "2020-09-13 12:26"},
                                                   {"Notes", "", "Folder", ""},
                                                   {"SMS", "", "Folder", ""}}));
    dialog->FillFileList(FindNode(CurrentRoot, "/var/mobile/Library/SMS/Attachments"));
    EXPECT_EQ(ListRows(*dialog), (std::vector<Row>{{"big.bin", "2 KB", "", "2020-09-13 12:26"}}));
    dialog->FillFileList(FindNode(CurrentRoot, "/var/mobile/Media/DCIM/100APPLE"));
    EXPECT_EQ(ListRows(*dialog), (std::vector<Row>{{"IMG_0001.JPG", "2 MB", "", "2020-09-13 12:26"}}));

    // A click on a heading sorts nothing.
    dialog->FillFileList(FindNode(CurrentRoot, "/var/mobile/Library"));
    QHeaderView* header = dialog->FileList()->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(0) + 20, header->height() / 2));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(0) + 20, header->height() / 2));
    EXPECT_EQ(ListNames(*dialog), (std::vector<QString>{"AddressBook", "Caches.plist", "Notes", "SMS"}));
}

TEST_F(FileManager, TreeItemsListDoubleClicksAndUpMoveThroughFolders) {
    const auto dialog = Open(Write("a", SampleWithMessages()));
    QTreeView& tree = *dialog->FolderTree();

    const QModelIndex var = dialog->FolderItem(CurrentRoot);
    ClickTreeItem(tree, var);
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var"));
    EXPECT_EQ(ListNames(*dialog), (std::vector<QString>{"mobile", "root", "wireless"}));

    const QModelIndex mobile = dialog->FolderItem(FindNode(CurrentRoot, "/var/mobile"));
    ClickTreeItem(tree, mobile);
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/mobile"));
    EXPECT_EQ(ListNames(*dialog), (std::vector<QString>{"Library", "Media"}));
    EXPECT_EQ(SelectedTreeItem(*dialog), mobile);

    // A file row and an empty spot do nothing on a double-click; a folder row opens and selects the top item.
    DoubleClickListRow(*dialog, QStringLiteral("Library"));
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/mobile/Library"));
    EXPECT_EQ(SelectedTreeItem(*dialog), dialog->TopItem());
    DoubleClickListRow(*dialog, QStringLiteral("Caches.plist"));
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/mobile/Library"));
    EXPECT_EQ(ListNames(*dialog).size(), 4U);
    DoubleClickListRow(*dialog, QStringLiteral("SMS"));
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/mobile/Library/SMS"));
    EXPECT_EQ(ListNames(*dialog), (std::vector<QString>{"Attachments", "sms.db"}));

    QTest::mouseClick(dialog->UpButton(), Qt::LeftButton);
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/mobile/Library"));
    EXPECT_EQ(ListNames(*dialog).size(), 4U);
    QTest::mouseClick(dialog->UpButton(), Qt::LeftButton);
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/mobile"));
    EXPECT_EQ(dialog->CurrentFolder(), FindNode(CurrentRoot, "/var/mobile"));
    for (const QKeyCombination keys : {QKeyCombination(Qt::Key_Backspace), Qt::ALT | Qt::Key_Up}) {
        QTest::keyClick(dialog->FileList(), keys.key(), keys.keyboardModifiers());
        EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var"));
        DoubleClickListRow(*dialog, QStringLiteral("mobile"));
    }

    // The item chosen before the moves answers a click again, since the top item took the selection.
    DoubleClickListRow(*dialog, QStringLiteral("Media"));
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/mobile/Media"));
    ClickTreeItem(tree, mobile);
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/mobile"));
    EXPECT_EQ(ListNames(*dialog), (std::vector<QString>{"Library", "Media"}));

    // The top item and the catalogue leave everything as it was.
    ClickTreeItem(tree, dialog->TopItem());
    ClickTreeItem(tree, dialog->CatalogItem());
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/mobile"));
    EXPECT_EQ(ListNames(*dialog), (std::vector<QString>{"Library", "Media"}));

    // The tree holds folders only.
    const QModelIndex sms = dialog->FolderItem(FindNode(CurrentRoot, "/var/mobile/Library/SMS"));
    ASSERT_TRUE(sms.isValid());
    ASSERT_EQ(tree.model()->rowCount(sms), 1);
    EXPECT_EQ(tree.model()->index(0, 0, sms).data().toString(), QStringLiteral("Attachments"));
    EXPECT_FALSE(tree.model()->hasChildren(tree.model()->index(0, 0, sms)));
}

TEST_F(FileManager, ShortcutShowsItsFolderAndMissingOneSaysSo) {
    const auto dialog = Open(Write("a", SampleWithMessages()));
    QTreeView& tree = *dialog->FolderTree();

    ClickTreeItem(tree, dialog->ShortcutItem(0));
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/mobile/Library/SMS"));
    EXPECT_EQ(ListNames(*dialog), (std::vector<QString>{"Attachments", "sms.db"}));
    EXPECT_EQ(SelectedTreeItem(*dialog), dialog->ShortcutItem(0));
    QTest::mouseClick(dialog->UpButton(), Qt::LeftButton);
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/mobile/Library"));

    ClickTreeItem(tree, dialog->ShortcutItem(3));
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/mobile/Media/DCIM"));
    EXPECT_EQ(ListNames(*dialog), (std::vector<QString>{"100APPLE"}));

    // QQ is not in this backup: the message, then the catalogue selected and the former folder shown.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto seen = testing::CaptureModals([&] { ClickTreeItem(tree, dialog->ShortcutItem(2)); });
        ASSERT_EQ(seen.size(), 1U) << "attempt " << attempt;
        EXPECT_TRUE(seen[0].IsMessageBox);
        EXPECT_EQ(seen[0].Title, QStringLiteral("marrowick"));
        EXPECT_EQ(seen[0].Text, QStringLiteral("This path does not exist!"));
        EXPECT_EQ(seen[0].Icon, QMessageBox::NoIcon);
        EXPECT_EQ(seen[0].Buttons, QStringList{"OK"});
        EXPECT_EQ(SelectedTreeItem(*dialog), dialog->CatalogItem());
        EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/mobile/Media/DCIM"));
        EXPECT_EQ(ListNames(*dialog), (std::vector<QString>{"100APPLE"}));
    }
}

TEST_F(FileManager, ShortcutsFindTheirFoldersInMbdbBackupsAndCaseMatters) {
    SampleBackup backup = SampleWithMessages();
    backup.Manifest = SampleManifest::Mbdb;
    backup.Files.push_back(
        SampleFile{.Domain = "AppDomain-com.tencent.xin", .RelativePath = "Documents/db.sqlite", .Content = "w"});
    backup.Files.push_back(SampleFile{.RelativePath = "Library/callhistorydb/x.db", .Content = "c"});
    const auto dialog = Open(Write("m", backup, ManifestKindMbdb));
    ClickTreeItem(*dialog->FolderTree(), dialog->ShortcutItem(1));
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/mobile/Applications/com.tencent.xin"));
    EXPECT_EQ(ListNames(*dialog), (std::vector<QString>{"Documents"}));

    const auto seen = testing::CaptureModals([&] { ClickTreeItem(*dialog->FolderTree(), dialog->ShortcutItem(5)); });
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_EQ(seen[0].Text, QStringLiteral("This path does not exist!"));
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/mobile/Applications/com.tencent.xin"));
}

TEST_F(FileManager, SecondOpeningTakesTheTreeFromTheCacheAndStartsAtTheRoot) {
    const BackupRecord record = Write("a", SampleWithMessages());
    const FileNode* firstRoot = nullptr;
    {
        const auto first = Open(record);
        firstRoot = CurrentRoot;
        ClickTreeItem(*first->FolderTree(), first->ShortcutItem(0));
        EXPECT_EQ(first->PathBox()->text(), QStringLiteral("/var/mobile/Library/SMS"));
        first->close();
    }
    // Without its manifest the backup could only be listed from the cache.
    fs::remove(fs::path(record.FolderPath) / "Manifest.db");
    const auto second = Open(record);
    EXPECT_EQ(CurrentRoot, firstRoot);
    EXPECT_EQ(second->Status(), TreeStatus::Ok);
    EXPECT_EQ(second->PathBox()->text(), QStringLiteral("/var/"));
    EXPECT_EQ(ListNames(*second), (std::vector<QString>{"mobile", "root", "wireless"}));
}

TEST_F(FileManager, EnterAndEscapeDoNothingAndTheCloseBoxCloses) {
    const auto dialog = Open(Write("a", SampleWithMessages()));
    ClickListRow(*dialog, QStringLiteral("mobile"));
    for (QWidget* target : {static_cast<QWidget*>(dialog->FileList()), static_cast<QWidget*>(dialog->ExportButton()),
                            static_cast<QWidget*>(dialog->PathBox()), static_cast<QWidget*>(dialog.get())}) {
        target->setFocus();
        const auto seen = testing::CaptureModals([&] {
            QTest::keyClick(target, Qt::Key_Return);
            QTest::keyClick(target, Qt::Key_Enter);
            QTest::keyClick(target, Qt::Key_Escape);
        });
        EXPECT_TRUE(seen.empty()) << target->metaObject()->className();
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/"));
    }
    EXPECT_TRUE(dialog->close());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

TEST_F(FileManager, EncryptedBackupSaysWhyItsListIsEmpty) {
    SampleBackup backup = SampleWithMessages();
    backup.Encrypted = true;
    std::vector<ModalRecord> seen;
    const auto dialog = Open(Write("e", backup), &seen);
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_EQ(seen[0].Title, QStringLiteral("marrowick"));
    EXPECT_TRUE(seen[0].Text.contains(QStringLiteral("encrypted and cannot be browsed yet")))
        << seen[0].Text.toStdString();
    EXPECT_TRUE(seen[0].Text.contains(QStringLiteral("list is empty")));
    EXPECT_EQ(dialog->Status(), TreeStatus::Encrypted);
    EXPECT_EQ(dialog->FileList()->model()->rowCount(), 0);
    EXPECT_FALSE(dialog->FolderTree()->model()->hasChildren(dialog->FolderItem(CurrentRoot)));
    // What the manifest names is not offered through a shortcut either.
    const auto shortcut =
        testing::CaptureModals([&] { ClickTreeItem(*dialog->FolderTree(), dialog->ShortcutItem(0)); });
    ASSERT_EQ(shortcut.size(), 1U);
    EXPECT_EQ(shortcut[0].Text, QStringLiteral("This path does not exist!"));
    EXPECT_EQ(dialog->FileList()->model()->rowCount(), 0);
}

TEST_F(FileManager, UnreadableManifestSaysWhyItsListIsEmpty) {
    SampleBackup backup = SampleWithMessages();
    backup.Manifest = SampleManifest::None;
    std::vector<ModalRecord> seen;
    const auto dialog = Open(Write("u", backup), &seen);
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_EQ(seen[0].Title, QStringLiteral("marrowick"));
    EXPECT_TRUE(seen[0].Text.contains(QStringLiteral("cannot be read"))) << seen[0].Text.toStdString();
    EXPECT_EQ(dialog->Status(), TreeStatus::Unreadable);
    EXPECT_EQ(dialog->FileList()->model()->rowCount(), 0);
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/"));
}

// ---- Export -------------------------------------------------------------------------------------------------

// Connects to every progress dialog as it is shown and keeps the texts it brought on screen.
class ProgressTexts final : public QObject {
public:
    struct Shown {
        QString File;
        QString Status;
        int Percent = 0;
    };

    ProgressTexts() { qApp->installEventFilter(this); }
    ~ProgressTexts() override { qApp->removeEventFilter(this); }
    ProgressTexts(const ProgressTexts&) = delete;
    ProgressTexts& operator=(const ProgressTexts&) = delete;

    std::vector<Shown> Texts;
    int Dialogs = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            if (auto* progress = qobject_cast<CDlgProgress*>(watched)) {
                ++Dialogs;
                connect(progress, &CDlgProgress::TextsShown, this,
                        [this](const QString& file, const QString& status, int percent) {
                            Texts.push_back({file, status, percent});
                        });
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

class FileManagerExport : public FileManager {
protected:
    void SetUp() override {
        FileManager::SetUp();
        SetFolderPicker([this](QWidget* owner, const QString& title) {
            ++pickerCalls;
            pickerOwner = owner;
            pickerTitle = title;
            return pickedFolder;
        });
    }

    struct ExportRun {
        std::vector<ModalRecord> Boxes; // the message boxes, in order
        std::vector<ProgressTexts::Shown> Texts;
        int ProgressDialogs = 0;
    };

    // Clicks Export, lets the progress dialog end by itself and answers the message boxes with OK.
    ExportRun ClickExport(CDlgFileManager& dialog) {
        ProgressTexts progress;
        const auto seen = testing::CaptureModals([&] { QTest::mouseClick(dialog.ExportButton(), Qt::LeftButton); },
                                                 [](ModalWatcher& watcher) {
                                                     for (int i = 0; i < 4; ++i) {
                                                         watcher.Handle([](QWidget& modal) {
                                                             if (auto* box = qobject_cast<QMessageBox*>(&modal)) {
                                                                 box->button(QMessageBox::Ok)->click();
                                                             }
                                                         });
                                                     }
                                                 });
        ExportRun run;
        for (const ModalRecord& record : seen) {
            if (record.IsMessageBox) {
                run.Boxes.push_back(record);
            } else {
                EXPECT_EQ(record.ClassName, QStringLiteral("marrowick::CDlgProgress"));
                EXPECT_EQ(record.Title, QStringLiteral("Exporting..."));
            }
        }
        run.Texts = progress.Texts;
        run.ProgressDialogs = progress.Dialogs;
        return run;
    }

    testing::TempDir target;
    QString pickedFolder = QString::fromStdString(target.Path().string());
    int pickerCalls = 0;
    QWidget* pickerOwner = nullptr;
    QString pickerTitle = QStringLiteral("untouched");
};

TEST_F(FileManagerExport, WithoutASelectedRowAsksForOneAndPicksNoFolder) {
    const auto dialog = Open(Write("a", SampleWithMessages()));
    const auto seen = testing::CaptureModals([&] { QTest::mouseClick(dialog->ExportButton(), Qt::LeftButton); });
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_EQ(seen[0].Title, QStringLiteral("marrowick"));
    EXPECT_EQ(seen[0].Text, QStringLiteral("Please select the folder or file which you want to export at first."));
    EXPECT_EQ(pickerCalls, 0);
    EXPECT_TRUE(fs::is_empty(target.Path()));
}

TEST_F(FileManagerExport, CancelledFolderPickerExportsNothingAndSaysNothing) {
    const auto dialog = Open(Write("a", SampleWithMessages()));
    pickedFolder.clear();
    ClickListRow(*dialog, QStringLiteral("mobile"));
    ProgressTexts progress;
    const auto seen = testing::CaptureModals([&] { QTest::mouseClick(dialog->ExportButton(), Qt::LeftButton); });
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(pickerCalls, 1);
    EXPECT_EQ(progress.Dialogs, 0);
    EXPECT_TRUE(fs::is_empty(target.Path()));
}

TEST_F(FileManagerExport, FolderInsideTheBackupIsRefusedBeforeAnythingIsWritten) {
    const BackupRecord record = Write("a", SampleWithMessages());
    const fs::path backup = record.FolderPath;
    const auto dialog = Open(record);
    pickedFolder = QString::fromStdString((backup / "new-folder").string());
    ClickListRow(*dialog, QStringLiteral("mobile"));
    const auto before = testing::SnapshotFolder(backup);

    const ExportRun run = ClickExport(*dialog);

    ASSERT_EQ(run.Boxes.size(), 1U);
    EXPECT_TRUE(run.Boxes[0].Text.contains(QStringLiteral("lies inside it"))) << run.Boxes[0].Text.toStdString();
    EXPECT_EQ(run.ProgressDialogs, 0);
    EXPECT_EQ(testing::SnapshotFolder(backup), before);
}

TEST_F(FileManagerExport, FolderGoesToThePickedFolderWithItsProgressShown) {
    const auto dialog = Open(Write("a", SampleWithMessages()));
    ClickTreeItem(*dialog->FolderTree(), dialog->ShortcutItem(0));
    QTest::mouseClick(dialog->UpButton(), Qt::LeftButton);
    ClickListRow(*dialog, QStringLiteral("SMS"));

    const ExportRun run = ClickExport(*dialog);
    EXPECT_TRUE(run.Boxes.empty());
    EXPECT_EQ(pickerCalls, 1);
    EXPECT_EQ(pickerOwner, dialog.get());
    EXPECT_EQ(pickerTitle, QString());

    EXPECT_EQ(ReadFile(target.Path() / "SMS/sms.db"), "sms-data");
    EXPECT_EQ(ReadFile(target.Path() / "SMS/Attachments/big.bin"), BigContent);
    // Only the selected folder is recreated, not the folders above it.
    EXPECT_FALSE(fs::exists(target.Path() / "var"));

    ASSERT_EQ(run.ProgressDialogs, 1);
    const auto& texts = run.Texts;
    ASSERT_EQ(texts.size(), 3U);
    EXPECT_EQ(texts[0].Status, QStringLiteral("Calculating files size..."));
    EXPECT_EQ(texts[0].File, QString());
    EXPECT_EQ(texts[1].File, QStringLiteral("Exporting: /var/mobile/Library/SMS/Attachments/big.bin\n"));
    EXPECT_EQ(texts[1].Status, QStringLiteral("Finished:  0% (  0MB/  0MB)"));
    EXPECT_EQ(texts[1].Percent, 0);
    EXPECT_EQ(texts[2].File, QStringLiteral("Exporting: /var/mobile/Library/SMS/sms.db\n"));
    EXPECT_EQ(texts[2].Status, QStringLiteral("Finished: 99% (  0MB/  0MB)"));
    EXPECT_EQ(texts[2].Percent, 99);

    // The window is as before: same folder, same list.
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/mobile/Library"));
    EXPECT_EQ(ListNames(*dialog).size(), 4U);
    EXPECT_TRUE(dialog->isEnabled());
}

TEST_F(FileManagerExport, FilesThatFailedAreSummarisedAfterTheExport) {
    SampleBackup backup = SampleWithMessages();
    backup.Files.push_back(
        SampleFile{.RelativePath = "Library/SMS/lost.db", .Content = "gone", .StoredFileMissing = true});
    const auto dialog = Open(Write("a", backup));
    ClickTreeItem(*dialog->FolderTree(), dialog->ShortcutItem(0));
    QTest::mouseClick(dialog->UpButton(), Qt::LeftButton);
    ClickListRow(*dialog, QStringLiteral("SMS"));

    const ExportRun run = ClickExport(*dialog);
    EXPECT_EQ(run.ProgressDialogs, 1);
    ASSERT_EQ(run.Boxes.size(), 1U);
    EXPECT_EQ(run.Boxes[0].Title, QStringLiteral("marrowick"));
    EXPECT_TRUE(run.Boxes[0].Text.startsWith(QStringLiteral("1 entry was not exported")))
        << run.Boxes[0].Text.toStdString();
    EXPECT_TRUE(run.Boxes[0].Text.contains(QStringLiteral("/var/mobile/Library/SMS/lost.db")));
    // The files that could be copied still are.
    EXPECT_EQ(ReadFile(target.Path() / "SMS/sms.db"), "sms-data");
    EXPECT_FALSE(fs::exists(target.Path() / "SMS/lost.db"));
}

TEST_F(FileManagerExport, SingleFileGoesToThePickedFolderUnderItsName) {
    const auto dialog = Open(Write("a", SampleWithMessages()));
    ClickTreeItem(*dialog->FolderTree(), dialog->ShortcutItem(3));
    DoubleClickListRow(*dialog, QStringLiteral("100APPLE"));
    ClickListRow(*dialog, QStringLiteral("IMG_0001.JPG"));
    pickedFolder += u'/';
    const ExportRun run = ClickExport(*dialog);
    EXPECT_TRUE(run.Boxes.empty());
    EXPECT_TRUE(ReadFile(target.Path() / "IMG_0001.JPG") == PhotoContent);
    ASSERT_EQ(run.Texts.size(), 2U);
    EXPECT_EQ(run.Texts[1].File, QStringLiteral("Exporting: /var/mobile/Media/DCIM/100APPLE/IMG_0001.JPG\n"));
    EXPECT_EQ(run.Texts[1].Status, QStringLiteral("Finished:  0% (  0MB/  2MB)"));
}

// ---- Models -------------------------------------------------------------------------------------------------

class FileManagerModels : public FileManager {
protected:
    const FileNode* OpenTree() {
        const BackupRecord record = Write("a", SampleWithMessages());
        return OpenBackupTree(record.FolderPath, record.ManifestKind).Root;
    }
};

TEST_F(FileManagerModels, FolderTreePassesTheModelTesterAndHoldsFoldersOnly) {
    const FileNode* root = OpenTree();
    FolderTreeModel model(QStringLiteral("Kim"), root, true, LoadFileManagerIcons(), nullptr);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);

    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.KindOf(model.TopIndex()), FolderTreeModel::ItemKind::Top);
    EXPECT_EQ(model.KindOf(model.CatalogIndex()), FolderTreeModel::ItemKind::Catalog);
    EXPECT_EQ(model.rowCount(model.CatalogIndex()), 7);
    for (int order = 0; order < 7; ++order) {
        EXPECT_EQ(model.ShortcutOrder(model.ShortcutIndex(order)), order);
        EXPECT_EQ(model.ShortcutIndex(order).data().toString().toStdString(), CatalogShortcuts()[order].Label);
        EXPECT_FALSE(model.ShortcutIndex(order).data(Qt::DecorationRole).value<QIcon>().isNull());
    }
    const QModelIndex library = model.FolderIndex(FindNode(root, "/var/mobile/Library"));
    ASSERT_TRUE(library.isValid());
    QStringList names;
    for (int row = 0; row < model.rowCount(library); ++row) {
        names << model.index(row, 0, library).data().toString();
    }
    EXPECT_EQ(names, (QStringList{"AddressBook", "Notes", "SMS"}));
    EXPECT_EQ(model.parent(library), model.FolderIndex(FindNode(root, "/var/mobile")));
    EXPECT_FALSE(model.FolderIndex(FindNode(root, "/var/mobile/Library/Caches.plist")).isValid());

    // Without the backup's folders only var remains below the top item.
    FolderTreeModel hidden(QStringLiteral("Kim"), root, false, LoadFileManagerIcons(), nullptr);
    QAbstractItemModelTester hiddenTester(&hidden, QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(hidden.rowCount(hidden.TopIndex()), 1);
    EXPECT_EQ(hidden.rowCount(hidden.FolderIndex(root)), 0);
}

TEST_F(FileManagerModels, FileListPassesTheModelTesterAndRowIIsTheIthChild) {
    const FileNode* root = OpenTree();
    FileListModel model(LoadFileManagerIcons(), "/nonexistent/", ManifestKindDb, nullptr);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(model.rowCount(), 0);
    for (const char* path : {"/var", "/var/mobile/Library", "/var/mobile/Library/SMS", "/var/root"}) {
        const FileNode* folder = FindNode(root, path);
        model.SetFolder(folder);
        int row = 0;
        for (const FileNode* child = folder->FirstChild(); child != nullptr; child = child->NextSibling(), ++row) {
            ASSERT_EQ(model.EntryAt(row), child) << path;
            EXPECT_EQ(model.index(row, 0).data().toString().toStdString(), child->Name());
            EXPECT_FALSE(model.index(row, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        }
        EXPECT_EQ(model.rowCount(), row);
        EXPECT_EQ(model.EntryAt(row), nullptr);
    }
    model.SetFolder(nullptr);
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(FileManagerModels, FileListShowsLinksAndGreysFilesWhoseContentIsMissing) {
    SampleBackup sample;
    sample.Files = {
        {.RelativePath = "Media/gone", .StoredFileMissing = true, .RecordedSize = 7},
        {.RelativePath = "Media/here", .Content = "here"},
        {.RelativePath = "Media/link", .LinkTarget = "/private/var/mobile/Media/here"},
    };
    const BackupRecord record = Write("links", sample);
    FileListModel model(LoadFileManagerIcons(), record.FolderPath, record.ManifestKind, nullptr);
    model.SetFolder(FindNode(OpenBackupTree(record.FolderPath, record.ManifestKind).Root, "/var/mobile/Media"));
    ASSERT_EQ(model.rowCount(), 3);
    const auto cell = [&model](int row, int column, int role = Qt::DisplayRole) {
        return model.index(row, column).data(role);
    };
    EXPECT_EQ(cell(0, FileListModel::SizeColumn).toString(), "7 bytes");
    EXPECT_TRUE(cell(0, FileListModel::NameColumn, Qt::ForegroundRole).isValid());
    EXPECT_EQ(cell(0, FileListModel::NameColumn, Qt::ToolTipRole).toString(),
              "The backup does not hold this file's content");
    EXPECT_FALSE(cell(1, FileListModel::NameColumn, Qt::ForegroundRole).isValid());
    EXPECT_FALSE(cell(1, FileListModel::NameColumn, Qt::ToolTipRole).isValid());
    EXPECT_EQ(cell(2, FileListModel::TypeColumn).toString(), "Link");
    EXPECT_EQ(cell(2, FileListModel::SizeColumn).toString(), "");
    EXPECT_EQ(cell(2, FileListModel::NameColumn, Qt::ToolTipRole).toString(),
              "A link to /private/var/mobile/Media/here");
    const auto picture = [](const QIcon& icon) { return icon.pixmap(16).toImage(); };
    const QImage shown = picture(cell(2, FileListModel::NameColumn, Qt::DecorationRole).value<QIcon>());
    EXPECT_EQ(shown, picture(LoadFileManagerIcons()[LinkIcon]));
    EXPECT_NE(shown, picture(LoadFileManagerIcons()[FileIcon]));
}

// A dragged entry is exported when the drop target asks for its files, once, into a folder only this user reads.
TEST_F(FileManager, DraggedEntryIsExportedWhenItsFilesAreAskedFor) {
    const auto dialog = Open(Write("a", SampleWithMessages()));
    CDragExportData dragged(*FindNode(CurrentRoot, "/var/mobile/Library/SMS"), CurrentBackupPath, ManifestKindDb);
    EXPECT_FALSE(dragged.Exported());
    const QList<QUrl> urls = dragged.urls();
    ASSERT_EQ(urls.size(), 1);
    EXPECT_EQ(dragged.urls(), urls);
    ASSERT_TRUE(dragged.Exported());
    EXPECT_EQ(dragged.Exported()->FilesCopied, 2U);
    const fs::path exported = urls.front().toLocalFile().toStdString();
    EXPECT_EQ(exported.filename(), "SMS");
    EXPECT_EQ(testing::ReadFile((exported / "Attachments/big.bin").string()), BigContent);
    EXPECT_EQ(fs::status(exported.parent_path().parent_path()).permissions(), fs::perms::owner_all);
}

// Typing searches the whole backup; a double-clicked match shows its folder with it selected; going to a folder or
// emptying the box shows the folder list again.
TEST_F(FileManager, SearchListsMatchesWithTheirFolderAndOpensTheirFolder) {
    const auto dialog = Open(Write("a", SampleWithMessages()));
    ASSERT_TRUE(testing::ShowAndActivate(*dialog));
    QLineEdit& box = *dialog->SearchBar()->Box();
    QTest::keyClick(dialog->FileList(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(box.hasFocus());

    QSignalSpy finished(dialog->SearchBar()->Search(), &CEntrySearch::Finished);
    // A space is typed into the box, not taken for the preview's key.
    QTest::keyClicks(&box, QStringLiteral("SQLITE "));
    EXPECT_EQ(box.text(), QStringLiteral("SQLITE "));
    EXPECT_FALSE(dialog->Preview()->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty() && finished.last().at(0).toInt() == 2; }));
    EXPECT_EQ(ListRows(*dialog),
              (std::vector<std::vector<QString>>{
                  {"AddressBook.sqlitedb", "/var/mobile/Library/AddressBook", "1 bytes", "2020-09-13 12:26"},
                  {"notes.sqlite", "/var/mobile/Library/Notes", "1 bytes", "2020-09-13 12:26"},
              }));
    EXPECT_EQ(dialog->SearchBar()->Status()->text(), QStringLiteral("2 found"));

    DoubleClickListRow(*dialog, QStringLiteral("notes.sqlite"));
    EXPECT_EQ(dialog->PathBox()->text(), QStringLiteral("/var/mobile/Library/Notes"));
    EXPECT_TRUE(box.text().isEmpty());
    ASSERT_EQ(dialog->FileList()->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(dialog->FileList()->selectionModel()->selectedRows().front().data().toString(),
              QStringLiteral("notes.sqlite"));

    box.setText(QStringLiteral("*.JPG"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return ListNames(*dialog) == std::vector<QString>{"IMG_0001.JPG"}; }));
    box.clear();
    EXPECT_EQ(ListNames(*dialog), std::vector<QString>{"notes.sqlite"});
}

// Space (or the button) shows the selected row in the preview window, which follows the selection.
TEST_F(FileManager, PreviewShowsTheSelectedRowAndFollowsTheSelection) {
    const auto dialog = Open(Write("a", SampleWithMessages()));
    ASSERT_TRUE(testing::ShowAndActivate(*dialog));
    dialog->FillFileList(FindNode(CurrentRoot, "/var/mobile/Library/SMS"));
    ClickListRow(*dialog, QStringLiteral("sms.db"));
    CPreviewPane& pane = *dialog->Preview()->Pane();
    QTest::keyClick(dialog->FileList(), Qt::Key_Space);
    ASSERT_TRUE(dialog->Preview()->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pane.Loading(); }));
    EXPECT_EQ(pane.CurrentPage(), CPreviewPane::Page::Text);
    EXPECT_EQ(dialog->Preview()->windowTitle(), QStringLiteral("Preview - sms.db"));
    EXPECT_TRUE(dialog->Preview()->OpenWithButton()->isEnabled());

    ClickListRow(*dialog, QStringLiteral("Attachments"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pane.Loading(); }));
    EXPECT_EQ(pane.CurrentPage(), CPreviewPane::Page::Message);
    EXPECT_FALSE(dialog->Preview()->OpenWithButton()->isEnabled());
    QTest::mouseClick(dialog->PreviewButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog->Preview()->isVisible());
}

// Records the files the desktop is asked to open instead of opening them.
class FileUrlCatcher final : public QObject {
    Q_OBJECT

public:
    FileUrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
    ~FileUrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    FileUrlCatcher(const FileUrlCatcher&) = delete;
    FileUrlCatcher& operator=(const FileUrlCatcher&) = delete;

    std::vector<QUrl> Opened;

public Q_SLOTS:
    void Open(const QUrl& url) { Opened.push_back(url); }
};

TEST_F(FileManager, OpenWithHandsThePrivateCopyOfTheFileToTheDesktop) {
    const auto dialog = Open(Write("a", SampleWithMessages()));
    dialog->FillFileList(FindNode(CurrentRoot, "/var/mobile/Library/SMS/Attachments"));
    ClickListRow(*dialog, QStringLiteral("big.bin"));
    FileUrlCatcher desktop;
    const auto seen = testing::CaptureModals([&] { dialog->OpenSelectedEntry(); },
                                             [](ModalWatcher& watcher) { watcher.Handle([](QWidget&) {}); });
    ASSERT_EQ(desktop.Opened.size(), 1U);
    EXPECT_TRUE(std::none_of(seen.begin(), seen.end(), [](const ModalRecord& modal) { return modal.IsMessageBox; }));
    const fs::path copy = desktop.Opened[0].toLocalFile().toStdString();
    EXPECT_EQ(copy.filename(), "big.bin");
    EXPECT_EQ(testing::ReadFile(copy.string()), BigContent);
    EXPECT_EQ(fs::status(copy.parent_path().parent_path()).permissions(), fs::perms::owner_all);
}

} // namespace
} // namespace marrowick

#include "FileManagerTest.moc"
