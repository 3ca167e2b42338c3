#pragma once

#include <QIcon>
#include <QPoint>
#include <QPushButton>
#include <QRect>
#include <QSize>
#include <QString>

class QStyleOptionButton;
class QStylePainter;

namespace marrowick {

class CThemeHelper;

// A push button that paints itself: flat with a raised edge under the pointer and a sunken edge while pressed,
// an icon left of the caption. Keeps QPushButton's default-button behaviour (autoDefault, Enter in a QDialog).
class CImageButton : public QPushButton {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CImageButton)

public:
    // Distance of the icon from the left edge, and how far icon and caption move while pressed.
    static constexpr QPoint ImageOrigin{3, 3};
    static constexpr QPoint PressedOffset{1, 1};

    explicit CImageButton(QWidget* parent = nullptr);
    // iconPath is a resource such as ":/icons/ok.svg", loaded at its own size; empty for no icon.
    CImageButton(const QString& caption, const QString& iconPath, QWidget* parent = nullptr);
    ~CImageButton() override;

    // Replaces the icon by the image at iconPath at its own size; an empty path removes it. An image that cannot
    // be read leaves the button without any icon and gives false.
    bool AssignIcon(const QString& iconPath);
    // Replaces the icon by icon drawn at size; a null icon removes it.
    bool AssignIcon(const QIcon& icon, QSize size);

    // The icon is QAbstractButton's icon at its iconSize; AssignIcon sets both.
    [[nodiscard]] bool HasImage() const { return !icon().isNull(); }
    [[nodiscard]] QSize ImageSize() const { return iconSize(); }
    [[nodiscard]] bool IsMouseOver() const { return mouseOver_; }
    // Whether the flat button draws its raised and sunken edges.
    [[nodiscard]] bool HasBorder() const { return border_; }
    void SetBorder(bool on);

    // Where the icon and the caption are painted in the current state (pressed moves both by PressedOffset).
    [[nodiscard]] QRect ImageRect() const;
    [[nodiscard]] QRect CaptionRect() const;

    [[nodiscard]] QSize sizeHint() const override;

protected:
    // Painting steps, in this order; a subclass may replace the first two.
    virtual void PaintBackground(QStylePainter& painter, const QStyleOptionButton& option);
    virtual void PaintBorder(QStylePainter& painter, const QStyleOptionButton& option);
    void PaintIcon(QStylePainter& painter, const QStyleOptionButton& option);
    void PaintCaption(QStylePainter& painter, const QStyleOptionButton& option);

    void CancelHover();
    [[nodiscard]] bool IsPressedLook() const;

    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void TrackHover(QPointF position, Qt::MouseButtons buttons);
    void HandFocusOn();
    void LayOut(QRect& imageRect, QRect& captionRect) const;

    bool mouseOver_ = false;
    bool border_ = true;
};

// The button of every dialog: the themed push-button or tool-button look when the dialog's theme object says
// visual styles are in use, else the flat look with edges.
class CThemedButton final : public CImageButton {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CThemedButton)

public:
    explicit CThemedButton(QWidget* parent = nullptr);
    // Also calls UseTheme(theme), as every dialog does for each of its buttons.
    CThemedButton(const QString& caption, const QString& iconPath, const CThemeHelper* theme,
                  QWidget* parent = nullptr);
    ~CThemedButton() override;

    // Stores theme (not owned, must outlive the button's painting); the flat edges go on when theme is null or
    // says no visual styles now, and stay as they are when the styles change later.
    void UseTheme(const CThemeHelper* theme);
    // The tool-button look instead of the push-button look under visual styles.
    void UseToolbarLook(bool on, bool repaint = true);

    [[nodiscard]] const CThemeHelper* Theme() const { return theme_; }
    [[nodiscard]] bool ToolbarLook() const { return toolbarLook_; }
    // Whether the next paint uses the themed look.
    [[nodiscard]] bool IsThemedLook() const;

protected:
    void PaintBackground(QStylePainter& painter, const QStyleOptionButton& option) override;
    void PaintBorder(QStylePainter& painter, const QStyleOptionButton& option) override;

private:
    const CThemeHelper* theme_ = nullptr;
    bool toolbarLook_ = false;
};

// A dialog's OK button: the OK icon, and the default button, which Enter presses.
CThemedButton* NewOkButton(const CThemeHelper* theme, QWidget* parent);
// A dialog's Cancel button, with the Cancel icon.
CThemedButton* NewCancelButton(const CThemeHelper* theme, QWidget* parent);

} // namespace marrowick
