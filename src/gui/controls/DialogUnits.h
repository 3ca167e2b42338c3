#pragma once

#include <QFontMetrics>
#include <QSize>
#include <QWidget>

namespace marrowick {

// Sizes in the dialog units of a widget's font, so that layouts keep their proportions with any system font.
inline QSize DialogUnits(const QWidget& widget, int width, int height) {
    const QFontMetrics metrics(widget.font());
    return {width * metrics.averageCharWidth() / 4, height * metrics.height() / 8};
}

} // namespace marrowick
