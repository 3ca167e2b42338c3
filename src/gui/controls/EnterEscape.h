#pragma once

class QDialog;
class QEvent;

namespace marrowick {

// Whether event is a press of Return, Enter (keypad) or Escape.
[[nodiscard]] bool IsEnterOrEscape(const QEvent* event);

// Makes Enter and Escape do nothing in the dialog and the widgets it holds now: no button press, no close.
void SwallowEnterAndEscape(QDialog& dialog);

} // namespace marrowick
