#pragma once

#include <QtGlobal>

class QStyle;

namespace marrowick {

// A dialog's view of the visual styles: the classic "windows" QStyle counts as no styles, every other style as
// styles in use. Asked anew on every call, so a style switched while a dialog is open shows at the next paint.
class CThemeHelper final {
    Q_DISABLE_COPY_MOVE(CThemeHelper)

public:
    CThemeHelper() = default;
    ~CThemeHelper() = default;

    // Whether the application's current QStyle paints with visual styles.
    [[nodiscard]] bool IsAppThemed() const;

    // Whether style paints with visual styles; null counts as none.
    [[nodiscard]] static bool IsThemedStyle(const QStyle* style);
};

} // namespace marrowick
