#pragma once

#include <QMessageBox>
#include <QString>

class QFont;
class QLabel;
class QWidget;

namespace marrowick {

// Title bar with the system menu, minimize and close boxes, and no help box.
inline constexpr Qt::WindowFlags MinimizableDialogFlags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;

// A label that shows its text as written, even when the text looks like rich text.
QLabel* NewPlainLabel(const QString& text, QWidget* parent);
// A plain label for a paragraph: wrapped at the label's width, starting in its top-left corner.
QLabel* NewParagraphLabel(const QString& text, QWidget* parent);

// The text laid out in at most maxLines lines of width pixels, broken anywhere, with the middle of the last line
// elided, so that both of its ends stay visible. Lines are joined with "\n".
[[nodiscard]] QString FitTextInLines(const QString& text, const QFont& font, int width, int maxLines);

// A message box captioned with the program file's name, as a box without a caption is on Windows.
void ShowProgramMessage(QWidget* owner, const QString& text, QMessageBox::Icon icon = QMessageBox::NoIcon,
                        const QString& details = QString());
// The same box with a question and Yes and No; true for Yes.
[[nodiscard]] bool AskProgramQuestion(QWidget* owner, const QString& text);

} // namespace marrowick
