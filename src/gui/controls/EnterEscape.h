#pragma once

class QDialog;

namespace marrowick {

// Makes Enter and Escape do nothing in the dialog and the widgets it holds now: no button press, no close.
void SwallowEnterAndEscape(QDialog& dialog);

} // namespace marrowick
