#include "GuiTestSupport.h"

#include "support/SampleBackup.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QWidget>

#include <algorithm>

namespace marrowick::testing {

namespace {

constexpr int PollMilliseconds = 20;
constexpr qint64 ForcedCloseMilliseconds = 10000;

QString PlainText(QString text) {
    return text.remove(QLatin1Char('&'));
}

ModalRecord Describe(QWidget& modal) {
    ModalRecord record;
    record.ClassName = QString::fromLatin1(modal.metaObject()->className());
    record.Title = modal.windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(&modal)) {
        record.IsMessageBox = true;
        record.Text = box->text();
        record.InformativeText = box->informativeText();
        record.Icon = box->icon();
        for (QAbstractButton* button : box->buttons()) {
            record.Buttons << PlainText(button->text());
        }
    }
    return record;
}

void ClickLater(QAbstractButton* button) {
    QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
}

void CloseLater(QWidget& modal, int result) {
    QPointer<QWidget> target(&modal);
    QTimer::singleShot(0, &modal, [target, result] {
        if (auto* dialog = qobject_cast<QDialog*>(target.data())) {
            dialog->done(result);
        } else if (target) {
            target->close();
        }
    });
}

QAbstractButton* HarmlessButton(QMessageBox& box) {
    const QList<QAbstractButton*> buttons = box.buttons();
    for (QAbstractButton* button : buttons) {
        const auto role = box.buttonRole(button);
        if (role == QMessageBox::RejectRole || role == QMessageBox::NoRole) {
            return button;
        }
    }
    if (box.defaultButton() != nullptr) {
        return box.defaultButton();
    }
    return buttons.isEmpty() ? nullptr : buttons.front();
}

// The watchers alive, oldest first; only the last one answers.
std::vector<const ModalWatcher*>& LiveWatchers() {
    static std::vector<const ModalWatcher*> watchers;
    return watchers;
}

} // namespace

ModalWatcher::ModalWatcher() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isModal() && window->isVisible()) {
            openBefore_.emplace_back(window);
            window->installEventFilter(this);
        }
    }
    LiveWatchers().push_back(this);
    clock_.start();
    timer_.setInterval(PollMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &ModalWatcher::Poll);
    timer_.start();
}

ModalWatcher::~ModalWatcher() {
    std::erase(LiveWatchers(), this);
}

ModalWatcher& ModalWatcher::Press(QMessageBox::StandardButton button) {
    return Handle([button](QWidget& modal) {
        auto* box = qobject_cast<QMessageBox*>(&modal);
        QAbstractButton* target = box != nullptr ? box->button(button) : nullptr;
        if (target != nullptr) {
            ClickLater(target);
        } else {
            CloseLater(modal, QDialog::Rejected);
        }
    });
}

ModalWatcher& ModalWatcher::Press(const QString& text) {
    return Handle([text](QWidget& modal) {
        const auto buttons = modal.findChildren<QAbstractButton*>();
        const auto found = std::find_if(buttons.begin(), buttons.end(),
                                        [&text](QAbstractButton* b) { return PlainText(b->text()) == text; });
        if (found != buttons.end()) {
            ClickLater(*found);
        } else {
            CloseLater(modal, QDialog::Rejected);
        }
    });
}

ModalWatcher& ModalWatcher::Accept() {
    return Handle([](QWidget& modal) { CloseLater(modal, QDialog::Accepted); });
}

ModalWatcher& ModalWatcher::Reject() {
    return Handle([](QWidget& modal) { CloseLater(modal, QDialog::Rejected); });
}

ModalWatcher& ModalWatcher::Handle(Handler handler) {
    answers_.push_back(std::move(handler));
    return *this;
}

void ModalWatcher::Poll() {
    std::erase_if(answered_, [](const Answered& entry) { return !entry.Modal; });
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible() || LiveWatchers().back() != this ||
        std::find(openBefore_.begin(), openBefore_.end(), modal) != openBefore_.end()) {
        return;
    }
    const auto answered = std::find_if(answered_.begin(), answered_.end(),
                                       [modal](const Answered& entry) { return entry.Modal == modal; });
    if (answered == answered_.end()) {
        seen_.push_back(Describe(*modal));
        answered_.push_back({modal, clock_.elapsed(), seen_.size() - 1});
        modal->installEventFilter(this);
        Answer(*modal, seen_.back());
        return;
    }
    if (clock_.elapsed() - answered->Since > ForcedCloseMilliseconds && !answered->Forced) {
        answered->Forced = true;
        seen_[answered->Record].Answer = QStringLiteral("forced close");
        CloseLater(*modal, QDialog::Rejected);
    }
}

bool ModalWatcher::eventFilter(QObject* watched, QEvent* event) {
    // A modal that closed may open again (a second exec) and is then a new one to answer.
    if (event->type() == QEvent::Hide) {
        std::erase_if(answered_, [watched](const Answered& entry) { return entry.Modal == watched; });
        std::erase_if(openBefore_, [watched](const QPointer<QWidget>& modal) { return modal == watched; });
        watched->removeEventFilter(this);
    }
    return QObject::eventFilter(watched, event);
}

void ModalWatcher::Answer(QWidget& modal, ModalRecord& record) {
    if (!answers_.empty()) {
        Handler handler = std::move(answers_.front());
        answers_.pop_front();
        record.Answer = QStringLiteral("handler");
        // Later, so that a modal the handler opens is answered by this watcher's next poll.
        QTimer::singleShot(0, &modal, [handler = std::move(handler), &modal] { handler(modal); });
        return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(&modal)) {
        if (QAbstractButton* button = HarmlessButton(*box)) {
            record.Answer = PlainText(button->text());
            ClickLater(button);
            return;
        }
    }
    record.Answer = QStringLiteral("reject");
    CloseLater(modal, QDialog::Rejected);
}

std::vector<ModalRecord> CaptureModals(const std::function<void()>& action,
                                       const std::function<void(ModalWatcher&)>& prepare) {
    ModalWatcher watcher;
    if (prepare) {
        prepare(watcher);
    }
    action();
    QCoreApplication::processEvents();
    return watcher.Seen();
}

QImage RenderWidget(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool ShowAndActivate(QWidget& window) {
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowExposed(&window) && QTest::qWaitForWindowActive(&window);
}

std::vector<std::string> SortedBackupNames(const std::vector<BackupRecord>& rows) {
    std::vector<std::string> names = BackupNames(rows);
    std::sort(names.begin(), names.end());
    return names;
}

ScopedAppStyle::ScopedAppStyle(const QString& name) : previous_(QApplication::style()->name()) {
    QApplication::setStyle(name);
}

ScopedAppStyle::~ScopedAppStyle() {
    QApplication::setStyle(previous_);
}

} // namespace marrowick::testing
