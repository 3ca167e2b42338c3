#pragma once

#include "core/backup/SummaryReader.h"

#include <QElapsedTimer>
#include <QImage>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>
#include <string>
#include <vector>

class QWidget;

// Helpers for tests that drive the real windows under QT_QPA_PLATFORM=offscreen.
namespace marrowick::testing {

// What a modal window showed when it opened, and how it was answered.
struct ModalRecord {
    QString ClassName; // the window's class, e.g. "QMessageBox" or "marrowick::CDlgProgress"
    QString Title;     // window title
    QString Text;      // a message box's text (empty for other dialogs)
    QString InformativeText;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QStringList Buttons; // a message box's button texts, in the box's order
    QString Answer;      // text of the button pressed, or "accept", "reject", "handler", "forced close"
    bool IsMessageBox = false;
};

// While alive, answers every modal window that opens after it was made (nested ones too, from inside their event
// loops): records it, then gives it the next queued answer; with none queued, a message box gets Escape's button
// (else its default button) and a dialog is rejected. A modal already open when the watcher is made belongs to
// the code that opened it and is never answered; while watchers nest, only the newest answers. A modal left open
// for 10 s is closed and recorded as "forced close", so a forgotten box fails a test instead of hanging it.
class ModalWatcher final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ModalWatcher)

public:
    using Handler = std::function<void(QWidget& modal)>;

    ModalWatcher();
    ~ModalWatcher() override;

    // Queues the answer for the next modal: press a message box's standard button.
    ModalWatcher& Press(QMessageBox::StandardButton button);
    // Queues: click the button (of any dialog) whose text, without '&', is text.
    ModalWatcher& Press(const QString& text);
    // Queues: accept (or reject) the next dialog.
    ModalWatcher& Accept();
    ModalWatcher& Reject();
    // Queues: give the next modal to handler, which reads it and must close it (done(), a click...).
    ModalWatcher& Handle(Handler handler);

    [[nodiscard]] const std::vector<ModalRecord>& Seen() const { return seen_; }
    [[nodiscard]] std::size_t Count() const { return seen_.size(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Poll();
    void Answer(QWidget& modal, ModalRecord& record);

    struct Answered {
        QPointer<QWidget> Modal;
        qint64 Since = 0;
        std::size_t Record = 0;
        bool Forced = false;
    };

    QTimer timer_;
    QElapsedTimer clock_;
    std::deque<Handler> answers_;
    std::vector<ModalRecord> seen_;
    std::vector<Answered> answered_;
    std::vector<QPointer<QWidget>> openBefore_;
};

// Runs action with a ModalWatcher set up by prepare (for queued answers) and returns every modal seen.
std::vector<ModalRecord> CaptureModals(const std::function<void()>& action,
                                       const std::function<void(ModalWatcher&)>& prepare = {});

// The widget as it paints now, in RGB32 at one device pixel per pixel.
[[nodiscard]] QImage RenderWidget(QWidget& widget);

// Shows window, makes it the active window and waits until it is exposed and active; false on timeout.
bool ShowAndActivate(QWidget& window);

// The backups' names in byte order, so that a comparison does not depend on the order of the search.
[[nodiscard]] std::vector<std::string> SortedBackupNames(const std::vector<BackupRecord>& rows);

// Sets the application's QStyle ("windows" for the classic look, "fusion" for a themed one) and puts the
// previous one back when it goes.
class ScopedAppStyle final {
    Q_DISABLE_COPY_MOVE(ScopedAppStyle)

public:
    explicit ScopedAppStyle(const QString& name);
    ~ScopedAppStyle();

private:
    QString previous_;
};

} // namespace marrowick::testing
