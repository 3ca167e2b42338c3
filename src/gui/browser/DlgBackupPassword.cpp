#include "gui/browser/DlgBackupPassword.h"

#include "gui/controls/DialogUnits.h"
#include "gui/controls/DialogWidgets.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <utility>

namespace marrowick {

CDlgBackupPassword::CDlgBackupPassword(const QString& backupName, PasswordCheckFunction check, QWidget* parent)
    : QDialog(parent, MinimizableDialogFlags), check_(std::move(check)) {
    setWindowTitle(QStringLiteral("Encrypted Backup - Marrowick"));

    auto* intro = NewParagraphLabel(
        QStringLiteral("The backup \"%1\" is encrypted. Enter the password that was chosen when its backups were "
                       "encrypted.")
            .arg(backupName),
        this);
    passwordBox_ = new QLineEdit(this);
    passwordBox_->setEchoMode(QLineEdit::Password);
    passwordBox_->setAccessibleName(QStringLiteral("Password"));
    showButton_ = new QPushButton(QStringLiteral("Show"), this);
    showButton_->setCheckable(true);
    showButton_->setAutoDefault(false);
    problemText_ = NewPlainLabel(QString(), this);
    problemText_->setWordWrap(true);
    problemText_->hide();
    busyBar_ = new QProgressBar(this);
    busyBar_->setRange(0, 0);
    busyBar_->setTextVisible(false);
    busyBar_->hide();

    auto* buttons = new QDialogButtonBox(this);
    okButton_ = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    cancelButton_ = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    okButton_->setDefault(true);

    auto* passwordRow = new QHBoxLayout;
    passwordRow->addWidget(passwordBox_, 1);
    passwordRow->addWidget(showButton_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(DialogMargins(*this));
    layout->addWidget(intro);
    layout->addLayout(passwordRow);
    layout->addWidget(problemText_);
    layout->addWidget(busyBar_);
    layout->addWidget(buttons);
    setMinimumWidth(DialogUnitsX(*this, 220));

    connect(showButton_, &QPushButton::toggled, this, &CDlgBackupPassword::OnShowToggled);
    connect(okButton_, &QPushButton::clicked, this, &CDlgBackupPassword::OnOk);
    connect(cancelButton_, &QPushButton::clicked, this, &CDlgBackupPassword::reject);
    connect(this, &CDlgBackupPassword::Checked, this, &CDlgBackupPassword::OnChecked, Qt::QueuedConnection);
    connect(&task_, &CBackgroundTask::Failed, this, &CDlgBackupPassword::OnCheckFailed);
    connect(&task_, &CBackgroundTask::Finished, this, &CDlgBackupPassword::OnCheckEnded);
    passwordBox_->setFocus();
}

CDlgBackupPassword::~CDlgBackupPassword() {
    task_.Wait();
}

void CDlgBackupPassword::reject() {
    if (!task_.Running()) {
        QDialog::reject();
    }
}

void CDlgBackupPassword::OnShowToggled(bool shown) {
    passwordBox_->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
    showButton_->setText(shown ? QStringLiteral("Hide") : QStringLiteral("Show"));
}

void CDlgBackupPassword::OnOk() {
    if (task_.Running()) {
        return;
    }
    QByteArray utf8 = passwordBox_->text().toUtf8();
    auto password = std::make_shared<const SecretBytes>(
        SecretBytes::CopyOf({utf8.constData(), static_cast<std::size_t>(utf8.size())}));
    utf8.fill('\0');
    SetChecking(true);
    lastCheck_ = PasswordCheck{};
    task_.Start([this, password] { Q_EMIT Checked(check_(*password), QPrivateSignal()); });
}

void CDlgBackupPassword::OnChecked(const PasswordCheck& check) {
    lastCheck_ = check;
}

void CDlgBackupPassword::OnCheckFailed(const QString& what) {
    lastCheck_ = PasswordCheck{PasswordCheck::Verdict::Failed, what.toStdString()};
}

// Acts once the worker has ended, so that a new check can start at once.
void CDlgBackupPassword::OnCheckEnded() {
    SetChecking(false);
    switch (lastCheck_.Outcome) {
    case PasswordCheck::Verdict::Unlocked:
        passwordBox_->clear();
        accept();
        return;
    case PasswordCheck::Verdict::WrongPassword:
        problemText_->setText(QStringLiteral("Wrong password"));
        problemText_->show();
        passwordBox_->selectAll();
        passwordBox_->setFocus();
        return;
    case PasswordCheck::Verdict::Failed:
        failureReason_ = QString::fromStdString(lastCheck_.Reason);
        passwordBox_->clear();
        QDialog::reject();
        return;
    }
}

void CDlgBackupPassword::SetChecking(bool checking) {
    passwordBox_->setEnabled(!checking);
    showButton_->setEnabled(!checking);
    okButton_->setEnabled(!checking);
    cancelButton_->setEnabled(!checking);
    busyBar_->setVisible(checking);
    if (checking) {
        problemText_->hide();
    }
}

} // namespace marrowick
