#include "gui/controls/DialogWidgets.h"

#include <QLabel>

namespace marrowick {

QLabel* NewPlainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* NewParagraphLabel(const QString& text, QWidget* parent) {
    QLabel* label = NewPlainLabel(text, parent);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

void ShowProgramMessage(QWidget* owner, const QString& text, QMessageBox::Icon icon, const QString& details) {
    QMessageBox box(icon, QStringLiteral("marrowick"), text, QMessageBox::Ok, owner);
    box.setInformativeText(details);
    box.exec();
}

} // namespace marrowick
