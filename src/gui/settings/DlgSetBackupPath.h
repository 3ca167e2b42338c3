#pragma once

#include "gui/controls/ThemeHelper.h"

#include <QDialog>

class QLabel;
class QListWidget;

namespace marrowick {

class CThemedButton;

// Adds and deletes the extra backup locations, editing BackupLocations in place while it is open. Cancel keeps
// the edits in the table but leaves the file and the list alone; the caller saves after OK.
class CDlgSetBackupPath final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CDlgSetBackupPath)

public:
    explicit CDlgSetBackupPath(QWidget* parent = nullptr);
    ~CDlgSetBackupPath() override;

    [[nodiscard]] QLabel* IntroText() const { return introText_; }
    [[nodiscard]] QListWidget* LocationList() const { return locationList_; }
    // Says how many lines of the locations file were left out; hidden when none were.
    [[nodiscard]] QLabel* UnreadLinesNote() const { return unreadLinesNote_; }
    [[nodiscard]] CThemedButton* AddButton() const { return addButton_; }
    [[nodiscard]] CThemedButton* DeleteButton() const { return deleteButton_; }
    [[nodiscard]] CThemedButton* OkButton() const { return okButton_; }
    [[nodiscard]] CThemedButton* CancelButton() const { return cancelButton_; }

private:
    void FillLocationList();
    void OnAdd();
    void OnDelete();

    CThemeHelper themeHelper_;
    QLabel* introText_ = nullptr;
    QListWidget* locationList_ = nullptr;
    QLabel* unreadLinesNote_ = nullptr;
    CThemedButton* addButton_ = nullptr;
    CThemedButton* deleteButton_ = nullptr;
    CThemedButton* okButton_ = nullptr;
    CThemedButton* cancelButton_ = nullptr;
};

} // namespace marrowick
