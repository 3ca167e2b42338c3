#include "gui/app/AboutDlg.h"

#include "gui/app/MarrowickDlg.h"

#include "core/platform/LocalTime.h"
#include "gui/controls/DialogUnits.h"
#include "gui/controls/DialogWidgets.h"
#include "gui/controls/ImageButton.h"

#include <QDesktopServices>
#include <QFontMetrics>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QUrl>

#include <ctime>

namespace marrowick {
namespace {

constexpr auto RightsNotice = "Copyright (C) 2016-";
constexpr auto ContactText = "Contact us: help@marrowick.example";

// The year of the local clock now, as GetLocalTime would give it.
int CurrentLocalYear() {
    std::tm local{};
    if (!ToLocalTime(static_cast<std::int64_t>(std::time(nullptr)), local)) {
        return 1970;
    }
    return local.tm_year + 1900;
}

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("About Marrowick"));

    auto* icon = new QLabel(this);
    const QSize iconSize = DialogUnits(*this, 20, 20);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/app.svg")).pixmap(iconSize));
    icon->setFixedSize(iconSize);

    productLine_ = NewPlainLabel(ProductVersionText(), this);
    rightsLine_ = NewPlainLabel(
        QString::fromLatin1(RightsNotice) + QStringLiteral("%1").arg(CurrentLocalYear(), 4, 10, QChar(u'0')), this);
    contactLine_ = NewPlainLabel(QString::fromLatin1(ContactText), this);

    okButton_ = NewOkButton(&themeHelper_, this);
    okButton_->setFixedSize(DialogUnits(*this, 57, 16));
    connect(okButton_, &CThemedButton::clicked, this, &CAboutDlg::accept);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(DialogMargins(*this));
    layout->setHorizontalSpacing(DialogUnitsX(*this, 8));
    layout->setVerticalSpacing(DialogUnitsY(*this, 4));
    layout->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
    layout->addWidget(productLine_, 0, 1);
    layout->addWidget(rightsLine_, 1, 1);
    layout->addWidget(contactLine_, 2, 1);
    layout->addWidget(okButton_, 3, 1, Qt::AlignRight);
    layout->setColumnMinimumWidth(1, DialogUnitsX(*this, 158));
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

CAboutDlg::~CAboutDlg() = default;

QString ProductVersionText() {
    // The command line's --version shows the same version.
    return QString::fromLatin1(MainWindowTitle);
}

void OpenProductPage() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(ProductPageAddress)));
}

} // namespace marrowick
