#pragma once

#include "core/crypto/SecretBytes.h"
#include "gui/browser/BackgroundTask.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <string>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace marrowick {

// What trying one password came to.
struct PasswordCheck {
    enum class Verdict { Unlocked, WrongPassword, Failed };
    Verdict Outcome = Verdict::Failed;
    std::string Reason; // for Failed: why, for a person
};

// Tries one password (its UTF-8 bytes); runs on a worker thread and keeps whatever it unlocked itself.
using PasswordCheckFunction = std::function<PasswordCheck(const SecretBytes& password)>;

// Asks for an encrypted backup's password (masked, with Show/Hide) and checks it on a worker thread behind a busy
// bar, since deriving the key takes seconds. A wrong password is said and asked again; the dialog is accepted once
// a password unlocked the backup, and rejected by Cancel or by a failure that no password can mend.
class CDlgBackupPassword final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CDlgBackupPassword)

public:
    CDlgBackupPassword(const QString& backupName, PasswordCheckFunction check, QWidget* parent = nullptr);
    // Waits for a check in progress.
    ~CDlgBackupPassword() override;

    [[nodiscard]] QLineEdit* PasswordBox() const { return passwordBox_; }
    [[nodiscard]] QPushButton* ShowButton() const { return showButton_; }
    [[nodiscard]] QPushButton* OkButton() const { return okButton_; }
    [[nodiscard]] QPushButton* CancelButton() const { return cancelButton_; }
    [[nodiscard]] QLabel* ProblemText() const { return problemText_; }
    [[nodiscard]] QProgressBar* BusyBar() const { return busyBar_; }
    // Closes the dialog unless a check runs: a check cannot be stopped half way.
    void reject() override;
    // Why the backup could not be opened, after a rejection by a failure; "" otherwise.
    [[nodiscard]] QString FailureReason() const { return failureReason_; }

Q_SIGNALS:
    // From the worker: what the check came to.
    void Checked(const marrowick::PasswordCheck& check, QPrivateSignal);

private:
    void OnShowToggled(bool shown);
    void OnOk();
    void OnChecked(const PasswordCheck& check);
    void OnCheckFailed(const QString& what);
    void OnCheckEnded();
    void SetChecking(bool checking);

    PasswordCheckFunction check_;
    QLineEdit* passwordBox_ = nullptr;
    QPushButton* showButton_ = nullptr;
    QLabel* problemText_ = nullptr;
    QProgressBar* busyBar_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    PasswordCheck lastCheck_;
    QString failureReason_;
    // Last, so that it is destroyed first: the worker never outlives what it uses.
    CBackgroundTask task_;
};

} // namespace marrowick
