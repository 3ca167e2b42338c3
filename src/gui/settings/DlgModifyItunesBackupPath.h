#pragma once

#include "core/settings/Relocation.h"
#include "gui/controls/ThemeHelper.h"

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;

namespace marrowick {

class CThemedButton;

// Proposes a new place for iTunes' default backup folder; OK relocates both MobileSync folders (or restores the
// default place when the box is empty), reports a step that failed with its path and reason, and closes with OK.
class CDlgModifyItunesBackupPath final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CDlgModifyItunesBackupPath)

public:
    // initialLocation is the link target read before the dialog opened; "" when Backup is not a link.
    explicit CDlgModifyItunesBackupPath(std::string initialLocation, QWidget* parent = nullptr);
    ~CDlgModifyItunesBackupPath() override;

    [[nodiscard]] const std::string& InitialLocation() const { return initialLocation_; }
    // What OK did; default (nothing done, no failure) until then.
    [[nodiscard]] const RelocationResult& Result() const { return result_; }

    [[nodiscard]] QLabel* NoticeText() const { return noticeText_; }
    [[nodiscard]] QLabel* LocationCaption() const { return locationCaption_; }
    [[nodiscard]] QLineEdit* LocationBox() const { return locationBox_; }
    [[nodiscard]] CThemedButton* ChangeButton() const { return changeButton_; }
    [[nodiscard]] CThemedButton* RestoreButton() const { return restoreButton_; }
    [[nodiscard]] CThemedButton* OkButton() const { return okButton_; }
    [[nodiscard]] CThemedButton* CancelButton() const { return cancelButton_; }

private:
    void OnChange();
    void OnRestore();
    void OnOk();

    std::string initialLocation_;
    RelocationResult result_;
    CThemeHelper themeHelper_;
    QLabel* noticeText_ = nullptr;
    QLabel* locationCaption_ = nullptr;
    QLineEdit* locationBox_ = nullptr;
    CThemedButton* changeButton_ = nullptr;
    CThemedButton* restoreButton_ = nullptr;
    CThemedButton* okButton_ = nullptr;
    CThemedButton* cancelButton_ = nullptr;
};

} // namespace marrowick
