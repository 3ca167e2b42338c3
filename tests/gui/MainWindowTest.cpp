#include "GuiTestSupport.h"

#include "core/backup/FileNode.h"
#include "core/crypto/UnlockedBackups.h"
#include "core/settings/ExtraLocations.h"
#include "gui/app/MarrowickDlg.h"
#include "gui/browser/DlgBackupPassword.h"
#include "gui/browser/DlgFileManager.h"
#include "gui/browser/TreeLoader.h"
#include "support/SampleBackup.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::ModalRecord;
using testing::SampleBackup;
using testing::SampleFile;
using testing::TempHome;

// Records what QDesktopServices::openUrl is asked to open over http instead of starting a browser.
class UrlCatcher final : public QObject {
    Q_OBJECT

public:
    UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "Open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }

    std::vector<QString> Opened;

public slots:
    void Open(const QUrl& url) { Opened.push_back(url.toString()); }
};

// Counts the paints of a widget that happen while a list shows no rows.
class EmptyPaintCounter final : public QObject {
public:
    explicit EmptyPaintCounter(QTableWidget& list) : list_(list) { list.viewport()->installEventFilter(this); }
    int Count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && list_.rowCount() == 0) {
            ++Count;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QTableWidget& list_;
};

SampleBackup Backup(const std::string& name, double date, const std::string& version = "14.2",
                    const std::string& deviceType = "iPhone 12", const std::string& serial = "C39XK0ABCDEF") {
    SampleBackup backup;
    backup.DisplayName = name;
    backup.Date = date;
    backup.ProductVersion = version;
    backup.ProductName = deviceType;
    backup.SerialNumber = serial;
    backup.Files = {SampleFile{.RelativePath = "Library/SMS/sms.db", .Content = "sms"}};
    return backup;
}

using Rows = std::vector<std::vector<QString>>;

Rows ListTexts(const QTableWidget& list) {
    Rows rows;
    for (int row = 0; row < list.rowCount(); ++row) {
        std::vector<QString> texts;
        for (int column = 0; column < list.columnCount(); ++column) {
            const QTableWidgetItem* item = list.item(row, column);
            texts.push_back(item != nullptr ? item->text() : QString());
        }
        rows.push_back(texts);
    }
    return rows;
}

std::vector<QString> Names(const QTableWidget& list) {
    std::vector<QString> names;
    for (const auto& row : ListTexts(list)) {
        names.push_back(row.front());
    }
    return names;
}

QAction* MenuAction(const CMarrowickDlg& dialog, const QString& menuText, const QString& itemText) {
    const auto* bar = dialog.findChild<QMenuBar*>();
    for (QAction* menuAction : bar != nullptr ? bar->actions() : QList<QAction*>{}) {
        if (menuAction->text() == menuText && menuAction->menu() != nullptr) {
            for (QAction* item : menuAction->menu()->actions()) {
                if (item->text() == itemText) {
                    return item;
                }
            }
        }
    }
    return nullptr;
}

struct Link {
    QString Text;
    int Position = 0;
};

std::vector<Link> LinksOf(const QTextBrowser& box) {
    std::vector<Link> links;
    for (QTextBlock block = box.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isAnchor()) {
                links.push_back({it.fragment().text(), it.fragment().position() + it.fragment().length() / 2});
            }
        }
    }
    return links;
}

// Scrolls the box so that the character at position shows, and returns its place in the viewport.
QPoint PointOfCharacter(QTextBrowser& box, int position) {
    QTextCursor cursor(box.document());
    cursor.setPosition(position);
    box.setTextCursor(cursor);
    box.ensureCursorVisible();
    return box.cursorRect(cursor).center() + QPoint(2, 0);
}

// What a person's double-click delivers: a press and a release, then the double-click and its release.
void DoubleClick(QWidget* widget, QPoint position, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(widget, button, {}, position);
    QTest::mouseDClick(widget, button, {}, position);
    QTest::mouseRelease(widget, button, {}, position);
}

class MainWindow : public ::testing::Test {
protected:
    TempHome home{"UTC"};

    fs::path AddBackup(const fs::path& folder, const SampleBackup& backup) {
        return testing::WriteSampleBackup(folder, backup);
    }
};

TEST_F(MainWindow, ListsTheBackupsOfBothDefaultFoldersOldestFirstWithFiveTexts) {
    AddBackup(home.AppDataBackupFolder() / "aaa", Backup("Ann's iPhone", 600000000, "14.2", "iPhone 12", "SERIALA"));
    AddBackup(home.ProfileBackupFolder() / "bbb", Backup("Work iPad", 500000000, "10.3.1", "iPad Pro", "SERIALB"));
    AddBackup(home.AppDataBackupFolder() / "ccc", Backup("Old & New", 550000000, "11.4", "iPhone 8", "SERIALC"));

    CMarrowickDlg dialog;

    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Marrowick V2.9"));
    QStringList headings;
    for (int column = 0; column < dialog.BackupList()->columnCount(); ++column) {
        headings << dialog.BackupList()->horizontalHeaderItem(column)->text();
    }
    EXPECT_EQ(headings, (QStringList{"Name", "Time", "Version", "Device Type", "Serial Number"}));
    EXPECT_EQ(ListTexts(*dialog.BackupList()),
              (Rows{
                  {"Work iPad", "2016-11-05 00:53:20", "10.3.1", "iPad Pro", "SERIALB"},
                  {"Old & New", "2018-06-06 17:46:40", "11.4", "iPhone 8", "SERIALC"},
                  {"Ann's iPhone", "2020-01-06 10:40:00", "14.2", "iPhone 12", "SERIALA"},
              }));
}

TEST_F(MainWindow, ReadsTheExtraLocationsFileAndListsNothingWithoutBackups) {
    {
        CMarrowickDlg dialog;
        EXPECT_EQ(dialog.BackupList()->rowCount(), 0);
    }
    const fs::path extra = home.Home() / "elsewhere";
    AddBackup(extra / "x", Backup("Far Away", 520000000));
    fs::create_directories(home.SettingsFolder());
    std::ofstream(home.SettingsFolder() / "backuppath.txt") << extra.string() << "\r\n";

    CMarrowickDlg dialog;
    EXPECT_EQ(Names(*dialog.BackupList()), std::vector<QString>{"Far Away"});
}

// An empty list says where it looked and offers the extra-locations dialog. A dropped folder of backups is listed
// for the run, a dropped backup opens, and each offers to remember where it lies.
TEST_F(MainWindow, EmptyListHintAndDroppedFolders) {
    CMarrowickDlg dialog;
    ASSERT_TRUE(testing::ShowAndActivate(dialog));
    QLabel& hint = *dialog.EmptyListHint();
    EXPECT_TRUE(hint.isVisible());
    EXPECT_TRUE(hint.text().contains(QStringLiteral("~/Apple/MobileSync/Backup/")));
    std::vector<ModalRecord> modals = testing::CaptureModals([&] { emit hint.linkActivated(QStringLiteral("add")); });
    ASSERT_EQ(modals.size(), 1U);
    EXPECT_EQ(modals[0].ClassName, QStringLiteral("marrowick::CDlgSetBackupPath"));

    const fs::path elsewhere = home.Home() / "elsewhere";
    AddBackup(elsewhere / "x", Backup("Far Away", 520000000));
    AddBackup(elsewhere / "y", Backup("Farther", 530000000));
    fs::create_directories(home.Home() / "empty");
    const auto drop = [&](const fs::path& folder) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(folder.string()))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &enter);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &event);
        QCoreApplication::processEvents();
    };

    modals = testing::CaptureModals([&] { drop(home.Home() / "empty"); });
    ASSERT_EQ(modals.size(), 1U);
    EXPECT_TRUE(modals[0].Text.startsWith(QStringLiteral("No backup was found")));

    modals = testing::CaptureModals([&] { drop(elsewhere); },
                                    [](testing::ModalWatcher& watcher) { watcher.Press(QMessageBox::No); });
    ASSERT_EQ(modals.size(), 1U);
    EXPECT_TRUE(modals[0].Text.contains(QStringLiteral("holds 2 backups")));
    EXPECT_FALSE(hint.isVisible());
    MenuAction(dialog, QStringLiteral("File(&F)"), QStringLiteral("Refresh(&R)\tF5"))->trigger();
    EXPECT_EQ(Names(*dialog.BackupList()), (std::vector<QString>{"Far Away", "Farther"}));
    EXPECT_TRUE(ExtraLocationRows().empty());

    bool opened = false;
    modals = testing::CaptureModals(
        [&] {
            drop(elsewhere / "y");
            EXPECT_TRUE(QTest::qWaitFor([&] { return opened; }, 10000));
        },
        [&](testing::ModalWatcher& watcher) {
            watcher.Press(QMessageBox::Yes).Handle([&](QWidget& modal) {
                opened = qobject_cast<CDlgFileManager*>(&modal) != nullptr;
                modal.close();
            });
        });
    ASSERT_EQ(modals.size(), 2U);
    EXPECT_TRUE(opened);
    EXPECT_EQ(ExtraLocationRows(), std::vector<std::string>{elsewhere.string() + "/"});
    EXPECT_EQ(Names(*dialog.BackupList()), (std::vector<QString>{"Far Away", "Farther"}));
}

TEST_F(MainWindow, EnterEscapeAndCtrlHKeepTheWindowOpenAndCtrlEClosesIt) {
    AddBackup(home.AppDataBackupFolder() / "aaa", Backup("Ann's iPhone", 600000000));
    UrlCatcher urls;
    CMarrowickDlg dialog;
    ASSERT_TRUE(testing::ShowAndActivate(dialog));
    dialog.BackupList()->selectRow(0);

    const std::vector<ModalRecord> modals = testing::CaptureModals([&] {
        for (QWidget* target : {static_cast<QWidget*>(dialog.BackupList()), static_cast<QWidget*>(dialog.UsageBox()),
                                static_cast<QWidget*>(&dialog)}) {
            target->setFocus();
            if (target == dialog.UsageBox()) {
                // Tab puts the keyboard on the first link, where Enter would otherwise follow it.
                QTest::keyClick(target, Qt::Key_Tab);
                EXPECT_TRUE(dialog.UsageBox()->textCursor().charFormat().isAnchor());
            }
            for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
                QTest::keyClick(target, key);
                EXPECT_TRUE(dialog.isVisible()) << "key " << key;
            }
        }
        QTest::keyClick(dialog.BackupList(), Qt::Key_H, Qt::ControlModifier);
    });
    EXPECT_TRUE(modals.empty()) << modals.front().ClassName.toStdString();
    EXPECT_TRUE(urls.Opened.empty());
    EXPECT_TRUE(dialog.isVisible());

    QTest::keyClick(dialog.BackupList(), Qt::Key_E, Qt::ControlModifier);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(MainWindow, F5ShowsTheListEmptyWhileScanningThenTheBackupsNowOnDisk) {
    const fs::path first = AddBackup(home.AppDataBackupFolder() / "aaa", Backup("Ann's iPhone", 600000000));
    AddBackup(home.ProfileBackupFolder() / "bbb", Backup("Work iPad", 500000000));
    CMarrowickDlg dialog;
    ASSERT_TRUE(testing::ShowAndActivate(dialog));
    ASSERT_EQ(Names(*dialog.BackupList()), (std::vector<QString>{"Work iPad", "Ann's iPhone"}));

    fs::remove_all(first);
    AddBackup(home.AppDataBackupFolder() / "ddd", Backup("New Phone", 550000000));
    QCoreApplication::processEvents();
    EmptyPaintCounter emptyPaints(*dialog.BackupList());
    QTest::keyClick(dialog.BackupList(), Qt::Key_F5);

    EXPECT_GE(emptyPaints.Count, 1);
    EXPECT_EQ(Names(*dialog.BackupList()), (std::vector<QString>{"Work iPad", "New Phone"}));
}

TEST_F(MainWindow, DoubleClickOpensTheFileManagerOfTheSelectedBackup) {
    const fs::path older = AddBackup(home.ProfileBackupFolder() / "bbb", Backup("Work iPad", 500000000));
    const fs::path newer = AddBackup(home.AppDataBackupFolder() / "aaa", Backup("Ann's iPhone", 600000000));
    CMarrowickDlg dialog;
    ASSERT_TRUE(testing::ShowAndActivate(dialog));
    QTableWidget& list = *dialog.BackupList();
    QWidget* viewport = list.viewport();

    QString openedName;
    std::string openedPath;
    const auto readFileManager = [&](testing::ModalWatcher& watcher) {
        watcher.Handle([&](QWidget& modal) {
            if (auto* manager = qobject_cast<CDlgFileManager*>(&modal)) {
                openedName = manager->BackupName();
                openedPath = CurrentBackupPath;
            }
            modal.close();
        });
    };

    // The file manager opens once the backup's tree has been read, off the window's thread.
    const auto doubleClickAndWait = [&](QPoint position) {
        openedName.clear();
        DoubleClick(viewport, position);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !openedName.isEmpty(); }, 10000));
    };

    const QPoint secondRow = list.visualRect(list.model()->index(1, 1)).center();
    std::vector<ModalRecord> modals = testing::CaptureModals([&] { doubleClickAndWait(secondRow); }, readFileManager);
    ASSERT_EQ(modals.size(), 1U);
    EXPECT_EQ(modals[0].ClassName, QStringLiteral("marrowick::CDlgFileManager"));
    EXPECT_EQ(openedName, QStringLiteral("Ann's iPhone"));
    EXPECT_EQ(openedPath, newer.string() + "/");
    EXPECT_TRUE(dialog.isVisible());

    // Below the last row, the selected row is the one opened.
    list.selectRow(0);
    const QPoint emptyArea(viewport->width() / 2, viewport->height() - 5);
    ASSERT_FALSE(list.indexAt(emptyArea).isValid());
    modals = testing::CaptureModals([&] { doubleClickAndWait(emptyArea); }, readFileManager);
    ASSERT_EQ(modals.size(), 1U);
    EXPECT_EQ(openedName, QStringLiteral("Work iPad"));
    EXPECT_EQ(openedPath, older.string() + "/");

    modals = testing::CaptureModals([&] { DoubleClick(viewport, secondRow, Qt::RightButton); });
    EXPECT_TRUE(modals.empty());
}

// An encrypted backup is marked, asks for its password (again after a wrong one) and opens decrypted.
TEST_F(MainWindow, EncryptedBackupIsMarkedAndOpensWithItsPassword) {
    SampleBackup sample = Backup("Ann's iPhone", 600000000);
    sample.Encryption = testing::SampleEncryption{};
    sample.Files = {testing::SampleFile{.RelativePath = "Library/SMS/sms.db", .Content = "the messages"}};
    const fs::path folder = AddBackup(home.AppDataBackupFolder() / "aaa", sample);
    const struct Forget {
        ~Forget() { ForgetUnlockedBackups(); }
    } forget;
    CMarrowickDlg dialog;
    ASSERT_TRUE(testing::ShowAndActivate(dialog));
    QTableWidget& list = *dialog.BackupList();
    EXPECT_FALSE(list.item(0, 0)->icon().isNull());
    EXPECT_TRUE(list.item(0, 1)->toolTip().startsWith(QStringLiteral("Encrypted backup in ")));

    QString wrongSaid;
    bool opened = false;
    testing::ModalWatcher watcher;
    watcher
        .Handle([&](QWidget& modal) {
            auto& ask = dynamic_cast<CDlgBackupPassword&>(modal);
            ask.PasswordBox()->setText(QStringLiteral("battery staple"));
            QTest::mouseClick(ask.OkButton(), Qt::LeftButton);
            if (QTest::qWaitFor([&] { return ask.ProblemText()->isVisible(); }, 5000)) {
                wrongSaid = ask.ProblemText()->text();
            }
            ask.PasswordBox()->setText(QStringLiteral("correct horse"));
            QTest::mouseClick(ask.OkButton(), Qt::LeftButton);
        })
        .Handle([&](QWidget& modal) {
            opened = FindNode(CurrentRoot, "/var/mobile/Library/SMS/sms.db") != nullptr;
            modal.close();
        });
    DoubleClick(list.viewport(), list.visualRect(list.model()->index(0, 1)).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.Count() == 2 && !QApplication::activeModalWidget(); }, 10000));
    EXPECT_EQ(watcher.Seen()[1].ClassName, QStringLiteral("marrowick::CDlgFileManager"));
    EXPECT_EQ(wrongSaid, QStringLiteral("Wrong password"));
    EXPECT_TRUE(opened);
}

// Whatever the tree's worker meets, the program goes on and the file manager says what failed.
TEST_F(MainWindow, ExceptionWhileABackupIsReadIsToldAndTheProgramGoesOn) {
    AddBackup(home.AppDataBackupFolder() / "aaa", Backup("Ann's iPhone", 600000000));
    SetTreeReadFunction(
        [](const std::string&, ManifestKind) -> CachedBackupTree { throw std::runtime_error("injected failure"); });
    const struct Restore {
        ~Restore() { SetTreeReadFunction({}); }
    } restore;
    CMarrowickDlg dialog;
    ASSERT_TRUE(testing::ShowAndActivate(dialog));
    QTableWidget& list = *dialog.BackupList();

    testing::ModalWatcher watcher;
    DoubleClick(list.viewport(), list.visualRect(list.model()->index(0, 1)).center());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return watcher.Count() == 2 && QApplication::activeModalWidget() == nullptr; }, 10000));

    const auto& seen = watcher.Seen();
    const auto box = std::find_if(seen.begin(), seen.end(), [](const ModalRecord& r) { return r.IsMessageBox; });
    ASSERT_NE(box, seen.end());
    EXPECT_TRUE(box->Text.contains(QStringLiteral("cannot be read"))) << box->Text.toStdString();
    EXPECT_TRUE(box->Text.contains(QStringLiteral("injected failure"))) << box->Text.toStdString();
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](const ModalRecord& r) {
        return r.ClassName == QStringLiteral("marrowick::CDlgFileManager");
    }));
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(MainWindow, DoubleClickWithoutSelectedRowOpensNothing) {
    CMarrowickDlg dialog;
    ASSERT_TRUE(testing::ShowAndActivate(dialog));
    const std::vector<ModalRecord> modals =
        testing::CaptureModals([&] { DoubleClick(dialog.BackupList()->viewport(), QPoint(20, 20)); });
    EXPECT_TRUE(modals.empty());
}

TEST_F(MainWindow, UsageBoxLinksOpenHttpAndTheirTextWhenReleased) {
    UrlCatcher urls;
    CMarrowickDlg dialog;
    ASSERT_TRUE(testing::ShowAndActivate(dialog));
    QTextBrowser& box = *dialog.UsageBox();

    const QStringList lines = box.toPlainText().split(u'\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("Usage: Double click any row to open and manage it. "));
    EXPECT_EQ(lines[1], QStringLiteral("More Software: "));
    const std::vector<Link> links = LinksOf(box);
    ASSERT_EQ(links.size(), static_cast<std::size_t>(lines.size() - 2));
    for (std::size_t i = 0; i < links.size(); ++i) {
        const QString& line = lines[static_cast<qsizetype>(i) + 2];
        EXPECT_TRUE(line.endsWith(QStringLiteral(": ") + links[i].Text)) << line.toStdString();
        EXPECT_TRUE(links[i].Text.contains(QStringLiteral(".example"))) << links[i].Text.toStdString();
    }

    // A press alone opens nothing; the release over the link does.
    const QPoint first = PointOfCharacter(box, links[0].Position);
    QTest::mousePress(box.viewport(), Qt::LeftButton, {}, first);
    EXPECT_TRUE(urls.Opened.empty());
    QTest::mouseRelease(box.viewport(), Qt::LeftButton, {}, first);
    ASSERT_EQ(urls.Opened.size(), 1U);
    EXPECT_EQ(urls.Opened[0], QStringLiteral("http://") + links[0].Text);

    for (std::size_t i = 1; i < links.size(); ++i) {
        QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, PointOfCharacter(box, links[i].Position));
        ASSERT_EQ(urls.Opened.size(), i + 1);
        EXPECT_EQ(urls.Opened[i], QStringLiteral("http://") + links[i].Text);
    }

    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, PointOfCharacter(box, 3));
    EXPECT_EQ(urls.Opened.size(), links.size());
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(MainWindow, HelpMenuOpensTheAboutBoxAndTheProductPage) {
    UrlCatcher urls;
    CMarrowickDlg dialog;
    ASSERT_TRUE(testing::ShowAndActivate(dialog));
    QAction* about = MenuAction(dialog, QStringLiteral("Help(&H)"), QStringLiteral("About(&A)"));
    QAction* help = MenuAction(dialog, QStringLiteral("Help(&H)"), QStringLiteral("Help(&H)\tCtrl+H"));
    ASSERT_NE(about, nullptr);
    ASSERT_NE(help, nullptr);

    const std::vector<ModalRecord> modals = testing::CaptureModals([&] { about->trigger(); });
    ASSERT_EQ(modals.size(), 1U);
    EXPECT_EQ(modals[0].ClassName, QStringLiteral("marrowick::CAboutDlg"));
    EXPECT_EQ(modals[0].Title, QStringLiteral("About Marrowick"));
    EXPECT_TRUE(urls.Opened.empty());

    EXPECT_TRUE(testing::CaptureModals([&] { help->trigger(); }).empty());
    ASSERT_EQ(urls.Opened.size(), 1U);
    const QUrl page(urls.Opened[0]);
    EXPECT_EQ(page.scheme(), QStringLiteral("http"));
    EXPECT_TRUE(page.host().endsWith(QStringLiteral(".example"))) << page.toString().toStdString();
    EXPECT_TRUE(dialog.isVisible());
}

} // namespace
} // namespace marrowick

#include "MainWindowTest.moc"
