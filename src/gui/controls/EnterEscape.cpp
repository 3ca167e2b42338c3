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
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void SwallowEnterAndEscape(QDialog& dialog) {
    auto* swallower = new EnterEscapeSwallower(&dialog);
    dialog.installEventFilter(swallower);
    for (QWidget* child : dialog.findChildren<QWidget*>()) {
        child->installEventFilter(swallower);
    }
}

} // namespace marrowick
