#include "gui/controls/ThemeHelper.h"

#include <QApplication>
#include <QProxyStyle>
#include <QStyle>

namespace marrowick {

bool CThemeHelper::IsAppThemed() const {
    return IsThemedStyle(QApplication::style());
}

bool CThemeHelper::IsThemedStyle(const QStyle* style) {
    // A proxy paints with the style it wraps.
    while (const auto* proxy = qobject_cast<const QProxyStyle*>(style)) {
        if (proxy->baseStyle() == style) {
            break;
        }
        style = proxy->baseStyle();
    }
    if (style == nullptr) {
        return false;
    }
    return style->name().compare(QLatin1String("windows"), Qt::CaseInsensitive) != 0 &&
           qstrcmp(style->metaObject()->className(), "QWindowsStyle") != 0;
}

} // namespace marrowick
