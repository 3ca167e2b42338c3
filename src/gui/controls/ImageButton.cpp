#include "gui/controls/ImageButton.h"

#include "gui/controls/ThemeHelper.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QImageReader>
#include <QMouseEvent>
#include <QStyleOptionButton>
#include <QStyleOptionToolButton>
#include <QStylePainter>

#include <algorithm>

namespace marrowick {

namespace {

constexpr int CaptionFlags = Qt::TextWordWrap | Qt::AlignHCenter | Qt::TextShowMnemonic;

// A one-pixel edge: topLeft on the top and left lines, bottomRight on the right and bottom lines.
void DrawEdge(QPainter& painter, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
    painter.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), topLeft);
    painter.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), topLeft);
    painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
    painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
}

} // namespace

CImageButton::CImageButton(QWidget* parent) : QPushButton(parent) {
    setMouseTracking(true);
}

CImageButton::CImageButton(const QString& caption, const QString& iconPath, QWidget* parent) : CImageButton(parent) {
    setText(caption);
    AssignIcon(iconPath);
}

CImageButton::~CImageButton() = default;

bool CImageButton::AssignIcon(const QString& iconPath) {
    if (iconPath.isEmpty()) {
        return AssignIcon(QIcon(), {});
    }
    const QSize size = QImageReader(iconPath).size();
    if (!size.isValid() || size.isEmpty()) {
        setIcon(QIcon());
        return false;
    }
    return AssignIcon(QIcon(iconPath), size);
}

bool CImageButton::AssignIcon(const QIcon& icon, QSize size) {
    setIcon(icon);
    if (!icon.isNull()) {
        setIconSize(size);
    }
    updateGeometry();
    update();
    return true;
}

void CImageButton::SetBorder(bool on) {
    if (border_ != on) {
        border_ = on;
        update();
    }
}

bool CImageButton::IsPressedLook() const {
    return isDown();
}

void CImageButton::LayOut(QRect& imageRect, QRect& captionRect) const {
    const QRect item = rect();
    captionRect = item;
    imageRect = QRect();
    if (HasImage()) {
        const QSize size = ImageSize();
        QPoint origin = item.topLeft();
        if (!text().isEmpty()) {
            origin.rx() += ImageOrigin.x();
            captionRect.setLeft(captionRect.left() + size.width() + ImageOrigin.x());
        } else {
            origin.rx() += (item.width() - size.width()) / 2;
        }
        origin.ry() += (item.height() - size.height()) / 2;
        imageRect = QRect(origin, size);
    }
    if (IsPressedLook()) {
        imageRect.translate(PressedOffset);
        captionRect.translate(PressedOffset);
    }
}

QRect CImageButton::ImageRect() const {
    QRect imageRect;
    QRect captionRect;
    LayOut(imageRect, captionRect);
    return imageRect;
}

QRect CImageButton::CaptionRect() const {
    QRect imageRect;
    QRect captionRect;
    LayOut(imageRect, captionRect);
    return captionRect;
}

QSize CImageButton::sizeHint() const {
    QSize hint = QPushButton::sizeHint();
    if (HasImage()) {
        // Room for the origin on both sides of the icon and the pressed shift.
        hint.rwidth() += 2 * ImageOrigin.x() + PressedOffset.x();
        hint.setHeight(std::max(hint.height(), ImageSize().height() + 2 * ImageOrigin.y() + PressedOffset.y()));
    }
    return hint;
}

void CImageButton::paintEvent(QPaintEvent* /*event*/) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    // Icon and caption are our own extras, drawn after the style's background.
    option.icon = QIcon();
    option.text.clear();
    option.state.setFlag(QStyle::State_MouseOver, mouseOver_);
    option.state.setFlag(QStyle::State_Sunken, IsPressedLook());
    option.state.setFlag(QStyle::State_Raised, !IsPressedLook());

    PaintBackground(painter, option);
    PaintBorder(painter, option);
    if (HasImage()) {
        PaintIcon(painter, option);
    }
    if (!text().isEmpty()) {
        PaintCaption(painter, option);
    }
}

void CImageButton::PaintBackground(QStylePainter& painter, const QStyleOptionButton& option) {
    painter.fillRect(option.rect, option.palette.brush(QPalette::Button));
}

void CImageButton::PaintBorder(QStylePainter& painter, const QStyleOptionButton& option) {
    if (!border_) {
        return;
    }
    const QColor shadow = option.palette.color(QPalette::Dark);
    const QColor highlight = option.palette.color(QPalette::Light);
    if (IsPressedLook()) {
        DrawEdge(painter, option.rect, shadow, highlight);
    } else if (mouseOver_) {
        DrawEdge(painter, option.rect, highlight, shadow);
    }
}

void CImageButton::PaintIcon(QStylePainter& painter, const QStyleOptionButton& /*option*/) {
    const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
    icon().paint(&painter, ImageRect(), Qt::AlignLeft | Qt::AlignTop, mode, QIcon::Off);
}

void CImageButton::PaintCaption(QStylePainter& painter, const QStyleOptionButton& option) {
    const QRect captionRect = CaptionRect();
    const QRect measured = painter.fontMetrics().boundingRect(captionRect, CaptionFlags, text());
    const QRect textRect(captionRect.left() + (captionRect.width() - measured.width()) / 2,
                         captionRect.top() + (captionRect.height() - measured.height()) / 2, measured.width(),
                         measured.height());
    if (!isEnabled()) {
        // Etched: a highlight copy one pixel down-right under the shadow-coloured text.
        painter.setPen(option.palette.color(QPalette::Light));
        painter.drawText(textRect.translated(1, 1), CaptionFlags, text());
        painter.setPen(option.palette.color(QPalette::Dark));
        painter.drawText(textRect, CaptionFlags, text());
        return;
    }
    painter.setPen(option.palette.color(QPalette::ButtonText));
    painter.drawText(textRect, CaptionFlags, text());
}

void CImageButton::TrackHover(QPointF position, Qt::MouseButtons buttons) {
    // Entering with the mouse button held does not light the button.
    if (buttons.testFlag(Qt::LeftButton) && !mouseOver_) {
        return;
    }
    if (!rect().contains(position.toPoint())) {
        CancelHover();
        return;
    }
    if (!mouseOver_) {
        mouseOver_ = true;
        update();
    }
}

void CImageButton::CancelHover() {
    if (mouseOver_) {
        mouseOver_ = false;
        update();
    }
}

void CImageButton::enterEvent(QEnterEvent* event) {
    QPushButton::enterEvent(event);
    TrackHover(event->position(), QApplication::mouseButtons() | event->buttons());
}

void CImageButton::mouseMoveEvent(QMouseEvent* event) {
    QPushButton::mouseMoveEvent(event);
    TrackHover(event->position(), event->buttons());
}

void CImageButton::leaveEvent(QEvent* event) {
    QPushButton::leaveEvent(event);
    CancelHover();
}

void CImageButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click is an ordinary press, so a double click gives two clicks.
    mousePressEvent(event);
}

void CImageButton::focusOutEvent(QFocusEvent* event) {
    QPushButton::focusOutEvent(event);
    CancelHover();
}

void CImageButton::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        CancelHover();
        HandFocusOn();
    }
}

bool CImageButton::event(QEvent* event) {
    // Deactivation reaches the window's children as WindowDeactivate, not as an ActivationChange.
    if (event->type() == QEvent::WindowDeactivate) {
        CancelHover();
    }
    return QPushButton::event(event);
}

void CImageButton::HandFocusOn() {
    // Qt has already moved the focus to the next tab stop if there is one; with none it left the window without
    // a focus widget, and the parent takes it.
    if (isVisible() && window()->focusWidget() == nullptr && parentWidget() != nullptr) {
        parentWidget()->setFocus(Qt::TabFocusReason);
    }
}

CThemedButton::CThemedButton(QWidget* parent) : CImageButton(parent) {
    SetBorder(false);
}

CThemedButton::CThemedButton(const QString& caption, const QString& iconPath, const CThemeHelper* theme,
                             QWidget* parent)
    : CThemedButton(parent) {
    setText(caption);
    AssignIcon(iconPath);
    UseTheme(theme);
}

CThemedButton::~CThemedButton() = default;

void CThemedButton::UseTheme(const CThemeHelper* theme) {
    theme_ = theme;
    if (theme_ == nullptr || !theme_->IsAppThemed()) {
        SetBorder(true);
    }
}

void CThemedButton::UseToolbarLook(bool on, bool repaint) {
    toolbarLook_ = on;
    if (repaint) {
        update();
    }
}

bool CThemedButton::IsThemedLook() const {
    return theme_ != nullptr && theme_->IsAppThemed();
}

void CThemedButton::PaintBackground(QStylePainter& painter, const QStyleOptionButton& option) {
    if (!IsThemedLook()) {
        CImageButton::PaintBackground(painter, option);
        return;
    }
    if (!toolbarLook_) {
        painter.drawControl(QStyle::CE_PushButtonBevel, option);
        return;
    }
    QStyleOptionToolButton tool;
    tool.initFrom(this);
    tool.rect = option.rect;
    tool.state = option.state | QStyle::State_AutoRaise;
    // The toolbar's checked image marks the default button only where the flat edges are on.
    tool.state.setFlag(QStyle::State_On, isDefault() && HasBorder());
    tool.subControls = QStyle::SC_ToolButton;
    tool.activeSubControls = IsPressedLook() ? QStyle::SC_ToolButton : QStyle::SC_None;
    tool.features = QStyleOptionToolButton::None;
    tool.toolButtonStyle = Qt::ToolButtonIconOnly;
    painter.drawComplexControl(QStyle::CC_ToolButton, tool);
}

void CThemedButton::PaintBorder(QStylePainter& painter, const QStyleOptionButton& option) {
    if (!IsThemedLook()) {
        CImageButton::PaintBorder(painter, option);
    }
}

CThemedButton* NewOkButton(const CThemeHelper* theme, QWidget* parent) {
    auto* button = new CThemedButton(QStringLiteral("OK"), QStringLiteral(":/icons/ok.svg"), theme, parent);
    button->setDefault(true);
    return button;
}

CThemedButton* NewCancelButton(const CThemeHelper* theme, QWidget* parent) {
    return new CThemedButton(QStringLiteral("Cancel"), QStringLiteral(":/icons/cancel.svg"), theme, parent);
}

} // namespace marrowick
