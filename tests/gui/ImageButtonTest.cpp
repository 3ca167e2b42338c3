#include "GuiTestSupport.h"

#include "gui/controls/ImageButton.h"
#include "gui/controls/ThemeHelper.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace marrowick {
namespace {

using testing::RenderWidget;
using testing::ScopedAppStyle;
using testing::ShowAndActivate;

constexpr auto CancelIcon = ":/icons/cancel.svg";
constexpr auto UpIcon = ":/icons/up.svg";
constexpr QPoint Parking(230, 110);

// A dialog with one button the size of the dialogs' 32x32-icon buttons, shown and active.
class ButtonHost {
public:
    explicit ButtonHost(const QString& style, const QString& caption = QStringLiteral("Cancel"),
                        const QString& icon = QString::fromLatin1(CancelIcon))
        : style_(style) {
        dialog_.resize(240, 120);
        button_ = new CThemedButton(caption, icon, &theme_, &dialog_);
        button_->setGeometry(20, 20, 96, 36);
        other_ = new QLineEdit(&dialog_);
        other_->setGeometry(20, 70, 96, 24);
    }

    // The pointer is parked off the button: a test before may have left it where the button now is.
    bool Show() {
        const bool shown = ShowAndActivate(dialog_);
        QTest::mouseMove(&dialog_, Parking);
        return shown;
    }
    CThemedButton& Button() { return *button_; }
    QLineEdit& Other() { return *other_; }
    QDialog& Dialog() { return dialog_; }
    QPoint Centre() const { return button_->rect().center(); }

private:
    ScopedAppStyle style_;
    CThemeHelper theme_;
    QDialog dialog_;
    CThemedButton* button_ = nullptr;
    QLineEdit* other_ = nullptr;
};

QColor Face(const QWidget& widget) {
    return widget.palette().color(QPalette::Button);
}

QColor Highlight(const QWidget& widget) {
    return widget.palette().color(QPalette::Light);
}

QColor Shadow(const QWidget& widget) {
    return widget.palette().color(QPalette::Dark);
}

// Checks the one-pixel edge: top and left lines in topLeft, right and bottom lines in bottomRight.
void ExpectEdge(const QImage& image, const QColor& topLeft, const QColor& bottomRight) {
    const int w = image.width();
    const int h = image.height();
    for (int x = 0; x < w - 1; ++x) {
        ASSERT_EQ(QColor(image.pixel(x, 0)).name(), topLeft.name()) << "top, x=" << x;
        ASSERT_EQ(QColor(image.pixel(x, h - 1)).name(), bottomRight.name()) << "bottom, x=" << x;
    }
    for (int y = 0; y < h - 1; ++y) {
        ASSERT_EQ(QColor(image.pixel(0, y)).name(), topLeft.name()) << "left, y=" << y;
        ASSERT_EQ(QColor(image.pixel(w - 1, y)).name(), bottomRight.name()) << "right, y=" << y;
    }
}

// The smallest rectangle holding every pixel for which wanted is true (null when none).
QRect BoundingBox(const QImage& image, const QRect& area, const std::function<bool(QColor)>& wanted) {
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (wanted(QColor(image.pixel(x, y)))) {
                box = box.united(QRect(x, y, 1, 1));
            }
        }
    }
    return box;
}

bool IsStrongRed(QColor c) {
    return c.red() > 150 && c.green() < 110 && c.blue() < 110;
}

void Hover(QWidget& widget, QPoint at) {
    QTest::mouseMove(&widget, at);
    QCoreApplication::processEvents();
}

// ---- The classic flat look: no visual styles --------------------------------------------------------------

TEST(ImageButtonClassicLook, ShowsNoEdgeAtRestRaisedUnderPointerSunkenWhilePressed) {
    ButtonHost host(QStringLiteral("windows"));
    ASSERT_TRUE(host.Show());
    CThemedButton& button = host.Button();
    ASSERT_FALSE(button.IsThemedLook());
    ASSERT_TRUE(button.HasBorder());
    // The three colours must differ, or the pixels below could not tell the looks apart.
    ASSERT_NE(Face(button), Highlight(button));
    ASSERT_NE(Face(button), Shadow(button));
    ASSERT_NE(Highlight(button), Shadow(button));

    const QImage rest = RenderWidget(button);
    ExpectEdge(rest, Face(button), Face(button));

    Hover(button, host.Centre());
    ASSERT_TRUE(button.IsMouseOver());
    ExpectEdge(RenderWidget(button), Highlight(button), Shadow(button));

    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    QTest::mousePress(&button, Qt::LeftButton, {}, host.Centre());
    ASSERT_TRUE(button.isDown());
    ExpectEdge(RenderWidget(button), Shadow(button), Highlight(button));
    QTest::mouseRelease(&button, Qt::LeftButton, {}, host.Centre());
    EXPECT_EQ(clicked.count(), 1);
    ExpectEdge(RenderWidget(button), Highlight(button), Shadow(button));
}

TEST(ImageButtonClassicLook, PressingMovesIconAndCaptionOnePixelRightAndDown) {
    ButtonHost host(QStringLiteral("windows"));
    ASSERT_TRUE(host.Show());
    CThemedButton& button = host.Button();
    const QImage rest = RenderWidget(button);
    QTest::mousePress(&button, Qt::LeftButton, {}, host.Centre());
    const QImage pressed = RenderWidget(button);
    QTest::mouseRelease(&button, Qt::LeftButton, {}, host.Centre());

    // Inside the edge, the pressed image is the resting one moved by (1, 1), and not the same image.
    int differentUnshifted = 0;
    int contentPixels = 0;
    for (int y = 1; y < rest.height() - 2; ++y) {
        for (int x = 1; x < rest.width() - 2; ++x) {
            ASSERT_EQ(QColor(pressed.pixel(x + 1, y + 1)), QColor(rest.pixel(x, y))) << x << "," << y;
            differentUnshifted += pressed.pixel(x, y) != rest.pixel(x, y) ? 1 : 0;
            contentPixels += QColor(rest.pixel(x, y)) != Face(button) ? 1 : 0;
        }
    }
    EXPECT_GT(contentPixels, 100);
    EXPECT_GT(differentUnshifted, 50);
}

TEST(ImageButtonClassicLook, IconSitsThreePixelsFromLeftCentredAndCaptionCentredRightOfIt) {
    ButtonHost host(QStringLiteral("windows"));
    ASSERT_TRUE(host.Show());
    CThemedButton& button = host.Button();
    ASSERT_EQ(button.ImageSize(), QSize(32, 32));
    EXPECT_EQ(button.ImageRect(), QRect(3, (36 - 32) / 2, 32, 32));
    EXPECT_EQ(button.CaptionRect(), QRect(35, 0, 96 - 35, 36));

    const QImage image = RenderWidget(button);
    const QRect red = BoundingBox(image, image.rect(), IsStrongRed);
    ASSERT_FALSE(red.isNull());
    EXPECT_TRUE(button.ImageRect().contains(red))
        << red.x() << "," << red.y() << " " << red.width() << "x" << red.height();
    const QRect caption = BoundingBox(image, button.CaptionRect(), [](QColor c) { return c.lightness() < 128; });
    ASSERT_FALSE(caption.isNull());
    const QPoint wantedCentre = button.CaptionRect().center();
    EXPECT_LE(std::abs(caption.center().x() - wantedCentre.x()), 2);
    EXPECT_LE(std::abs(caption.center().y() - wantedCentre.y()), 3);

    QTest::mousePress(&button, Qt::LeftButton, {}, host.Centre());
    EXPECT_EQ(button.ImageRect(), QRect(4, 3, 32, 32));
    EXPECT_EQ(button.CaptionRect().topLeft(), QPoint(36, 1));
    QTest::mouseRelease(&button, Qt::LeftButton, {}, host.Centre());
}

TEST(ImageButtonClassicLook, IconWithoutCaptionIsCentred) {
    ButtonHost host(QStringLiteral("windows"), QString(), QString::fromLatin1(UpIcon));
    ASSERT_TRUE(host.Show());
    EXPECT_EQ(host.Button().ImageRect(), QRect((96 - 16) / 2, (36 - 16) / 2, 16, 16));
}

TEST(ImageButtonClassicLook, DisabledButtonShowsGreyIconAndEtchedCaption) {
    ButtonHost host(QStringLiteral("windows"));
    ASSERT_TRUE(host.Show());
    CThemedButton& button = host.Button();
    const QImage enabled = RenderWidget(button);
    button.setEnabled(false);
    const QImage disabled = RenderWidget(button);

    EXPECT_FALSE(BoundingBox(enabled, button.ImageRect(), IsStrongRed).isNull());
    EXPECT_TRUE(BoundingBox(disabled, button.ImageRect(), IsStrongRed).isNull());
    const QColor highlight = Highlight(button);
    const auto isHighlight = [&highlight](QColor c) { return c == highlight; };
    EXPECT_TRUE(BoundingBox(enabled, button.CaptionRect(), isHighlight).isNull());
    EXPECT_FALSE(BoundingBox(disabled, button.CaptionRect(), isHighlight).isNull());
}

// ---- Hover rules -----------------------------------------------------------------------------------------

TEST(ImageButtonHover, MovingOntoButtonWithMouseButtonHeldDoesNotLightIt) {
    ButtonHost host(QStringLiteral("windows"));
    ASSERT_TRUE(host.Show());
    CThemedButton& button = host.Button();
    const QPointF at(host.Centre());
    const QPointF global(button.mapToGlobal(host.Centre()));

    QMouseEvent heldMove(QEvent::MouseMove, at, global, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&button, &heldMove);
    EXPECT_FALSE(button.IsMouseOver());

    QMouseEvent freeMove(QEvent::MouseMove, at, global, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&button, &freeMove);
    EXPECT_TRUE(button.IsMouseOver());

    // Once lit, a move with the button held keeps it lit.
    QApplication::sendEvent(&button, &heldMove);
    EXPECT_TRUE(button.IsMouseOver());

    // Dragged off the button: the window under the pointer is not the button any more.
    QMouseEvent outside(QEvent::MouseMove, QPointF(200, 10), button.mapToGlobal(QPointF(200, 10)), Qt::NoButton,
                        Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&button, &outside);
    EXPECT_FALSE(button.IsMouseOver());
}

TEST(ImageButtonHover, HoverEndsOnLeavingLosingFocusAndDeactivation) {
    ButtonHost host(QStringLiteral("windows"));
    ASSERT_TRUE(host.Show());
    CThemedButton& button = host.Button();

    Hover(button, host.Centre());
    ASSERT_TRUE(button.IsMouseOver());
    Hover(host.Dialog(), Parking);
    EXPECT_FALSE(button.IsMouseOver());
    EXPECT_EQ(RenderWidget(button).pixel(0, 0), Face(button).rgb());

    Hover(button, host.Centre());
    button.setFocus();
    ASSERT_TRUE(button.IsMouseOver());
    host.Other().setFocus();
    EXPECT_FALSE(button.IsMouseOver());

    // The next move over the button lights it again.
    Hover(button, host.Centre() + QPoint(2, 1));
    ASSERT_TRUE(button.IsMouseOver());
    QDialog otherWindow;
    ASSERT_TRUE(ShowAndActivate(otherWindow));
    EXPECT_FALSE(button.IsMouseOver());
}

// ---- Clicks, default button, focus -------------------------------------------------------------------------

TEST(ImageButtonClicks, DoubleClickCountsAsTwoClicks) {
    ButtonHost host(QStringLiteral("windows"));
    ASSERT_TRUE(host.Show());
    CThemedButton& button = host.Button();
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    // What a window system reports for a double click: press, release, double-click, release.
    QTest::mouseClick(&button, Qt::LeftButton, {}, host.Centre());
    QTest::mouseDClick(&button, Qt::LeftButton, {}, host.Centre());
    QTest::mouseRelease(&button, Qt::LeftButton, {}, host.Centre());
    EXPECT_EQ(clicked.count(), 2);
}

class DefaultButtonDialog {
public:
    explicit DefaultButtonDialog(const CThemeHelper* theme) {
        dialog.resize(300, 120);
        edit = new QLineEdit(&dialog);
        edit->setGeometry(10, 10, 280, 24);
        ok = new CThemedButton(QStringLiteral("OK"), QStringLiteral(":/icons/ok.svg"), theme, &dialog);
        ok->setGeometry(10, 60, 120, 36);
        ok->setDefault(true);
        cancel = new CThemedButton(QStringLiteral("Cancel"), QString::fromLatin1(CancelIcon), theme, &dialog);
        cancel->setGeometry(150, 60, 120, 36);
        QObject::connect(ok, &QAbstractButton::clicked, &dialog, &QDialog::accept);
        QObject::connect(cancel, &QAbstractButton::clicked, &dialog, &QDialog::reject);
    }

    QDialog dialog;
    QLineEdit* edit = nullptr;
    CThemedButton* ok = nullptr;
    CThemedButton* cancel = nullptr;
};

TEST(ImageButtonDefault, EnterRunsTheButtonThatCarriesTheDefaultMark) {
    ScopedAppStyle style(QStringLiteral("windows"));
    CThemeHelper theme;
    {
        DefaultButtonDialog box(&theme);
        ASSERT_TRUE(ShowAndActivate(box.dialog));
        box.edit->setFocus();
        QSignalSpy okClicked(box.ok, &QAbstractButton::clicked);
        QTest::keyClick(box.edit, Qt::Key_Return);
        EXPECT_EQ(okClicked.count(), 1);
        EXPECT_EQ(box.dialog.result(), QDialog::Accepted);
    }
    {
        // The default mark follows the focus to another push button, and Enter runs that one.
        DefaultButtonDialog box(&theme);
        ASSERT_TRUE(ShowAndActivate(box.dialog));
        box.cancel->setFocus();
        EXPECT_TRUE(box.cancel->isDefault());
        EXPECT_FALSE(box.ok->isDefault());
        QSignalSpy okClicked(box.ok, &QAbstractButton::clicked);
        QSignalSpy cancelClicked(box.cancel, &QAbstractButton::clicked);
        QTest::keyClick(box.cancel, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_EQ(cancelClicked.count(), 1);
        EXPECT_EQ(okClicked.count(), 0);
        EXPECT_EQ(box.dialog.result(), QDialog::Rejected);
    }
}

TEST(ImageButtonFocus, DisabledButtonHandsFocusToNextTabStopOrItsParent) {
    ScopedAppStyle style(QStringLiteral("windows"));
    CThemeHelper theme;
    QDialog dialog;
    dialog.resize(300, 80);
    auto* first = new CThemedButton(QStringLiteral("Add"), QString(), &theme, &dialog);
    auto* second = new CThemedButton(QStringLiteral("Delete"), QString(), &theme, &dialog);
    auto* third = new CThemedButton(QStringLiteral("OK"), QString(), &theme, &dialog);
    first->setGeometry(10, 10, 80, 30);
    second->setGeometry(100, 10, 80, 30);
    third->setGeometry(190, 10, 80, 30);
    ASSERT_TRUE(ShowAndActivate(dialog));
    QTest::mouseMove(&dialog, QPoint(290, 70));

    second->setFocus();
    ASSERT_TRUE(second->hasFocus());
    Hover(*second, second->rect().center());
    ASSERT_TRUE(second->IsMouseOver());
    second->setEnabled(false);
    EXPECT_TRUE(third->hasFocus());
    EXPECT_FALSE(second->IsMouseOver());

    // With no other tab stop left the parent dialog takes the focus.
    first->setEnabled(false);
    third->setEnabled(false);
    EXPECT_EQ(QApplication::focusWidget(), &dialog);
}

// ---- Icons -------------------------------------------------------------------------------------------------

TEST(ImageButtonIcon, AssignIconTakesTheImageAtItsOwnSizeAndAnUnreadableOneLeavesNone) {
    CImageButton button(QStringLiteral("Up"), QString::fromLatin1(UpIcon));
    EXPECT_TRUE(button.HasImage());
    EXPECT_EQ(button.ImageSize(), QSize(16, 16));

    EXPECT_TRUE(button.AssignIcon(QString::fromLatin1(CancelIcon)));
    EXPECT_EQ(button.ImageSize(), QSize(32, 32));

    EXPECT_FALSE(button.AssignIcon(QStringLiteral(":/icons/no-such-icon.svg")));
    EXPECT_FALSE(button.HasImage());

    EXPECT_TRUE(button.AssignIcon(QString::fromLatin1(CancelIcon)));
    EXPECT_TRUE(button.AssignIcon(QString()));
    EXPECT_FALSE(button.HasImage());
}

TEST(ImageButtonIcon, EveryIconOfTheProgramLoadsAtItsSize) {
    const std::pair<const char*, int> icons[] = {
        {":/icons/app.svg", 32},         {":/icons/up.svg", 16},       {":/icons/export.svg", 16},
        {":/icons/cancel.svg", 32},      {":/icons/ok.svg", 32},       {":/icons/file.svg", 16},
        {":/icons/folder.svg", 16},      {":/icons/messages.svg", 16}, {":/icons/wechat.svg", 16},
        {":/icons/qq.svg", 16},          {":/icons/photos.svg", 16},   {":/icons/contacts.svg", 16},
        {":/icons/callhistory.svg", 16}, {":/icons/notes.svg", 16},
    };
    for (const auto& [path, size] : icons) {
        CImageButton button;
        ASSERT_TRUE(button.AssignIcon(QString::fromLatin1(path))) << path;
        EXPECT_EQ(button.ImageSize(), QSize(size, size)) << path;
        const QImage image = button.icon().pixmap(QSize(size, size)).toImage();
        const QRect drawn = BoundingBox(image, image.rect(), [](QColor c) { return c.alpha() > 0; });
        EXPECT_GT(drawn.width() * drawn.height(), size * size / 4) << path << " draws almost nothing";
    }
}

// ---- Visual styles -------------------------------------------------------------------------------------------

TEST(ThemeHelper, ClassicWindowsStyleMeansNoVisualStylesAndEveryOtherStyleMeansStyles) {
    const CThemeHelper theme;
    {
        ScopedAppStyle style(QStringLiteral("windows"));
        EXPECT_FALSE(theme.IsAppThemed());
    }
    {
        ScopedAppStyle style(QStringLiteral("fusion"));
        EXPECT_TRUE(theme.IsAppThemed());
    }
    EXPECT_FALSE(CThemeHelper::IsThemedStyle(nullptr));
    // A proxy answers as the style it wraps.
    QProxyStyle classicProxy(QStyleFactory::create(QStringLiteral("windows")));
    QProxyStyle fusionProxy(QStyleFactory::create(QStringLiteral("fusion")));
    EXPECT_FALSE(CThemeHelper::IsThemedStyle(&classicProxy));
    EXPECT_TRUE(CThemeHelper::IsThemedStyle(&fusionProxy));
}

TEST(ThemedButton, FlatEdgesAreDecidedWhenTheThemeIsGivenAndTheLookAtEveryPaint) {
    CThemeHelper theme;
    {
        ScopedAppStyle style(QStringLiteral("fusion"));
        CThemedButton button;
        EXPECT_FALSE(button.HasBorder());
        button.UseTheme(&theme);
        EXPECT_FALSE(button.HasBorder());
        EXPECT_TRUE(button.IsThemedLook());
        // Styles switched off afterwards: the flat look, still without edges.
        ScopedAppStyle classic(QStringLiteral("windows"));
        EXPECT_FALSE(button.IsThemedLook());
        EXPECT_FALSE(button.HasBorder());
    }
    {
        ScopedAppStyle style(QStringLiteral("windows"));
        CThemedButton button;
        button.UseTheme(&theme);
        EXPECT_TRUE(button.HasBorder());
        CThemedButton withoutTheme;
        withoutTheme.UseTheme(nullptr);
        EXPECT_TRUE(withoutTheme.HasBorder());
        EXPECT_FALSE(withoutTheme.IsThemedLook());
    }
}

// Renders the five states a themed button must tell apart: normal, hot, pressed, disabled, default/checked.
std::vector<QImage> ThemedStates(bool toolbarLook) {
    ButtonHost host(QStringLiteral("fusion"));
    CThemedButton& button = host.Button();
    button.UseToolbarLook(toolbarLook);
    button.SetBorder(true); // lets the toolbar look show the default button as checked
    button.setAutoDefault(false);
    EXPECT_TRUE(host.Show());
    host.Other().setFocus();
    std::vector<QImage> states;
    states.push_back(RenderWidget(button));
    Hover(button, host.Centre());
    states.push_back(RenderWidget(button));
    QTest::mousePress(&button, Qt::LeftButton, {}, host.Centre());
    states.push_back(RenderWidget(button));
    QTest::mouseRelease(&button, Qt::LeftButton, {}, host.Centre());
    Hover(host.Dialog(), Parking);
    button.setEnabled(false);
    states.push_back(RenderWidget(button));
    button.setEnabled(true);
    host.Other().setFocus();
    button.setDefault(true);
    states.push_back(RenderWidget(button));
    return states;
}

TEST(ThemedButton, PushAndToolbarLooksTellTheirFiveStatesApart) {
    for (const bool toolbarLook : {false, true}) {
        const std::vector<QImage> states = ThemedStates(toolbarLook);
        ASSERT_EQ(states.size(), 5U);
        for (std::size_t i = 0; i < states.size(); ++i) {
            for (std::size_t j = i + 1; j < states.size(); ++j) {
                EXPECT_NE(states[i], states[j]) << "toolbar look " << toolbarLook << ": states " << i << " and " << j;
            }
        }
    }
}

TEST(ThemedButton, ThemedLookDrawsNoFlatEdgeUnderThePointer) {
    ButtonHost host(QStringLiteral("fusion"));
    ASSERT_TRUE(host.Show());
    CThemedButton& button = host.Button();
    ASSERT_TRUE(button.IsThemedLook());
    Hover(button, host.Centre());
    const QImage themed = RenderWidget(button);
    // The classic raised edge would be a highlight line along the whole top.
    int highlightOnTop = 0;
    for (int x = 0; x < themed.width() - 1; ++x) {
        highlightOnTop += QColor(themed.pixel(x, 0)) == Highlight(button) ? 1 : 0;
    }
    EXPECT_LT(highlightOnTop, themed.width() - 1);
}

} // namespace
} // namespace marrowick
