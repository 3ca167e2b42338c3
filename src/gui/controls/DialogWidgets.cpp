#include "gui/controls/DialogWidgets.h"

#include <QFontMetrics>
#include <QLabel>
#include <QStringList>
#include <QTextLayout>
#include <QTextOption>

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

QString FitTextInLines(const QString& text, const QFont& font, int width, int maxLines) {
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    int used = 0;
    layout.beginLayout();
    while (lines.size() + 1 < maxLines && used < text.size()) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLineWidth(width);
        lines << text.mid(line.textStart(), line.textLength());
        used = line.textStart() + line.textLength();
    }
    layout.endLayout();
    if (used < text.size()) {
        lines << QFontMetrics(font).elidedText(text.mid(used), Qt::ElideMiddle, width);
    }
    return lines.join(u'\n');
}

void ShowProgramMessage(QWidget* owner, const QString& text, QMessageBox::Icon icon, const QString& details) {
    QMessageBox box(icon, QStringLiteral("marrowick"), text, QMessageBox::Ok, owner);
    box.setInformativeText(details);
    box.exec();
}

} // namespace marrowick
