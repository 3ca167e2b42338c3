#include "gui/controls/DialogWidgets.h"

#include "gui/controls/DialogUnits.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QScreen>
#include <QSpacerItem>
#include <QStringList>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>

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

namespace {

// QMessageBox sizes itself to its shortest text, so that a short message with a path below it comes out so narrow
// that the caption is cut and the path breaks at every "/". A spacer in its grid keeps it about 70 characters
// wide (less on a narrow screen); it goes in after the texts, since setting them rebuilds the grid.
void KeepMessageBoxWide(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid == nullptr) {
        return;
    }
    const QScreen* screen = box.screen();
    const int screenWidth = screen != nullptr ? screen->availableGeometry().width() : 640;
    const int width = std::min(DialogUnitsX(box, 280), screenWidth * 2 / 3);
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

} // namespace

void ShowProgramMessage(QWidget* owner, const QString& text, QMessageBox::Icon icon, const QString& details) {
    QMessageBox box(icon, QStringLiteral("marrowick"), text, QMessageBox::Ok, owner);
    box.setInformativeText(details);
    KeepMessageBoxWide(box);
    box.exec();
}

bool AskProgramQuestion(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("marrowick"), text, QMessageBox::Yes | QMessageBox::No,
                    owner);
    KeepMessageBoxWide(box);
    return box.exec() == QMessageBox::Yes;
}

} // namespace marrowick
