#include "gui/controls/EnterEscape.h"

#include <QDialog>
#include <QEvent>
#include <QKeyEvent>

namespace marrowick {
namespace {

class EnterEscapeSwallower final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        return IsEnterOrEscape(event) || QObject::eventFilter(watched, event);
    }
};

} // namespace

bool IsEnterOrEscape(const QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}

void SwallowEnterAndEscape(QDialog& dialog) {
    auto* swallower = new EnterEscapeSwallower(&dialog);
    dialog.installEventFilter(swallower);
    for (QWidget* child : dialog.findChildren<QWidget*>()) {
        child->installEventFilter(swallower);
    }
}

} // namespace marrowick
