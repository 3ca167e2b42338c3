#pragma once

#include <QFontMetrics>
#include <QMargins>
#include <QSize>
#include <QWidget>

namespace marrowick {

// Sizes in the dialog units of a widget's font, so that layouts keep their proportions with any system font.
inline QSize DialogUnits(const QWidget& widget, int width, int height) {
    const QFontMetrics metrics(widget.font());
    return {width * metrics.averageCharWidth() / 4, height * metrics.height() / 8};
}

inline int DialogUnitsX(const QWidget& widget, int units) {
    return DialogUnits(widget, units, 0).width();
}

inline int DialogUnitsY(const QWidget& widget, int units) {
    return DialogUnits(widget, 0, units).height();
}

// The 7-unit margin every dialog keeps between its edge and its controls.
inline QMargins DialogMargins(const QWidget& widget) {
    const QSize margin = DialogUnits(widget, 7, 7);
    return {margin.width(), margin.height(), margin.width(), margin.height()};
}

} // namespace marrowick
